// Loading a level's stems: several files decoded at once with the result of one after another,
// the limits on what a level's audio may take, and stems of unequal length padded to loop together.
#include "level/level_manifest.hpp"

#include "audio/stem_loaders.hpp"
#include "audio_test_util.hpp"

#include <cstring>

using StemLoadingTest = StemFixture;

TEST_F(StemLoadingTest, ShorterStemsArePaddedToLoopWithTheLongest) {
    addStem("short.wav", 1000, 0.1f);
    addStem("long.wav", 1500, 0.3f);
    EXPECT_EQ(
        stderrOf([&] { padStemsToLongest(audio); }),
        "Warning: stem short.wav has 1000 frames and the longest, long.wav, has 1500: padded with silence\n");
    EXPECT_DOUBLE_EQ(audio.stems[0].chart.audioLength, 1500.0 / 44100.0);
    stdoutOf([&] { playAllStems(audio); });
    makeAudible({0, 1});
    const std::vector<float> out = render(3 * 1500);
    // Every pass: the short stem while it lasts, then silence, over the long one; both start over
    // together.
    for (unsigned pass = 0; pass < 3; ++pass) {
        for (unsigned i : {0u, 999u, 1000u, 1499u}) {
            const float expected = (i < 1000 ? 0.1f + i / 65536.0f : 0.0f) + 0.3f + i / 65536.0f;
            EXPECT_FLOAT_EQ(out[(pass * 1500 + i) * 2], expected) << "pass " << pass << " frame " << i;
        }
    }
}

TEST_F(StemLoadingTest, RefusesStemsThatWouldTakeTheLevelOverItsLimit) {
    std::vector<std::string> paths;
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        paths.push_back(dir.write(name, makeFloatWav(rampSamples(1000, 0.1f), 2))); // 8000 bytes decoded
    }
    audio.limits.decoding = StemDecoding::Whole; // what a stream holds does not grow with its file
    audio.limits.maxLevelBytes = 2 * 8000 + 4000;
    addStem("first.wav", 1000, 0.1f);
    addStem("second.wav", 1000, 0.1f);
    EXPECT_EQ(printedBy([&] { EXPECT_FALSE(loadStem(audio, paths[0])); }).err,
              "Error: Level audio too large: " + paths[0] +
                  " would bring the level's decoded audio to 0.0 MB (the limit is 0.0 MB)\n");
    EXPECT_EQ(audio.stems.size(), 2u);

    // Decoded together, the files that fit are the first ones in order, however the threads ran.
    unloadAllStems(audio);
    for (unsigned threads : {1u, 3u}) {
        std::vector<DecodedStem> decoded = decodeStemFiles(audio, paths, threads);
        ASSERT_EQ(decoded.size(), 3u);
        EXPECT_EQ(decoded[0].outcome, DecodedStem::Outcome::Decoded) << threads;
        EXPECT_EQ(decoded[1].outcome, DecodedStem::Outcome::Decoded) << threads;
        EXPECT_EQ(decoded[2].outcome, DecodedStem::Outcome::OverLevelLimit) << threads;
        EXPECT_EQ(decoded[2].source, nullptr);
    }
}

// A level of every format, a resampled stem, a short one, a chart and two failures: decoded on
// several threads it gives the same stems, samples, charts and log lines as on one.
TEST_F(StemLoadingTest, ParallelDecodeMatchesSerial) {
    for (const char* name :
         {"stem.wav", "stem.flac", "stem.ogg", "stem.mp3", "mono_22k.wav", "not_audio.wav"}) {
        dir.write(name, readBytes(audioFixturePath(name)));
    }
    dir.write("short.wav", makeFloatWav(rampSamples(1000, 0.1f), 2));
    dir.write("chart.mid", readBytes(std::string(VIBRELLE_TEST_DATA) + "/midi/format1_tempo_map.mid"));
    const std::string manifest = dir.write("level.json", [] {
        const std::string text = R"({"bpm": 100, "stems": [{"file": "stem.ogg", "midi": "chart.mid"},
            {"file": "stem.flac"}, {"file": "missing.ogg"}, {"file": "stem.mp3"}, {"file": "not_audio.wav"},
            {"file": "mono_22k.wav"}, {"file": "stem.wav"}, {"file": "short.wav"}]})";
        return std::vector<unsigned char>(text.begin(), text.end());
    }());
    setDefaultStemDecoding(StemDecoding::Whole); // the samples are compared
    StagedLevel serial, parallel;
    std::string out[2], err[2];
    for (int r = 0; r < 2; ++r) {
        const Printed printed =
            printedBy([&] { ASSERT_TRUE(readLevel(manifest, true, r ? parallel : serial, r ? 8 : 1)); });
        out[r] = printed.out;
        err[r] = printed.err;
    }
    EXPECT_EQ(out[1], out[0]);
    EXPECT_EQ(err[1], err[0]);
    EXPECT_NE(err[0].find("Failed to load stem: missing.ogg\n"), std::string::npos) << err[0];
    EXPECT_NE(err[0].find("Warning: stem short.wav has 1000 frames"), std::string::npos) << err[0];
    ASSERT_EQ(serial.stems.size(), 6u);
    ASSERT_EQ(parallel.stems.size(), serial.stems.size());
    for (size_t i = 0; i < serial.stems.size(); ++i) {
        const LoadedStem& a = serial.stems[i];
        const LoadedStem& b = parallel.stems[i];
        SCOPED_TRACE(a.name);
        EXPECT_EQ(b.name, a.name);
        EXPECT_EQ(parallel.looks[i].file, serial.looks[i].file);
        ASSERT_EQ(b.source->frameCount(), a.source->frameCount());
        ASSERT_EQ(b.source->channelCount(), a.source->channelCount());
        EXPECT_EQ(b.source->paddedFrameCount(), serial.stems[0].source->paddedFrameCount());
        EXPECT_EQ(std::memcmp(b.source->samples(), a.source->samples(),
                              a.source->frameCount() * a.source->channelCount() * sizeof(float)),
                  0);
        EXPECT_EQ(b.chart.loaded, a.chart.loaded);
        EXPECT_EQ(b.chart.notes.size(), a.chart.notes.size());
        EXPECT_EQ(b.chart.audioLength, a.chart.audioLength);
    }
    EXPECT_TRUE(serial.stems[0].chart.loaded);
    setDefaultStemDecoding(StemDecoding::Streamed);
}
