#include "leaderboard/replay_download.hpp"

#include "base/file_io.hpp"
#include "base/json_text.hpp"
#include "base/log.hpp"
#include "base/percent_encoding.hpp"
#include "base/utf8.hpp"
#include "leaderboard/request_threads.hpp"
#include "replay/replay_file.hpp"
#include "replay/replay_store.hpp"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxServerErrorBytes = 160;

// Held across each save and prune: two downloads finishing together must not prune each other's file.
std::mutex& folderMutex() {
    static std::mutex* mutex = new std::mutex(); // outlives request threads abandoned at shut-down
    return *mutex;
}

// Held across each whole download: one at a time, as the screen offers one at a time.
std::mutex& downloadMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

// The "error" text of a refusal's JSON body, fit for one line on screen, or "".
std::string serverError(const std::string& body) {
    nlohmann::json reply;
    std::string ignored;
    if (!parseJsonText(body, reply, ignored) || !reply.is_object()) {
        return std::string();
    }
    const auto error = reply.find("error");
    if (error == reply.end() || !error->is_string()) {
        return std::string();
    }
    std::string text =
        withEachBadByteReplaced(cutToCharacters(error->get<std::string>(), kMaxServerErrorBytes));
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = ' ';
        }
    }
    return text;
}

struct DownloadedFile {
    fs::path path;
    fs::file_time_type written;
};

} // namespace

std::string downloadedReplayFolder(const std::string& dataFolder) {
    return (fs::path(dataFolder) / "downloaded").string();
}

std::string downloadedReplayFileName(const std::string& level, const std::string& player) {
    return replayLevelFolderName(level) + "--" + replayLevelFolderName(player) + ".vbr";
}

bool saveDownloadedReplay(const std::string& folder, const std::string& level, const std::string& player,
                          const std::string& bytes, std::string& path, std::string& error) {
    Replay replay;
    std::string reason;
    const bool read = decodeReplay(bytes, replay, reason);
    if (read && replay.levelName != level) {
        reason = "it is a replay of another level";
    }
    if (!read || replay.levelName != level) {
        logError(stderr, "Refusing the downloaded replay of %s by %s: %s", level.c_str(), player.c_str(),
                 reason.c_str());
        error = kReplayDownloadUnreadable;
        return false;
    }
    const std::lock_guard<std::mutex> lock(folderMutex());
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string target = (fs::path(folder) / downloadedReplayFileName(level, player)).string();
    if (ec || !replaceFileAtomically(target, bytes, reason)) {
        logError(stderr, "Cannot save the downloaded replay in %s: %s", folder.c_str(),
                 ec ? ec.message().c_str() : reason.c_str());
        error = "Cannot save the replay";
        return false;
    }
    path = target;
    pruneDownloadedReplays(folder, path);
    return true;
}

bool pruneDownloadedReplays(const std::string& folder, const std::string& keepPath) {
    std::vector<DownloadedFile> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        if (!it->is_regular_file(ignored) || it->is_symlink(ignored) || it->path().extension() != ".vbr") {
            continue;
        }
        ReplaySummary summary;
        std::string unread;
        const fs::file_time_type written = it->last_write_time(ignored);
        if (!ignored && readReplaySummary(it->path().string(), summary, unread)) {
            files.push_back({it->path(), written});
        }
    }
    std::sort(files.begin(), files.end(), [](const DownloadedFile& a, const DownloadedFile& b) {
        return a.written != b.written ? a.written > b.written : a.path > b.path;
    });
    // The file just saved counts among the kept ones whatever its time says.
    std::size_t room = kDownloadedReplaysKept - (keepPath.empty() ? 0 : 1);
    bool removedAll = true;
    for (const DownloadedFile& file : files) {
        if (file.path.string() == keepPath) {
            continue;
        }
        if (room > 0) {
            --room;
            continue;
        }
        if (!fs::remove(file.path, ec) && ec) {
            logError(stderr, "Cannot remove the old downloaded replay %s: %s", file.path.c_str(),
                     ec.message().c_str());
            removedAll = false;
        }
    }
    return removedAll;
}

ReplayDownload downloadReplay(const std::string& baseUrl, const std::string& level, const std::string& player,
                              const std::string& dataFolder, const HttpLimits& limits) {
    ReplayDownload result;
    result.level = level;
    result.player = player;
    HttpLimits capped = limits;
    capped.maxBodyBytes = kMaxDownloadedReplayBytes;
    capped.deadlineSeconds = kReplayDownloadDeadlineSeconds;
    const std::string url =
        baseUrl + "/replay?level=" + percentEncode(level) + "&player=" + percentEncode(player);
    HttpReply reply;
    if (!httpExchange(url, "GET", "", HttpCredentials{}, reply, capped)) {
        const std::string said = reply.status >= 400 ? serverError(reply.body) : std::string();
        result.error = said.empty() ? kReplayDownloadFailed : said;
        return result;
    }
    result.ok = saveDownloadedReplay(downloadedReplayFolder(dataFolder), level, player, reply.body,
                                     result.path, result.error);
    if (result.ok) {
        logMessage("Downloaded the replay of %s by %s to %s", level.c_str(), player.c_str(),
                   result.path.c_str());
    }
    return result;
}

void downloadReplayAsync(const std::string& level, const std::string& player, const std::string& dataFolder,
                         std::function<void(const ReplayDownload&)> callback) {
    startRequestThread([baseUrl = gLeaderboardClient.serverBaseUrl, limits = gLeaderboardClient.limits, level,
                        player, dataFolder, callback = std::move(callback)](CallbackGate& gate) {
        ReplayDownload result;
        {
            const std::lock_guard<std::mutex> lock(downloadMutex());
            result = downloadReplay(baseUrl, level, player, dataFolder, limits);
        }
        deliver(gate, [&] {
            if (callback) {
                callback(result);
            }
        });
    });
}
