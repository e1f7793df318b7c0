#include "replay/replay_file.hpp"

#include "capture.hpp"
#include "game/key_grid.hpp"
#include "replay/replay_test_support.hpp"
#include "temp_dir.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

namespace {

// Where the sample's fields lie in its file (docs/replay-format.md).
constexpr std::size_t kVersionAt = 4;
constexpr std::size_t kFlagsAt = 47;
constexpr std::size_t kPracticeSpeedAt = 130; // after "0.0.1" and the 14-byte level name
constexpr std::size_t kEventCountAt = 131;
constexpr std::size_t kFirstEventAt = 135;
constexpr std::size_t kEventBytes = 30;

std::string sampleBytes() {
    std::string bytes, error;
    EXPECT_TRUE(encodeReplay(sampleReplay(), bytes, error)) << error;
    return bytes;
}

TEST(ReplayFile, EveryFieldSurvivesTheFile) {
    TempDir folder;
    const std::string path = folder.file("round.vbr");
    std::string error;
    ASSERT_TRUE(writeReplayFile(path, sampleReplay(), error)) << error;
    Replay read;
    ASSERT_TRUE(readReplayFile(path, read, error)) << error;
    EXPECT_EQ(fieldsOf(read), fieldsOf(sampleReplay()));
    ASSERT_TRUE(writeReplayFile(path, practiceReplay(), error)) << error;
    ASSERT_TRUE(readReplayFile(path, read, error)) << error;
    EXPECT_EQ(fieldsOf(read), fieldsOf(practiceReplay()));
    ReplaySummary summary;
    ASSERT_TRUE(readReplaySummary(path, summary, error)) << error;
    EXPECT_TRUE(summary.practice && !summary.bot);

    Replay pointer = sampleReplay(); // the other input mode and bot flag, no events
    pointer = {
        pointer.levelName, pointer.levelHash, "1.2.3", ReplayInputMode::Pointer, 300, 240, 16384, 0, 0};
    ASSERT_TRUE(writeReplayFile(path, pointer, error)) << error;
    ASSERT_TRUE(readReplayFile(path, read, error)) << error;
    EXPECT_EQ(fieldsOf(read), fieldsOf(pointer));
}

// Damaged or foreign bytes, each an edit of a good file (resealed: with its checksum made to match
// again): each is refused with its own reason, and nothing of it is kept.
TEST(ReplayFile, RefusesBytesThatAreNotThisFormat) {
    constexpr std::size_t kAtEnd = SIZE_MAX;
    const struct {
        std::size_t at;
        std::uint64_t value;
        int width;
        bool reseal;
        const char* reason;
    } cases[] = {
        {0, 'X', 1, false, "not a Vibrelle replay"},
        {kVersionAt, 4, 2, false, "version 4, which this game does not read"},
        {kAtEnd, 0, 1, false, "1 bytes follow the end"},
        {kFirstEventAt, 0x41, 1, false, "checksum does not match"}, // was 0x40
        {kFlagsAt, 5, 1, false, "flags byte is 5"},
        {kFlagsAt, 3, 1, true, "practice flag and the practice speed (0 %) disagree"},
        {kPracticeSpeedAt, 75, 1, true, "practice flag and the practice speed (75 %) disagree"},
        {kEventCountAt, kMaxReplayEvents + 1, 4, false, "more than the 500000"},
        {kEventCountAt, 400000, 4, false, "truncated: it holds 400000 events but only"},
        {kFirstEventAt + kEventBytes, 900000, 8, true, "events out of order"}, // the second before the first
        {kFirstEventAt + 9, 9, 1, true, "device (9)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        std::string bytes = sampleBytes();
        const std::size_t at = c.at == kAtEnd ? bytes.size() : c.at;
        bytes.resize(std::max(bytes.size(), at + c.width));
        patch(bytes, at, c.value, c.width);
        Replay read = sampleReplay();
        std::string error;
        EXPECT_FALSE(decodeReplay(c.reseal ? resealed(bytes) : bytes, read, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_TRUE(read.events.empty() && read.levelName.empty());
    }
}

// Older versions still read: version 2 as a round in earnest at full speed; version 1 recorded the
// key a US layout prints, which reads as the grid's cell of that key.
TEST(ReplayFile, OlderVersionsStillRead) {
    Replay read;
    std::string error;
    ASSERT_TRUE(decodeReplay(versionTwoBytes(sampleReplay()), read, error)) << error;
    EXPECT_EQ(fieldsOf(read), fieldsOf(sampleReplay()));

    std::string bytes = versionTwoBytes(sampleReplay());
    patch(bytes, kVersionAt, 1, 2);
    patch(bytes, kFirstEventAt - 1 + 18, 'a', 4);
    patch(bytes, kFirstEventAt - 1 + kEventBytes + 18, 'p', 4); // no key of the grid
    ASSERT_TRUE(decodeReplay(resealed(bytes), read, error)) << error;
    EXPECT_EQ(read.events[0].key, cellOf(0, 1));
    EXPECT_EQ(read.events[1].key, kNoCell);
    EXPECT_EQ(read.events[4].key, 3u) << "a gamepad's button is no key";
}

TEST(ReplayFile, EveryShorterPrefixIsRefused) {
    const std::string bytes = sampleBytes();
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        Replay read;
        std::string error;
        ASSERT_FALSE(decodeReplay(std::string_view(bytes).substr(0, length), read, error)) << length;
        const bool said = error.find(length < 4 ? "not a Vibrelle replay" : "truncated") != std::string::npos;
        ASSERT_TRUE(said) << length << ": " << error;
    }
}

// The writer refuses what the reader would: a written file always reads back.
TEST(ReplayFile, TheWriterRefusesWhatTheReaderWould) {
    const Replay earnest = sampleReplay(), practice = practiceReplay();
    const std::tuple<const Replay*, std::function<void(Replay&)>, const char*> cases[] = {
        {&earnest, [](Replay& r) { r.levelName.assign(257, 'x'); }, "level name"},
        {&earnest, [](Replay& r) { r.levelName = "Caf\xE9"; }, "level name"}, // not UTF-8
        {&earnest, [](Replay& r) { r.result.highestLayer = 9; }, "highest layer 9 of 8"},
        {&earnest, [](Replay& r) { r.events[2].x = std::nanf(""); }, "finite"},
        {&earnest, [](Replay& r) { r.events[5].songTimeUs = kMaxReplaySongTimeUs + 1; }, "outside"},
        {&earnest, [](Replay& r) { r.events[6].x = 0.0f; }, "resizes the drawable area to 0x720"},
        {&earnest, [](Replay& r) { r.events[6].y = 720.5f; }, "resizes the drawable area to 1280x720.5"},
        {&earnest, [](Replay& r) { r.pauses[0].resumeUs = 2600000; }, "pause 0 resumes"},
        {&earnest, [](Replay& r) { r.pauses.clear(); }, "events out of order"}, // back without a pause
        {&earnest, [](Replay& r) { r.events[4].songTimeUs = 1300000; },
         "events out of order"}, // before the rewind
        {&earnest, [](Replay& r) { r.pauses[0].speedPercent = 75; }, "only a practice round may"},
        {&earnest, [](Replay& r) { r.practiceSpeedPercent = 45; }, "practice speed 45 %"},
        {&earnest, [](Replay& r) { r.loopJumps = practiceReplay().loopJumps; },
         "not a practice round has loop"},
        {&practice, [](Replay& r) { r.pauses[1].speedPercent = 73; }, "is no practice speed"},
        {&practice, [](Replay& r) { r.loopJumps[0].toUs = 200000; }, "must go back to the passage's start"},
        {&practice, [](Replay& r) { r.loopJumps[0].eventIndex = 8; }, "out of order with the round's"},
        {&practice, [](Replay& r) { r.loopJumps[0].eventIndex = 3; }, "events out of order"}, // 2.0 s, 1.5 s
    };
    for (const auto& [base, edit, reason] : cases) {
        SCOPED_TRACE(reason);
        Replay replay = *base;
        edit(replay);
        std::string bytes, error;
        EXPECT_FALSE(encodeReplay(replay, bytes, error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_TRUE(bytes.empty());
    }
}

// A huge file is refused by its size, before a byte of it is read (the file is sparse: 100 MB
// that take no room on disk, nor in memory unless read).
TEST(ReplayFile, AHugeFileIsRefusedByItsSize) {
    TempDir folder;
    const std::string path = folder.file("huge.vbr");
    writeText(path, sampleBytes());
    ASSERT_EQ(::truncate(path.c_str(), 100 * 1000 * 1000), 0);
    Replay read;
    std::string error;
    const std::string logged = errorsOf([&] { EXPECT_FALSE(readReplayFile(path, read, error)); });
    EXPECT_NE(error.find("the file is 100000000 bytes, more than the 16777216"), std::string::npos) << error;
    EXPECT_NE(error.find(path), std::string::npos);
    EXPECT_NE(logged.find(error), std::string::npos) << logged;

    // A named pipe with no writer would block a plain open for ever.
    ASSERT_EQ(::mkfifo(folder.file("pipe.vbr").c_str(), 0600), 0);
    errorsOf([&] { EXPECT_FALSE(readReplayFile(folder.file("pipe.vbr"), read, error)); });
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

} // namespace

TEST(ReplayFile, TheFuzzSeedsAreReplaysOfThisFormat) {
    for (const char* seed : {"no_events.vbr", "pauses_and_rewind.vbr", "practice_loop.vbr"}) {
        Replay read;
        std::string error;
        EXPECT_TRUE(readReplayFile(
            std::string(VIBRELLE_TEST_DATA "/../../fuzz/corpus/fuzz_replay_file/") + seed, read, error))
            << seed << ": " << error;
    }
}
