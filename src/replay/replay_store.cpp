#include "replay/replay_store.hpp"

#include "base/log.hpp"
#include "base/utf8.hpp"
#include "replay/sha256.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kReplayExtension = ".vbr";

bool keptInFolderName(char32_t codePoint) {
    if (codePoint < 0x80) {
        return (codePoint >= '0' && codePoint <= '9') || (codePoint >= 'a' && codePoint <= 'z') ||
               (codePoint >= 'A' && codePoint <= 'Z') || codePoint == '-' || codePoint == '_';
    }
    switch (utf8proc_category(static_cast<utf8proc_int32_t>(codePoint))) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
        return true;
    default:
        return false;
    }
}

bool isReplayFile(const fs::directory_entry& entry) {
    std::error_code ignored;
    return entry.is_regular_file(ignored) && entry.path().extension() == kReplayExtension;
}

// The replays in one folder, as their summaries read (unreadable ones left out).
void collectReplays(const fs::path& folder, std::vector<StoredReplay>& found) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!isReplayFile(*it)) {
            continue;
        }
        StoredReplay stored;
        stored.path = it->path().string();
        std::string ignored;
        if (readReplaySummary(stored.path, stored.summary, ignored)) {
            found.push_back(std::move(stored));
        }
    }
}

bool laterEnd(const StoredReplay& a, const StoredReplay& b) {
    if (a.summary.endedAtMs != b.summary.endedAtMs) {
        return a.summary.endedAtMs > b.summary.endedAtMs;
    }
    return a.path > b.path;
}

} // namespace

std::string replayLevelFolderName(const std::string& levelName) {
    std::string safe;
    for (std::size_t at = 0; at < levelName.size();) {
        char32_t codePoint = 0;
        const std::size_t length = utf8SequenceAt(levelName, at, codePoint);
        const bool kept = length > 0 && keptInFolderName(codePoint);
        const std::size_t taken = kept ? length : 1;
        if (safe.size() + taken > kMaxReplayFolderNameBytes) {
            break;
        }
        if (kept) {
            safe.append(levelName, at, length);
        } else {
            safe += '_';
        }
        // A bad byte stands alone; a well-formed character that is not kept is one '_'.
        at += length > 0 ? length : 1;
    }
    if (safe.empty()) {
        safe = "level";
    }
    Sha256Digest digest{};
    if (!sha256Of({levelName}, digest)) {
        digest.fill(0); // OpenSSL failing to allocate: the cleaned name alone still makes a safe folder
    }
    return safe + "-" + lowercaseHex(digest.data(), 6);
}

std::string replayLevelFolder(const std::string& dataFolder, const std::string& levelName) {
    return (fs::path(dataFolder) / "replays" / replayLevelFolderName(levelName)).string();
}

std::string replayFileName(const Replay& replay) {
    const std::time_t seconds = static_cast<std::time_t>(replay.startedAtMs / 1000);
    std::tm utc{};
    char stamp[32] = "00000000-000000";
    if (gmtime_r(&seconds, &utc) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    }
    return std::string(stamp) + "-" + std::to_string(replay.result.score) + kReplayExtension;
}

bool saveReplay(const std::string& dataFolder, const Replay& replay, std::string& path, std::string& error) {
    path.clear();
    if (!checkReplay(replay, error)) {
        error = "Cannot save the replay: " + error;
        logError(stderr, "%s", error.c_str());
        return false;
    }
    const fs::path folder = replayLevelFolder(dataFolder, replay.levelName);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "Cannot create the replay folder " + folder.string() + ": " + ec.message();
        logError(stderr, "%s", error.c_str());
        return false;
    }
    const std::string name = replayFileName(replay);
    const std::string stem = name.substr(0, name.size() - std::string(kReplayExtension).size());
    std::string candidate = (folder / name).string();
    for (int n = 2; fs::exists(fs::symlink_status(candidate, ec)); ++n) {
        if (n > 1000) {
            error = "Cannot save the replay: every name for it in " + folder.string() + " is taken";
            logError(stderr, "%s", error.c_str());
            return false;
        }
        candidate = (folder / (stem + "-" + std::to_string(n) + kReplayExtension)).string();
    }
    if (!writeReplayFile(candidate, replay, error)) {
        return false;
    }
    path = candidate;
    pruneReplays(dataFolder, path);
    return true;
}

std::vector<StoredReplay> listReplays(const std::string& dataFolder, const std::string& levelName) {
    std::vector<StoredReplay> found;
    collectReplays(replayLevelFolder(dataFolder, levelName), found);
    std::sort(found.begin(), found.end(), laterEnd);
    return found;
}

std::string findReplayFor(const std::string& dataFolder, const ReplayEntry& entry) {
    std::vector<StoredReplay> found;
    collectReplays(replayLevelFolder(dataFolder, entry.levelName), found);
    const StoredReplay* best = nullptr;
    for (const StoredReplay& stored : found) {
        const ReplaySummary& summary = stored.summary;
        const std::int64_t endSeconds = summary.songEndUs / 1000000; // truncated, as the entry's time
        if (summary.bot || summary.practice || summary.score != entry.score ||
            summary.highestCombo != entry.highestCombo || endSeconds < std::int64_t{entry.timeSeconds} - 1 ||
            endSeconds > std::int64_t{entry.timeSeconds} + 1) {
            continue;
        }
        if (best == nullptr || summary.startedAtMs < best->summary.startedAtMs ||
            (summary.startedAtMs == best->summary.startedAtMs && stored.path < best->path)) {
            best = &stored;
        }
    }
    return best != nullptr ? best->path : std::string();
}

bool pruneReplays(const std::string& dataFolder, const std::string& keepPath) {
    std::map<std::string, std::vector<StoredReplay>> byLevel;
    std::vector<StoredReplay> all;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(dataFolder) / "replays", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code ignored;
        // A link to a folder elsewhere is not the store's to prune.
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            std::vector<StoredReplay>& level = byLevel[it->path().string()];
            collectReplays(it->path(), level);
            all.insert(all.end(), level.begin(), level.end());
        }
    }
    std::set<std::string> kept = {keepPath};
    for (auto& [folder, replays] : byLevel) {
        std::sort(replays.begin(), replays.end(), [](const StoredReplay& a, const StoredReplay& b) {
            return a.summary.score != b.summary.score ? a.summary.score > b.summary.score : laterEnd(a, b);
        });
        // A practice round's score is no best: those are kept only among the latest rounds.
        std::size_t best = 0;
        for (std::size_t i = 0; i < replays.size() && best < kBestReplaysKeptPerLevel; ++i) {
            if (!replays[i].summary.practice) {
                kept.insert(replays[i].path);
                ++best;
            }
        }
    }
    std::sort(all.begin(), all.end(), laterEnd);
    for (std::size_t i = 0; i < all.size() && i < kLatestReplaysKept; ++i) {
        kept.insert(all[i].path);
    }
    bool removedAll = true;
    for (const StoredReplay& replay : all) {
        if (kept.count(replay.path) == 0 && !fs::remove(replay.path, ec) && ec) {
            logError(stderr, "Cannot remove the old replay %s: %s", replay.path.c_str(),
                     ec.message().c_str());
            removedAll = false;
        }
    }
    return removedAll;
}
