#include "replay/replay_upload.hpp"

#include "replay/replay_test_support.hpp"

#include <chrono>
#include <cstdio>

namespace {

TEST(ReplayUpload, Base64IsStrictStandardPaddedBase64) {
    const std::string binary("\0\xFF\x10\x80", 4);
    const std::pair<std::string, std::string> good[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {binary, "AP8QgA=="}};
    for (const auto& [bytes, text] : good) {
        EXPECT_EQ(encodeBase64(bytes), text);
        std::string back, error;
        EXPECT_TRUE(decodeBase64(text, back, error)) << text << ": " << error;
        EXPECT_EQ(back, bytes);
    }
    for (const char* bad :
         {"Zg=", "Zm9v\n", "Zm 9v", "Z===", "Zh==", "Zm9=", "Zg==Zm9v", "Zm=v", "Zm9-", "===="}) {
        std::string back, error;
        EXPECT_FALSE(decodeBase64(bad, back, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_TRUE(back.empty()) << bad;
    }
}

// What the game sends after a long round of dense keyboard play comes back as it went, and fits an
// upload with room to spare.
TEST(ReplayUpload, ADenseHalfHourRoundPacksAndUnpacksWhole) {
    Replay replay = sampleReplay();
    replay.pauses.clear();
    replay.bot = false;
    replay.events.clear();
    std::uint32_t seed = 12345;
    std::int64_t time = 0;
    for (int i = 0; i < 36000; ++i) { // 30 minutes at 20 presses and releases a second
        seed = seed * 1664525u + 1013904223u;
        time += 25000 + static_cast<std::int64_t>(seed >> 16) % 50000; // 25 to 75 ms apart
        const std::uint32_t key = 'a' + (seed >> 8) % 10;
        replay.events.push_back(
            {time, i % 2 == 0 ? InputKind::Press : InputKind::Release, InputDevice::Key, 0, key, 0.0f, 0.0f});
    }
    replay.songEndUs = time + 1;
    std::string bytes, text, error;
    ASSERT_TRUE(encodeReplay(replay, bytes, error)) << error;
    ASSERT_TRUE(packReplay(bytes, text, error)) << error;
    std::printf("36000 events: file %zu bytes, packed text %zu bytes\n", bytes.size(), text.size());
    EXPECT_LT(text.size(), std::size_t(1) << 20);
    Replay back;
    std::string compressed;
    ASSERT_TRUE(unpackReplay(text, back, compressed, error)) << error;
    EXPECT_EQ(fieldsOf(back), fieldsOf(replay));
    EXPECT_EQ(encodeBase64(compressed), text);
}

TEST(ReplayUpload, RefusesWhatIsNotAPackedReplayAndStopsInflatingAtTheBound) {
    std::string fileBytes, compressed, error;
    ASSERT_TRUE(encodeReplay(sampleReplay(), fileBytes, error));
    ASSERT_TRUE(deflateBytes(fileBytes, compressed, error));
    std::string notReplay;
    ASSERT_TRUE(deflateBytes("not a replay", notReplay, error));
    const std::pair<std::string, const char*> cases[] = {
        {"!!!!", "the replay is not base64"},
        {encodeBase64(fileBytes), "the replay is not a zlib stream"},
        {encodeBase64(compressed.substr(0, compressed.size() - 5)), "the zlib stream is truncated"},
        {encodeBase64(compressed + "x"), "bytes follow the end of the zlib stream"},
        {encodeBase64(notReplay), "the replay cannot be read"},
        // 4 GB of zeros in 4 MB: refused at the bound, long before the end would be found missing.
        {encodeBase64(inflationBomb(4096)), "the replay inflates past 8388608 bytes"},
    };
    for (const auto& [text, reason] : cases) {
        const auto start = std::chrono::steady_clock::now();
        Replay replay;
        std::string kept;
        EXPECT_FALSE(unpackReplay(text, replay, kept, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_TRUE(replay.events.empty());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << reason;
    }
    std::string bytes;
    EXPECT_TRUE(inflateBounded(compressed, fileBytes.size(), bytes, error)) << error;
    EXPECT_FALSE(inflateBounded(compressed, fileBytes.size() - 1, bytes, error));
    EXPECT_TRUE(bytes.empty());
}

} // namespace
