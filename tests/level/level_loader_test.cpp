#include "audio/audio_system.hpp"
#include "capture.hpp"
#include "level/level_manifest.hpp"
#include "level/level_package.hpp"
#include "render/render_system.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kDir = VIBRELLE_TEST_DATA "/level/sub/";

// Levels load into a real audio system that mixes without a device.
class LevelLoader : public ::testing::Test {
protected:
    void SetUp() override {
        stdoutOf([&] { ASSERT_TRUE(audioInit(audio, AudioBackend::NullDriver)); });
    }
    void TearDown() override {
        stdoutOf([&] { audioShutdown(audio); });
    }
    bool load(const std::string& name) {
        bool ok = false;
        const Printed printed = printedBy([&] { ok = loadLevelFromManifest(kDir + name, audio, render); });
        out = printed.out;
        err = printed.err;
        return ok;
    }
    AudioSystem audio;
    RenderState render;
    std::string out, err;
};

TEST_F(LevelLoader, LoadsStemsInOrderWithoutGapsAndScalesCharts) {
    ASSERT_TRUE(load("level.json")) << out << err;
    // The missing first stem is reported and leaves no gap: the next stem takes slot 0.
    EXPECT_NE(err.find("Failed to load stem: missing.ogg\n"), std::string::npos) << err;
    ASSERT_EQ(audio.stems.size(), 3u);
    const char* names[] = {"stem.wav", "stem.ogg", "stem.flac"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(audio.stems[i].name, names[i]);
        EXPECT_EQ(audio.stems[i].index, i);
    }
    EXPECT_FLOAT_EQ(render.stemColors[0][2], 1.0f);
    EXPECT_FLOAT_EQ(render.stemBase[0], 0.5f);
    EXPECT_FLOAT_EQ(render.stemPeak[0], 3.0f);
    EXPECT_FLOAT_EQ(render.stemLerpSpeed[0], 6.0f);
    // Charted stem scaled to the level's tempo; audio-only stem without a chart.
    EXPECT_TRUE(audio.stems[0].chart.loaded);
    EXPECT_FLOAT_EQ(audio.stems[0].chart.midiBpm, 118.0f);
    EXPECT_FALSE(audio.stems[1].chart.loaded) << "playsNotes false loads the audio only";
    // A stem whose chart is missing stays as an audio layer, in its own slot with its own colour.
    EXPECT_FALSE(audio.stems[2].chart.loaded);
    EXPECT_FLOAT_EQ(render.stemColors[2][0], 1.0f);
    EXPECT_FLOAT_EQ(render.stemColors[2][1], 0.0f);
    EXPECT_FLOAT_EQ(audio.bpm, 118.0f);
    EXPECT_NE(out.find("Loaded 3 stem(s) from level JSON: " + kDir + "level.json\n"), std::string::npos)
        << out;
    // Slots past the manifest's stems are reset.
    EXPECT_FLOAT_EQ(render.stemPeak[4], 2.0f);
    EXPECT_FLOAT_EQ(render.stemLerpSpeed[7], 18.0f);
}

// A manifest without stems leaves the playing level alone; one whose stems all fail to load empties it.
TEST_F(LevelLoader, OnlyAManifestWithStemsReplacesTheLevel) {
    ASSERT_TRUE(load("level.json"));
    playAllStems(audio);
    for (const char* name : {"empty.json", "no_such_manifest.json"}) {
        EXPECT_FALSE(load(name)) << name;
        EXPECT_TRUE(audio.playing) << name;
        EXPECT_EQ(audio.stems.size(), 3u) << name;
    }
    EXPECT_FALSE(load("only_missing.json"));
    EXPECT_FALSE(audio.playing);
    EXPECT_TRUE(audio.stems.empty());
    EXPECT_NE(err.find("Failed to load stem: missing.ogg\n"), std::string::npos);
    EXPECT_NE(out.find("Loaded 0 stem(s) from level JSON: "), std::string::npos);
}

TEST_F(LevelLoader, StemsPastTheEighthAreIgnored) {
    ASSERT_TRUE(load("ten.json"));
    EXPECT_EQ(audio.stems.size(), 8u);
    EXPECT_EQ(err, "");
}

// The playing level goes first: a package whose manifest cannot be read leaves silence.
TEST_F(LevelLoader, APackageWithoutAManifestLeavesNoLevelPlaying) {
    ASSERT_TRUE(load("level.json"));
    playAllStems(audio);
    LevelPackage package;
    bool applied = true;
    err = printedBy([&] {
              prepareLevelPackage(::testing::TempDir() + "no_level_here", package);
              applied = applyLevelPackage(package, audio, render);
          }).err;
    EXPECT_FALSE(applied);
    EXPECT_TRUE(audio.stems.empty()) << "the previous level is gone";
    EXPECT_FALSE(audio.playing);
    EXPECT_NE(err.find("Failed to read level JSON: "), std::string::npos);
    EXPECT_NE(err.find("CRITICAL: Failed to load level from manifest: " + package.manifestPath),
              std::string::npos);
}

} // namespace
