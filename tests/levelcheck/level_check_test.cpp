// Levels read for checking rounds, linked without the rest of the game: a stem's length read from
// its file's header is the decoder's to the frame, and a level that cannot be read says why.
#include "audio/audio_decode.hpp"
#include "base/file_io.hpp"
#include "replay/level_check.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <filesystem>

TEST(LevelCheck, StemLengthsAreTheDecodersToTheFrameInEveryFormatAndRate) {
    const std::string audio = VIBRELLE_TEST_DATA "/audio/",
                      shipped = VIBRELLE_ASSETS "/levels/sunrise_groove/bass.ogg";
    // `cut` bytes off the end: a header that claims more than the file holds. `frames` 0: any.
    const struct {
        std::string file;
        std::size_t cut;
        bool decoded; // the whole file had to be decoded to know its length
        std::uint64_t frames;
    } cases[] = {
        {audio + "stem.wav", 0, false, 2205},
        {audio + "stem.flac", 0, false, 4410},
        {audio + "stem.ogg", 0, false, 4410},
        {audio + "stem.mp3", 0, true, 0},
        {audio + "mono_22k.wav", 0, false, 2204},
        {audio + "stem_48k.flac", 0, false, 4411},
        {audio + "stem_48k.ogg", 0, false, 4411},
        {audio + "stem_22k.ogg", 0, false, 4414},
        {shipped, 0, false, 0},
        {shipped, 5000, false, 0},
        {audio + "stem.wav", 1001, true, 0},
        {audio + "stem.flac", 300, true, 4096},
        {audio + "stem.flac", 3000, false, 0},
        {audio + "stem.ogg", 300, false, 0},
        {audio + "not_audio.wav", 0, false, 0},
        {audio + "wav_256_channels.wav", 0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " less " + std::to_string(c.cut) + " bytes");
        std::string bytes;
        ASSERT_TRUE(readWholeFile(c.file, bytes));
        bytes.resize(bytes.size() - c.cut);
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        DecodedAudio decoded;
        AudioLength measured;
        EXPECT_EQ(measureAudio(data, bytes.size(), measured), decodeAudio(data, bytes.size(), decoded));
        EXPECT_EQ(std::make_tuple(measured.frames, measured.channels, measured.decoded),
                  std::make_tuple(decoded.frames, decoded.channels, c.decoded));
        EXPECT_TRUE(c.frames == 0 || decoded.frames == c.frames) << decoded.frames;
    }
}

TEST(LevelCheck, ALevelThatCannotBeReadIsRefusedWithItsReason) {
    TempDir dir;
    const struct {
        const char* folder;
        const char* manifest; // nullptr: none; "/": a folder in its place
        const char* reason;
    } cases[] = {
        {"absent", nullptr, "level.json: No such file or directory"},
        {"folder", "/", "level.json: not a regular file"},
        {"not_json", "{\"stems\": [", "level.json: not a level manifest with stems"},
        {"stems_gone", R"({"stems": [{"file": "gone.ogg"}, {"file": "noise.wav"}]})",
         "level.json: none of its stems can be loaded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string folder = dir.file(c.folder);
        std::filesystem::create_directory(folder);
        std::string error;
        ASSERT_TRUE(replaceFileAtomically(folder + "/noise.wav", "RIFF, but no wave file", error));
        if (c.manifest != nullptr && std::string(c.manifest) == "/") {
            std::filesystem::create_directory(folder + "/level.json");
        } else if (c.manifest != nullptr) {
            ASSERT_TRUE(replaceFileAtomically(folder + "/level.json", c.manifest, error));
        }
        CheckedLevel level;
        EXPECT_FALSE(readCheckedLevel(folder, "Broken", level, error));
        EXPECT_EQ(error, folder + "/" + c.reason);
        EXPECT_TRUE(level.setup.stems.empty() && level.hash.empty());
    }
}
