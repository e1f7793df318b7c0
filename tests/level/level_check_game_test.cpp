// A level read for checking rounds (replay/level_check.hpp) is the level the game loads: the same
// stems and charts, and the game's decoded loop length to the bit, for every shipped level and for
// stems of every format and rate (the longest here 4801 frames at 48 kHz, resampled). The shipped
// levels also load whole: the menu's list, every stem, a chart for every charted stem, and stems
// of equal length.
#include "audio/audio_system.hpp"
#include "capture.hpp"
#include "level/level_list.hpp"
#include "level/level_manifest.hpp"
#include "level/round_setup.hpp"
#include "render/render_system.hpp"
#include "replay/level_check.hpp"
#include "replay/level_hash.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

TEST(LevelCheckMatchesTheGame, EveryShippedLevelAndEveryStemFormat) {
    TempDir formats;
    for (const char* file : {"stem.wav", "stem.flac", "stem.ogg", "stem.mp3", "mono_22k.wav", "stem_48k.flac",
                             "stem_48k.ogg", "stem_22k.ogg"}) {
        std::filesystem::copy_file(std::string(VIBRELLE_TEST_DATA "/audio/") + file, formats.file(file));
    }
    std::filesystem::copy_file(VIBRELLE_TEST_DATA "/midi/format1_tempo_map.mid", formats.file("chart.mid"));
    writeText(formats.file("level.json"),
              R"({"songMetaData": [{"bpm": 100}], "stems": [{"file": "stem.wav", "midi": "chart.mid"},
                 {"file": "stem.flac"}, {"file": "stem.ogg"}, {"file": "stem.mp3", "midi": "chart.mid"},
                 {"file": "mono_22k.wav"}, {"file": "stem_48k.flac"}, {"file": "stem_48k.ogg"},
                 {"file": "stem_22k.ogg", "midi": "chart.mid"}, {"file": "ninth.wav"}]})");
    // Found as the game finds them from its working directory (assets/).
    std::vector<std::string> folders = {"levels", "levels/tutorialsong"};
    std::vector<LevelListEntry> levelList;
    EXPECT_EQ(stderrOf([&] { levelList = loadLevelList(); }), "")
        << "the shipped list must not fall back to the samples";
    ASSERT_EQ(levelList.size(), 3u);
    for (const LevelListEntry& entry : levelList) {
        EXPECT_GE(entry.difficulty, 1) << entry.name;
        folders.push_back("levels/" + entry.file);
    }
    const std::size_t shipped = folders.size();
    folders.insert(folders.end(), {VIBRELLE_TEST_DATA "/level/sub", formats.path().string()});
    for (std::size_t f = 0; f < folders.size(); ++f) {
        const std::string& folder = folders[f];
        SCOPED_TRACE(folder);
        AudioSystem audio;
        RenderState render;
        RoundSetup game;
        const std::string loadErrors =
            printedBy([&] {
                ASSERT_TRUE(audioInit(audio, AudioBackend::NullDriver));
                ASSERT_TRUE(loadLevelFromManifest(folder + "/level.json", audio, render));
                game = roundSetupOf(audio, 0, 0);
            }).err;
        if (f < shipped) {
            EXPECT_EQ(loadErrors, "");
            LevelDefinition level;
            ASSERT_TRUE(parseLevelManifest(folder + "/level.json", level));
            ASSERT_EQ(audio.stems.size(), std::min<std::size_t>(level.stems.size(), 8));
            for (std::size_t i = 0; i < audio.stems.size(); ++i) {
                const LoadedStem& stem = audio.stems[i];
                const bool charted = !level.stems[i].midi.empty() && level.stems[i].playsNotes;
                EXPECT_EQ(stem.chart.loaded, charted) << stem.name;
                EXPECT_TRUE(!charted || !stem.chart.notes.empty()) << stem.name;
                // Stems loop together only when they have exactly the same number of samples.
                EXPECT_EQ(stemFrames(stem), stemFrames(audio.stems[0])) << stem.name;
            }
        }
        stdoutOf([&] { audioShutdown(audio); });
        CheckedLevel checked;
        std::string error, hash;
        EXPECT_EQ(stdoutOf([&] { ASSERT_TRUE(readCheckedLevel(folder, "L", checked, error)) << error; }), "");
        EXPECT_EQ(checked.setup.loopLength, game.loopLength) << "to the bit";
        ASSERT_TRUE(levelHashOfFolder(folder, std::llround(game.loopLength * 1e6), hash, error));
        EXPECT_EQ(checked.hash, hash);
        ASSERT_EQ(checked.setup.stems.size(), game.stems.size());
        for (std::size_t i = 0; i < game.stems.size(); ++i) {
            const RoundStem &a = checked.setup.stems[i], &b = game.stems[i];
            EXPECT_EQ(a.name, b.name);
            ASSERT_EQ(a.notes.size(), b.notes.size()) << b.name;
            for (std::size_t n = 0; n < b.notes.size(); ++n) {
                const MidiNoteEvent &x = a.notes[n], &y = b.notes[n];
                EXPECT_TRUE(x.time == y.time && x.duration == y.duration && x.note == y.note &&
                            x.isNoteOn == y.isNoteOn && x.velocity == y.velocity && x.pan == y.pan)
                    << b.name << " note " << n;
            }
        }
    }
}
