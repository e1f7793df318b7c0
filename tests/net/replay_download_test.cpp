// Another player's replay downloaded from a loopback server: a good one is saved apart from the
// player's own replays, a refusal or a bad body is reported and leaves nothing behind, and the
// folder keeps only the newest downloads.
#include "leaderboard/replay_download.hpp"
#include "net_test_support.hpp"
#include "replay/replay_test_support.hpp"

#include <filesystem>
#include <fstream>

using namespace nettest;
namespace fs = std::filesystem;

namespace {

std::string replayBytes(const std::string& level) {
    Replay replay = sampleReplay();
    replay.levelName = level;
    std::string bytes, error;
    EXPECT_TRUE(encodeReplay(replay, bytes, error)) << error;
    return bytes;
}

std::size_t filesIn(const fs::path& folder) {
    std::error_code ec;
    std::size_t count = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        ++count;
    }
    return count;
}

TEST(ReplayDownload, SavesAReplayOfTheLevelAndRefusesAnythingElse) {
    const std::string good = replayBytes("Neon Drive");
    struct Case {
        int status;
        std::string body;
        std::string error; // "" for a download that is saved
    };
    const Case cases[] = {
        {200, good, ""},
        {200, good + std::string(kMaxDownloadedReplayBytes, 'x'), kReplayDownloadFailed}, // over 8 MB
        {200, good.substr(0, good.size() / 2), kReplayDownloadUnreadable},
        {200, "<html>not a replay</html>", kReplayDownloadUnreadable},
        {200, replayBytes("Other Level"), kReplayDownloadUnreadable},
        {404, R"({"success": false, "error": "no verified replay for that entry"})",
         "no verified replay for that entry"},
        {400, "{\"error\": \"bad\\nname\\u0007\"}", "bad name "},
        {404, "not json", kReplayDownloadFailed},
        {500, R"({"error": "a 5xx body is not read"})", kReplayDownloadFailed},
    };
    std::mutex mutex;
    const Case* current = nullptr;
    std::vector<std::pair<std::string, std::string>> asked; // (level, player) as the server reads them
    TestServer server;
    server.on("GET", "/api/replay", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex);
        asked.emplace_back(req.get_param_value("level"), req.get_param_value("player"));
        res.status = current->status;
        res.set_content(current->body, "application/octet-stream");
    });
    server.start();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.body.substr(0, 60));
        {
            std::lock_guard<std::mutex> lock(mutex);
            current = &c;
        }
        TempDir data;
        ReplayDownload result;
        printedBy([&] {
            result = downloadReplay(server.url("/api"), "Neon Drive", "Zo\u00EB+1 &a=b", data.path().string(),
                                    HttpLimits{3, 6.0});
        });
        EXPECT_EQ(result.ok, c.error.empty());
        EXPECT_EQ(result.error, c.error);
        const fs::path folder = data.path() / "downloaded";
        if (result.ok) {
            EXPECT_EQ(fs::path(result.path).parent_path(), folder);
            EXPECT_EQ(readText(result.path), good);
        } else {
            EXPECT_EQ(filesIn(folder), 0u) << "nothing is kept of a refused download";
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(asked.at(0), std::make_pair(std::string("Neon Drive"), std::string("Zo\u00EB+1 &a=b")));
    }

    ClosedPort closed;
    TempDir data;
    ReplayDownload refused;
    printedBy([&] {
        refused =
            downloadReplay(closed.url("/api"), "Neon Drive", "Ann", data.path().string(), HttpLimits{3, 6.0});
    });
    EXPECT_EQ(refused.error, kReplayDownloadFailed);
}

// Twenty-two older downloads, a note and a file that is not a replay: a new download keeps itself and
// the nineteen newest, and leaves the other files alone; the same entry again replaces its file.
TEST(ReplayDownload, KeepsTheNewestDownloadsOnly) {
    TempDir data;
    const fs::path folder = data.path();
    const std::string bytes = replayBytes("Neon Drive");
    const auto now = fs::file_time_type::clock::now();
    for (int i = 0; i < 22; ++i) {
        const fs::path path = folder / ("old-" + std::to_string(i) + ".vbr");
        std::ofstream(path, std::ios::binary) << bytes;
        fs::last_write_time(path, now - std::chrono::hours(100 - i));
    }
    std::ofstream(folder / "notes.txt") << "mine";
    std::ofstream(folder / "junk.vbr") << "not a replay";
    std::string path, error;
    ASSERT_TRUE(saveDownloadedReplay(folder.string(), "Neon Drive", "Ann", bytes, path, error)) << error;
    for (int i = 0; i < 22; ++i) {
        EXPECT_EQ(fs::exists(folder / ("old-" + std::to_string(i) + ".vbr")), i >= 3) << i;
    }
    EXPECT_TRUE(fs::exists(path) && fs::exists(folder / "notes.txt") && fs::exists(folder / "junk.vbr"));
    std::string again;
    ASSERT_TRUE(saveDownloadedReplay(folder.string(), "Neon Drive", "Ann", bytes, again, error)) << error;
    EXPECT_EQ(again, path);
    EXPECT_EQ(filesIn(folder), 22u) << "20 replays, the note and the stranger";
}

} // namespace
