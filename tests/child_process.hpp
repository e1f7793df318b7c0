#pragma once
// Programs run by the tests: started with their standard output and error in a file, read at any
// time, and stopped by their process id.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

// A program started with standard output and error going to an unlinked temporary file, so that
// it never blocks on a full pipe and what it printed can be read at any time.
class ChildProcess {
public:
    // `argv`, then `more` arguments.
    explicit ChildProcess(std::vector<std::string> argv, const std::vector<std::string>& more = {}) {
        argv.insert(argv.end(), more.begin(), more.end());
        std::string name = (std::filesystem::temp_directory_path() / "vibrelle-child-XXXXXX").string();
        fd_ = mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0) {
            throw std::runtime_error("cannot make an output file");
        }
        unlink(name.c_str());
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fd_, 1);
        posix_spawn_file_actions_adddup2(&actions, fd_, 2);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        const int failed = posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) {
            close(fd_);
            throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        signal(SIGKILL);
        wait(std::chrono::seconds(30));
        close(fd_);
    }

    // Waits until a whole line containing `piece` has been printed; the rest of that line after
    // `piece`, or "" when the program ended or `limit` passed first.
    std::string waitFor(const std::string& piece, std::chrono::seconds limit) {
        for (const auto end = std::chrono::steady_clock::now() + limit;
             !reaped(WNOHANG) && std::chrono::steady_clock::now() < end;) {
            const std::string text = everything();
            const std::size_t at = text.find(piece);
            if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
                return text.substr(at + piece.size(), text.find('\n', at) - at - piece.size());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return "";
    }

    // The program's process id while it runs; -1 once it has ended and been reaped.
    pid_t pid() const { return pid_; }

    void signal(int number) {
        if (pid_ > 0) {
            kill(pid_, number);
        }
    }

    // Waits for the program to end (killing it after `limit`); its exit status, or 128 + the
    // signal that ended it.
    int wait(std::chrono::seconds limit) {
        for (const auto end = std::chrono::steady_clock::now() + limit; !reaped(WNOHANG);) {
            if (std::chrono::steady_clock::now() > end) {
                signal(SIGKILL);
                reaped(0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return status_;
    }

    // What the program printed (the start and the end of it when long), for messages.
    std::string output() const {
        const std::string text = everything();
        const std::size_t keep = 4000;
        return text.size() <= 2 * keep ? text
                                       : text.substr(0, keep) + "\n...\n" + text.substr(text.size() - keep);
    }

private:
    std::string everything() const {
        std::string text;
        char buffer[65536];
        for (ssize_t length = 0;
             (length = pread(fd_, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;) {
            text.append(buffer, static_cast<std::size_t>(length));
        }
        return text;
    }
    // True when the program has ended (waitpid with `flags`); its status is then kept.
    bool reaped(int flags) {
        int raw = 0;
        if (pid_ <= 0) {
            return true;
        }
        if (waitpid(pid_, &raw, flags) != pid_) {
            return false;
        }
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        pid_ = -1;
        return true;
    }

    int fd_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
};

// Runs a program to its end (at most two minutes); its exit status, with its output in `output`.
inline int runCommand(const std::vector<std::string>& argv, std::string& output) {
    ChildProcess child(argv);
    const int status = child.wait(std::chrono::seconds(120));
    output = child.output();
    return status;
}
