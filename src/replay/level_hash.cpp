#include "replay/level_hash.hpp"

#include "audio/asset_path.hpp"
#include "base/file_io.hpp"
#include "base/log.hpp"
#include "level/level_manifest.hpp"
#include "replay/sha256.hpp"

#include <cerrno>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string littleEndian(std::uint64_t value) {
    std::string bytes;
    for (int i = 0; i < 8; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return bytes;
}

// The whole file at `path` when it is at most kMaxHashedFileBytes; a missing file, or one that is
// not a regular file, reads as empty when `missingIsEmpty`. The size is checked before anything is read.
bool readHashedFile(const std::string& path, bool missingIsEmpty, std::string& bytes, std::string& error) {
    bytes.clear();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (missingIsEmpty && (errno == ENOENT || errno == ENOTDIR)) {
            return true;
        }
        error = path + ": " + fileErrorText(errno);
        return false;
    }
    // The game plays a stem whose chart is not a file it can load (a folder, say) without notes.
    // Nothing else is opened: a named pipe would block the read for ever.
    if (!S_ISREG(info.st_mode)) {
        if (!missingIsEmpty) {
            error = path + ": not a regular file";
        }
        return missingIsEmpty;
    }
    if (static_cast<std::uint64_t>(info.st_size) > kMaxHashedFileBytes) {
        error = path + ": " + std::to_string(info.st_size) + " bytes, more than the " +
                std::to_string(kMaxHashedFileBytes) + " a level file may have";
        return false;
    }
    if (!readWholeFile(path, bytes) || bytes.size() > kMaxHashedFileBytes) {
        error = path + ": cannot be read";
        bytes.clear();
        return false;
    }
    return true;
}

} // namespace

bool levelHash(const std::string& manifestBytes, const std::vector<std::string>& chartBytes,
               std::int64_t loopLengthUs, std::string& hash) {
    // Every piece carries its length, so that bytes moved from one piece to the next change the hash.
    std::vector<std::string> lengths;
    lengths.reserve(chartBytes.size() + 3);
    lengths.push_back(littleEndian(manifestBytes.size()));
    lengths.push_back(littleEndian(chartBytes.size()));
    for (const std::string& chart : chartBytes) {
        lengths.push_back(littleEndian(chart.size()));
    }
    lengths.push_back(littleEndian(static_cast<std::uint64_t>(loopLengthUs)));
    std::vector<std::string_view> parts = {lengths[0], manifestBytes, lengths[1]};
    for (std::size_t i = 0; i < chartBytes.size(); ++i) {
        parts.push_back(lengths[i + 2]);
        parts.push_back(chartBytes[i]);
    }
    parts.push_back(lengths.back());
    Sha256Digest digest{};
    if (!sha256Of(parts, digest)) {
        return false;
    }
    hash = lowercaseHex(digest.data(), digest.size());
    return true;
}

bool levelHashOfFolder(const std::string& folder, std::int64_t loopLengthUs, std::string& hash,
                       std::string& error) {
    hash.clear();
    error.clear();
    const std::string base = folder.empty() ? std::string() : folder + "/";
    const std::string manifestPath = base + "level.json";
    // The manifest is read once: the bytes hashed are the bytes whose stems are taken.
    std::string manifest;
    LevelDefinition level;
    bool ok = readHashedFile(manifestPath, false, manifest, error);
    if (ok && !parseLevelManifestText(manifest, manifestPath, level)) {
        error = manifestPath + ": not a level manifest with stems";
        ok = false;
    }
    std::vector<std::string> charts(level.stems.size());
    for (std::size_t i = 0; ok && i < level.stems.size(); ++i) {
        if (!level.stems[i].midi.empty()) {
            ok = readHashedFile(cleanAssetPath(base + level.stems[i].midi), true, charts[i], error);
        }
    }
    if (ok && !levelHash(manifest, charts, loopLengthUs, hash)) {
        error = "OpenSSL could not compute the hash";
        ok = false;
    }
    if (!ok) {
        error = "Cannot hash level " + folder + ": " + error;
        logError(stderr, "%s", error.c_str());
        return false;
    }
    return true;
}
