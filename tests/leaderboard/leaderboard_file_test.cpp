#include "leaderboard/leaderboard_document.hpp"

#include "leaderboard/leaderboard_test_support.hpp"

#include <gtest/gtest.h>

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

json serverDocument(const std::string& player, std::int32_t score) {
    return {{"levels", {{{"name", "Shared"}, {"scores", {{{"player", player}, {"score", score}}}}}}}};
}

TEST(LeaderboardFileLock, ConcurrentSavesAndCacheMergesLoseNoUpdate) {
    TempFolder folder;
    const std::string path = folder.file("leaderboard.json");
    constexpr int kRounds = 15;
    const std::vector<std::string> savers = {"Ann", "Bob", "Cy", "Dee"};
    const std::vector<std::string> mergers = {"Web1", "Web2"};
    std::atomic<bool> writing{true};
    std::atomic<int> failedWrites{0};
    std::atomic<int> badReads{0};

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
    for (const std::string& player : mergers) {
        threads.emplace_back([&, player] {
            for (int i = 1; i <= kRounds; ++i) {
                json merged;
                failedWrites += !mergeIntoLeaderboardFile(path, serverDocument(player, i), merged);
            }
        });
    }
    // A reader sees a whole document or no file yet, never a half-written one.
    std::thread reader([&] {
        while (writing) {
            json document;
            std::string error;
            if (readLeaderboardFile(path, document, error) == LeaderboardRead::Corrupt) {
                ++badReads;
            }
        }
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    writing = false;
    reader.join();
    ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(failedWrites, 0);
    EXPECT_EQ(badReads, 0);
    json document;
    std::string error;
    ASSERT_EQ(readLeaderboardFile(path, document, error), LeaderboardRead::Ok) << error;
    for (const std::vector<std::string>* players : {&savers, &mergers}) {
        for (const std::string& player : *players) {
            EXPECT_EQ(findPlayerScore(document, "Shared", player), kRounds) << player;
        }
    }
    EXPECT_EQ(document["levels"][0]["scores"].size(), savers.size() + mergers.size());
}

// Runs in a forked child: saves ever higher scores until it is killed. The parent has no other
// thread at the fork, so the allocator and the file lock are free to use here.
[[noreturn]] void saveUntilKilled(const std::string& path, std::int32_t firstScore) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    json saved;
    for (std::int32_t score = firstScore;; ++score) {
        saveRoundResultTo(path, RoundResult{"Crash", "Child", score, 1, 1, 8, 1}, saved);
    }
}

TEST(LeaderboardFileCrash, AKilledSaveLeavesTheOldOrTheNewFile) {
    TempFolder folder;
    const std::string path = folder.file("leaderboard.json");
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMicroseconds(500, 8000);

    const auto saveParent = [&path](std::int32_t score) {
        return quietly([&] {
            json saved;
            return saveRoundResultTo(path, RoundResult{"Crash", "Parent", score, 0, 1, 8, 0}, saved);
        });
    };
    ASSERT_TRUE(saveParent(0));
    std::int32_t childBest = 0;
    for (int round = 1; round <= 20; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            saveUntilKilled(path, round * 100000);
        }
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
        // Whatever temporary file the kill left behind, the next save goes through.
        ASSERT_TRUE(saveParent(round));
    }
    EXPECT_GT(childBest, 0) << "no save of the child ever completed, so nothing was tested";
}

} // namespace
