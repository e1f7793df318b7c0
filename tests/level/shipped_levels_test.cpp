#include "audio/audio_system.hpp"
#include "level/level_manifest.hpp"
#include "render/render_system.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <string>
#include <vector>

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

// Every level the game ships, as the game finds them from its working directory (assets/).
std::vector<std::string> shippedManifests() {
    std::vector<std::string> manifests = {"levels/level.json", "levels/tutorialsong/level.json"};
    std::ifstream list("levels/levels.json");
    for (const auto& entry : nlohmann::json::parse(list)) {
        manifests.push_back("levels/" + entry.at("file").get<std::string>() + "/level.json");
    }
    return manifests;
}

TEST(ShippedLevels, EveryLevelLoadsWholeWithStemsOfEqualLength) {
    const std::vector<std::string> manifests = shippedManifests();
    ASSERT_GE(manifests.size(), 5u) << "the default level, the tutorial song and at least three packages";
    for (const std::string& path : manifests) {
        SCOPED_TRACE(path);
        LevelDefinition level;
        ASSERT_TRUE(parseLevelManifest(path, level));
        AudioSystem audio;
        RenderState render;
        CaptureStdout();
        CaptureStderr();
        ASSERT_TRUE(audioInit(audio, AudioBackend::NullDriver));
        const bool loaded = loadLevelFromManifest(path, audio, render);
        GetCapturedStdout();
        const std::string errors = GetCapturedStderr();
        EXPECT_TRUE(loaded);
        EXPECT_EQ(errors, "");
        ASSERT_EQ(audio.stems.size(), std::min<size_t>(level.stems.size(), 8));
        for (size_t i = 0; i < audio.stems.size(); ++i) {
            const LoadedStem& stem = audio.stems[i];
            const bool charted = !level.stems[i].midi.empty() && level.stems[i].playsNotes;
            EXPECT_EQ(stem.chart.loaded, charted) << stem.name;
            if (charted) {
                EXPECT_FALSE(stem.chart.notes.empty()) << stem.name;
            }
            // Stems loop together only when they have exactly the same number of samples.
            EXPECT_EQ(stem.source->frameCount(), audio.stems[0].source->frameCount()) << stem.name;
        }
        audioShutdown(audio);
    }
}

} // namespace
