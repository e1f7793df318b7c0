#include "base/file_io.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// strerror is not thread-safe; strerror_r comes in a GNU flavour (returns the text) and an XSI
// one (fills the buffer), and these overloads accept whichever the C library declares.
[[maybe_unused]] const char* errorTextFrom(const char* text, const char*) { return text; }
[[maybe_unused]] const char* errorTextFrom(int, const char* buffer) { return buffer; }

} // namespace

std::string fileErrorText(int error) {
    char buffer[256] = "unknown error";
    return errorTextFrom(strerror_r(error, buffer, sizeof buffer), buffer);
}

namespace {

std::string failure(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + fileErrorText(error);
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Makes a finished rename durable. Best effort: the new file is already in place, and a
// file system that cannot sync folders still renames atomically.
void syncFolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool replaceFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    error.clear();
    // The name is unique to this process (pid) and call (counter). A file already there can only
    // be left over from a killed process that had the same pid; it is stepped over, not reused.
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        error = failure("cannot create", temporary, errno);
        return false;
    }
    // Keep the permissions of the file being replaced.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
    }
    const bool written = writeAll(fd, text);
    const int writeErrno = errno;
    const bool synced = written && ::fsync(fd) == 0;
    const int syncErrno = errno;
    const bool closed = ::close(fd) == 0;
    const int closeErrno = errno;
    if (!written || !synced || !closed) {
        error = !written  ? failure("cannot write", temporary, writeErrno)
                : !synced ? failure("cannot sync", temporary, syncErrno)
                          : failure("cannot close", temporary, closeErrno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = failure("cannot replace", path, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    syncFolderOf(path);
    return true;
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool readWholeFile(const std::string& path, std::string& text) {
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            // A folder, or an I/O error: nothing usable to read.
            ::close(fd);
            text.clear();
            return false;
        }
    }
    ::close(fd);
    return true;
}
