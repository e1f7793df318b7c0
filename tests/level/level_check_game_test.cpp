// A level read for checking rounds (level_check.hpp) is the level the game loads: the same stems
// and charts, and a loop length equal to the bit to the game's decoded one, for every shipped level
// and for stems of every format and rate.
#include "audio/audio_system.hpp"
#include "capture.hpp"
#include "replay/level_check.hpp"
#include "level/level_list.hpp"
#include "level/level_manifest.hpp"
#include "level/round_setup.hpp"
#include "render/render_system.hpp"
#include "replay/level_hash.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

TEST(LevelCheckMatchesTheGame, EveryShippedLevelAndEveryStemFormat) {
    // Stems of every format and rate side by side, the longest a resampled one (4801 frames at
    // 48 kHz); and an MP3 alone, so that the decoded stem sets the loop.
    TempDir formats, mp3;
    for (const char* file : {"stem.wav", "stem.flac", "stem.ogg", "stem.mp3", "mono_22k.wav", "stem_48k.flac",
                             "stem_48k.ogg", "stem_22k.ogg"}) {
        std::filesystem::copy_file(std::string(VIBRELLE_TEST_DATA "/audio/") + file, formats.file(file));
    }
    std::filesystem::copy_file(VIBRELLE_TEST_DATA "/midi/format1_tempo_map.mid", formats.file("chart.mid"));
    std::filesystem::copy_file(VIBRELLE_TEST_DATA "/audio/stem.mp3", mp3.file("stem.mp3"));
    writeText(formats.file("level.json"),
              R"({"songMetaData": [{"bpm": 100}], "stems": [
                 {"file": "stem.wav", "midi": "chart.mid"}, {"file": "stem.flac"}, {"file": "stem.ogg"},
                 {"file": "stem.mp3", "midi": "chart.mid"}, {"file": "mono_22k.wav"},
                 {"file": "stem_48k.flac"}, {"file": "stem_48k.ogg", "midi": "chart.mid"},
                 {"file": "stem_22k.ogg"}, {"file": "ninth.wav"}]})");
    writeText(mp3.file("level.json"), R"({"stems": [{"file": "stem.mp3"}]})");

    // Found as the game finds them from its working directory (assets/).
    std::vector<std::string> folders = {"levels", "levels/tutorialsong", VIBRELLE_TEST_DATA "/level/sub",
                                        formats.path().string(), mp3.path().string()};
    for (const LevelListEntry& entry : loadLevelList()) {
        folders.push_back("levels/" + entry.file);
    }
    for (const std::string& folder : folders) {
        SCOPED_TRACE(folder);
        AudioSystem audio;
        RenderState render;
        RoundSetup game;
        printedBy([&] {
            ASSERT_TRUE(audioInit(audio, AudioBackend::NullDriver));
            ASSERT_TRUE(loadLevelFromManifest(folder + "/level.json", audio, render));
            game = roundSetupOf(audio, 0, 0);
            audioShutdown(audio);
        });
        CheckedLevel checked;
        std::string error, hash;
        const std::string out =
            stdoutOf([&] { ASSERT_TRUE(readCheckedLevel(folder, "L", checked, error)) << error; });
        EXPECT_EQ(out, "") << "nothing on stdout";
        EXPECT_EQ(checked.setup.loopLength, game.loopLength) << "to the bit";
        EXPECT_TRUE(checked.setup.looping);
        ASSERT_TRUE(levelHashOfFolder(folder, std::llround(game.loopLength * 1e6), hash, error));
        EXPECT_EQ(checked.hash, hash);
        ASSERT_EQ(checked.setup.stems.size(), game.stems.size());
        for (std::size_t i = 0; i < game.stems.size(); ++i) {
            const RoundStem& a = checked.setup.stems[i];
            const RoundStem& b = game.stems[i];
            EXPECT_EQ(a.name, b.name);
            ASSERT_EQ(a.notes.size(), b.notes.size()) << b.name;
            for (std::size_t n = 0; n < b.notes.size(); ++n) {
                EXPECT_TRUE(
                    a.notes[n].time == b.notes[n].time && a.notes[n].duration == b.notes[n].duration &&
                    a.notes[n].note == b.notes[n].note && a.notes[n].isNoteOn == b.notes[n].isNoteOn &&
                    a.notes[n].velocity == b.notes[n].velocity && a.notes[n].pan == b.notes[n].pan)
                    << b.name << " note " << n;
            }
        }
    }
}
