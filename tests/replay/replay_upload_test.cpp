#include "replay/replay_upload.hpp"

#include "replay/replay_test_support.hpp"

TEST(ReplayUpload, Base64IsStrictStandardPaddedBase64) {
    const std::pair<std::string, std::string> good[] = {{"", ""},
                                                        {"f", "Zg=="},
                                                        {"fo", "Zm8="},
                                                        {"foo", "Zm9v"},
                                                        {std::string("\0\xFF\x10\x80", 4), "AP8QgA=="}};
    std::string back, error;
    for (const auto& [bytes, text] : good) {
        EXPECT_EQ(encodeBase64(bytes), text);
        EXPECT_TRUE(decodeBase64(text, back, error) && back == bytes) << text << ": " << error;
    }
    for (const char* bad : {"Zg=", "Zm9v\n", "Z===", "Zh==", "Zm9=", "Zg==Zm9v", "Zm=v", "Zm9-", "===="}) {
        EXPECT_FALSE(decodeBase64(bad, back, error) || back.size() > 0 || error.empty()) << bad;
    }
}

// A 30-minute round of dense keyboard play (20 presses and releases a second) comes back whole.
TEST(ReplayUpload, ADenseHalfHourRoundPacksAndUnpacksWhole) {
    Replay replay = sampleReplay();
    replay.pauses.clear();
    replay.events.clear();
    std::uint32_t seed = 12345;
    std::int64_t time = 0;
    for (int i = 0; i < 36000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        time += 25000 + (seed >> 16) % 50000; // 25 to 75 ms apart
        replay.events.push_back({time, InputKind(i % 2), InputDevice::Key, 0, 'a' + (seed >> 8) % 10, 0, 0});
    }
    replay.songEndUs = time + 1;
    std::string bytes, text, compressed, error;
    ASSERT_TRUE(encodeReplay(replay, bytes, error) && packReplay(bytes, text, error)) << error;
    std::printf("36000 events: file %zu bytes, packed text %zu bytes\n", bytes.size(), text.size());
    Replay back;
    ASSERT_TRUE(unpackReplay(text, back, compressed, error)) << error;
    EXPECT_EQ(fieldsOf(back), fieldsOf(replay));
    EXPECT_EQ(encodeBase64(compressed), text);
}

TEST(ReplayUpload, InflatingStopsAtTheBoundAndRefusesDamage) {
    std::string fileBytes, compressed, bytes, error;
    ASSERT_TRUE(encodeReplay(sampleReplay(), fileBytes, error) && deflateBytes(fileBytes, compressed, error));
    EXPECT_TRUE(inflateBounded(compressed, fileBytes.size(), bytes, error) && bytes == fileBytes) << error;
    const std::tuple<std::string, std::size_t, const char*> cases[] = {
        {compressed, fileBytes.size() - 1, "inflates past"},
        {compressed.substr(0, compressed.size() - 5), fileBytes.size(), "truncated"},
        {compressed + "x", fileBytes.size(), "bytes follow the end"},
        {fileBytes, fileBytes.size(), "damaged"},
    };
    for (const auto& [stream, limit, reason] : cases) {
        EXPECT_FALSE(inflateBounded(stream, limit, bytes, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_TRUE(bytes.empty()) << reason;
    }
}
