#include "leaderboard/leaderboard_cache.hpp"
#include "leaderboard/leaderboard_test_support.hpp"

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using nlohmann::json;

namespace {

// Saves into the local file and cache updates from several threads lose no update.
TEST(LeaderboardFileLock, ConcurrentSavesAndCacheUpdatesLoseNoUpdate) {
    TempDir folder;
    const std::string path = folder.file("leaderboard.json"),
                      cachePath = folder.file("leaderboard_cache.json");
    constexpr int kRounds = 15;
    const std::vector<std::string> savers = {"Ann", "Bob", "Cy", "Dee"}, fetchers = {"Web1", "Web2"};
    std::atomic<int> failedWrites{0};

    // Captured so that sixty "saved" lines stay out of the test log; nothing asserts meanwhile.
    ::testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    for (const std::string& player : savers) {
        threads.emplace_back([&, player] {
            for (int i = 1; i <= kRounds; ++i) {
                json saved;
                failedWrites += !saveRoundResultTo(path, RoundResult{"Shared", player, i, i, 1, 8, i}, saved);
            }
        });
    }
    for (const std::string& level : fetchers) {
        threads.emplace_back([&, level] {
            for (int i = 1; i <= kRounds; ++i) {
                const json fetched = {{"name", level}, {"scores", {{{"player", "Zed"}, {"score", i}}}}};
                json cache;
                failedWrites += !updateLeaderboardCache(cachePath, {fetched}, cache);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(failedWrites, 0);
    json document;
    std::string error;
    ASSERT_EQ(readLeaderboardFile(path, document, error), LeaderboardRead::Ok) << error;
    for (const std::string& player : savers) {
        EXPECT_EQ(findPlayerScore(document, "Shared", player), kRounds) << player;
    }
    EXPECT_EQ(document["levels"][0]["scores"].size(), savers.size());
    const json cache = readLeaderboardCache(cachePath);
    for (const std::string& level : fetchers) {
        EXPECT_EQ(findPlayerScore(cache, level, "Zed"), kRounds) << level;
    }
}

// A child saving ever higher scores is killed at a random moment: the file holds the old document
// or the new one, and whatever temporary file the kill left behind, the next save goes through.
TEST(LeaderboardFileCrash, AKilledSaveLeavesTheOldOrTheNewFile) {
    TempDir folder;
    const std::string path = folder.file("leaderboard.json");
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMicroseconds(500, 8000);
    const auto save = [&path](const char* player, std::int32_t score) {
        json saved;
        return saveRoundResultTo(path, RoundResult{"Crash", player, score, 0, 1, 8, 0}, saved);
    };
    ASSERT_TRUE(quietly([&] { return save("Parent", 0); }));
    std::int32_t childBest = 0;
    for (int round = 1; round <= 20; ++round) {
        // The child says when its first save is done. On a loaded machine it may not run at all
        // before a kill that comes a few milliseconds after the fork, so every other round waits
        // for that word first: then some kills surely fall on later saves, the others may fall on
        // the first.
        int saved[2];
        ASSERT_EQ(::pipe(saved), 0);
        // The parent has no other thread at the fork, so the allocator and the file lock are free.
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(saved[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            for (std::int32_t score = round * 100000;; ++score) {
                save("Child", score);
                if (saved[1] >= 0) {
                    const char done = 1;
                    (void)!::write(saved[1], &done, 1);
                    ::close(saved[1]);
                    saved[1] = -1;
                }
            }
        }
        ::close(saved[1]);
        if (round % 2 == 1) {
            char done = 0;
            (void)!::read(saved[0], &done, 1); // 0 bytes if the child died first: the checks below say so
        }
        ::close(saved[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        json document;
        std::string error;
        ASSERT_EQ(readLeaderboardFile(path, document, error), LeaderboardRead::Ok)
            << "round " << round << error;
        EXPECT_EQ(findPlayerScore(document, "Crash", "Parent"), round - 1) << "round " << round;
        const std::int32_t childScore = findPlayerScore(document, "Crash", "Child");
        EXPECT_GE(childScore, childBest) << "round " << round;
        childBest = childScore;
        ASSERT_TRUE(quietly([&] { return save("Parent", round); }));
    }
    EXPECT_GT(childBest, 0) << "no save of the child ever completed, so nothing was tested";
}

} // namespace
