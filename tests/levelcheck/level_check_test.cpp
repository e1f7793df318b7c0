// Levels read for checking rounds, linked without the rest of the game: a stem's length read from
// its file's header is the decoder's to the frame, and a level that cannot be read is refused with
// its reason.
#include "audio/audio_decode.hpp"
#include "base/file_io.hpp"
#include "replay/level_check.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

void writeFile(const std::string& path, const std::string& text) {
    std::string error;
    ASSERT_TRUE(replaceFileAtomically(path, text, error)) << error;
}

} // namespace

TEST(LevelCheck, StemLengthsAreTheDecodersToTheFrameInEveryFormatAndRate) {
    // `cut` bytes are taken off the end: a header that claims more than the file holds.
    const std::string audio = VIBRELLE_TEST_DATA "/audio/";
    const std::string shipped = VIBRELLE_ASSETS "/levels/sunrise_groove/bass.ogg";
    const struct {
        std::string file;
        std::size_t cut;
        bool decoded; // the whole file had to be decoded to know its length
    } cases[] = {
        {audio + "stem.wav", 0, false},
        {audio + "stem.flac", 0, false},
        {audio + "stem.ogg", 0, false},
        {audio + "stem.mp3", 0, true},
        {audio + "mono_22k.wav", 0, false},
        {audio + "stem_48k.flac", 0, false},
        {audio + "stem_48k.ogg", 0, false},
        {audio + "stem_22k.ogg", 0, false},
        {shipped, 0, false},
        {audio + "stem.wav", 1001, true},
        {audio + "stem.flac", 300, true},
        {shipped, 5000, false},
        {audio + "stem.flac", 3000, false},
        {audio + "stem.ogg", 300, false},
        {audio + "not_audio.wav", 0, false},
        {audio + "wav_256_channels.wav", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " less " + std::to_string(c.cut) + " bytes");
        std::string bytes;
        ASSERT_TRUE(readWholeFile(c.file, bytes));
        ASSERT_GT(bytes.size(), c.cut);
        bytes.resize(bytes.size() - c.cut);
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        DecodedAudio decoded;
        AudioLength measured;
        const AudioResult want = decodeAudio(data, bytes.size(), decoded);
        EXPECT_EQ(measureAudio(data, bytes.size(), measured), want);
        EXPECT_EQ(measured.frames, decoded.frames);
        EXPECT_EQ(measured.channels, decoded.channels);
        EXPECT_EQ(measured.decoded, c.decoded);
    }
    // What the game's loop length is for a resampled stem: 4801 frames at 48 kHz play as 4411.
    DecodedAudio decoded;
    std::string bytes;
    ASSERT_TRUE(readWholeFile(audio + "stem_48k.ogg", bytes));
    ASSERT_EQ(decodeAudio(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), decoded),
              AudioResult::Ok);
    EXPECT_EQ(decoded.frames, 4411u);
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
        {"empty", "", "level.json: empty file"},
        {"not_json", "{\"stems\": [", "level.json: not a level manifest with stems"},
        {"no_stems", "{\"stems\": []}", "level.json: not a level manifest with stems"},
        {"stems_gone", R"({"stems": [{"file": "gone.ogg"}, {"file": "noise.wav"}]})",
         "level.json: none of its stems can be loaded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string folder = dir.file(c.folder);
        std::filesystem::create_directory(folder);
        writeFile(folder + "/noise.wav", "RIFF this is not a wave file at all");
        if (c.manifest != nullptr && std::string(c.manifest) == "/") {
            std::filesystem::create_directory(folder + "/level.json");
        } else if (c.manifest != nullptr) {
            writeFile(folder + "/level.json", c.manifest);
        }
        CheckedLevel level;
        std::string error;
        EXPECT_FALSE(readCheckedLevel(folder, "Broken", level, error));
        EXPECT_EQ(error, folder + "/" + c.reason);
        EXPECT_TRUE(level.setup.stems.empty());
        EXPECT_TRUE(level.hash.empty());
    }
}
