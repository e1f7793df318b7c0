#include "audio/audio_system.hpp"
#include "capture.hpp"
#include "level/level_list.hpp"
#include "level/level_manifest.hpp"
#include "render/render_system.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every level the game ships, found as the game finds them from its working directory (assets/):
// the default level, the tutorial song, and the menu's list read by the game's own reader.
TEST(ShippedLevels, TheListAndEveryLevelLoadWholeWithStemsOfEqualLength) {
    std::vector<LevelListEntry> levelList;
    EXPECT_EQ(stderrOf([&] { levelList = loadLevelList(); }), "")
        << "the shipped list must not fall back to the samples";
    ASSERT_EQ(levelList.size(), 3u);
    std::vector<std::string> manifests = {"levels/level.json", "levels/tutorialsong/level.json"};
    for (const LevelListEntry& entry : levelList) {
        EXPECT_GE(entry.difficulty, 1) << entry.name;
        manifests.push_back("levels/" + entry.file + "/level.json");
    }
    for (const std::string& path : manifests) {
        SCOPED_TRACE(path);
        LevelDefinition level;
        ASSERT_TRUE(parseLevelManifest(path, level));
        AudioSystem audio;
        RenderState render;
        bool loaded = false;
        EXPECT_EQ(printedBy([&] {
                      ASSERT_TRUE(audioInit(audio, AudioBackend::NullDriver));
                      loaded = loadLevelFromManifest(path, audio, render);
                  }).err,
                  "");
        EXPECT_TRUE(loaded);
        ASSERT_EQ(audio.stems.size(), std::min<size_t>(level.stems.size(), 8));
        for (size_t i = 0; i < audio.stems.size(); ++i) {
            const LoadedStem& stem = audio.stems[i];
            const bool charted = !level.stems[i].midi.empty() && level.stems[i].playsNotes;
            EXPECT_EQ(stem.chart.loaded, charted) << stem.name;
            EXPECT_TRUE(!charted || !stem.chart.notes.empty()) << stem.name;
            // Stems loop together only when they have exactly the same number of samples.
            EXPECT_EQ(stem.source->frameCount(), audio.stems[0].source->frameCount()) << stem.name;
        }
        audioShutdown(audio);
    }
}

} // namespace
