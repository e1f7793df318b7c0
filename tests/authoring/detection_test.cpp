// Onsets, keys, holds, pan and tempo found in synthetic stems with known answers, read back from
// WAV files the way the level tool reads stems.
#include "authoring/stem_analysis.hpp"
#include "authoring/stem_audio.hpp"
#include "authoring/tempo.hpp"
#include "authoring_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace authoringtest;

namespace {

// Writes the interleaved samples as a WAV file and analyses what the stem reader reads back.
StemAnalysis analyse(const std::vector<float>& samples, StemKind kind, int channels = 1) {
    TempDir folder;
    writeWav(folder.path() / "stem.wav", samples, channels);
    StemAudio audio;
    std::string error;
    EXPECT_TRUE(readStemAudio((folder.path() / "stem.wav").string(), audio, error)) << error;
    StemAnalysis analysis;
    EXPECT_TRUE(analyzeStem(audio, kind, analysis, error)) << error;
    return analysis;
}

} // namespace

TEST(StemDetection, ClicksAreFoundWithinFiveMilliseconds) {
    const struct {
        const char* name;
        double seconds;
        std::vector<double> clicks;
        std::vector<float> gains; // per click; empty: all 0.8
    } cases[] = {
        {"steady", 4.0, {0.25, 0.75, 1.25, 1.75, 2.25, 2.75, 3.25}, {}},
        {"loop start and end, soft among loud",
         6.0,
         {0.0, 0.61, 1.333, 2.05, 2.9, 3.71, 4.444, 5.8},
         {0.8f, 0.1f, 0.8f, 0.05f, 0.8f, 0.2f, 0.8f, 0.4f}},
        {"eight per second", 3.0, {0.2, 0.325, 0.45, 0.575, 0.7, 0.825, 0.95, 1.075, 1.2}, {}},
        {"a stem of one second", 1.0, {0.1, 0.42, 0.77}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> mono(static_cast<size_t>(c.seconds * kRate), 0.0f);
        for (size_t i = 0; i < c.clicks.size(); ++i) {
            addClick(mono, c.clicks[i], c.gains.empty() ? 0.8f : c.gains[i]);
        }
        const StemAnalysis analysis = analyse(mono, StemKind::Drums);
        ASSERT_EQ(analysis.notes.size(), c.clicks.size());
        for (size_t i = 0; i < c.clicks.size(); ++i) {
            EXPECT_NEAR(analysis.notes[i].time, c.clicks[i], 0.005) << "click " << i;
            EXPECT_FALSE(analysis.notes[i].hold) << "unpitched stems have no holds";
            EXPECT_GE(analysis.notes[i].key, kUnpitchedLowKey);
            EXPECT_LE(analysis.notes[i].key, kUnpitchedHighKey);
        }
    }
}

TEST(StemDetection, NotesGiveTheirKeysAndSustainedOnesBecomeHolds) {
    const struct {
        StemKind kind;
        std::vector<std::tuple<double, double, int>> notes; // time, length, key
    } cases[] = {
        {StemKind::Bass, {{0.2, 0.3, 28}, {0.8, 1.2, 33}, {2.4, 0.25, 40}, {3.0, 0.9, 45}, {4.3, 0.2, 52}}},
        {StemKind::Melodic,
         {{0.1, 0.2, 60}, {0.5, 0.9, 67}, {1.7, 0.3, 72}, {2.3, 1.5, 79}, {4.1, 0.2, 86}, {4.6, 0.4, 93}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(stemKindName(c.kind));
        std::vector<float> mono(static_cast<size_t>(5.5 * kRate), 0.0f);
        for (const auto& [time, length, key] : c.notes) {
            addNote(mono, time, length, key);
        }
        const StemAnalysis analysis = analyse(mono, c.kind);
        ASSERT_EQ(analysis.notes.size(), c.notes.size());
        for (size_t i = 0; i < c.notes.size(); ++i) {
            const auto& [time, length, key] = c.notes[i];
            const DetectedNote& found = analysis.notes[i];
            EXPECT_NEAR(found.time, time, 0.01) << "note " << i;
            EXPECT_EQ(found.key, key) << "note " << i;
            EXPECT_EQ(found.hold, length >= kMinHoldSeconds) << "note " << i;
            if (found.hold) {
                EXPECT_NEAR(found.duration, length, 0.1) << "note " << i;
            }
        }
        EXPECT_LT(analysis.chordShare, 0.2) << "one voice at a time";
    }
}

TEST(StemDetection, SilenceGivesNoNotesAndStereoBalanceGivesPan) {
    const StemAnalysis silent = analyse(std::vector<float>(3 * kRate, 0.0f), StemKind::Melodic);
    EXPECT_TRUE(silent.notes.empty());
    EXPECT_DOUBLE_EQ(estimateTempo({&silent.onsetCurve}, silent.frameRate), 120.0) << "the default";

    // Clicks hard left, centre, hard right (interleaved stereo).
    std::vector<float> left(2 * kRate, 0.0f), right(2 * kRate, 0.0f), stereo;
    addClick(left, 0.3);
    addClick(left, 1.0);
    addClick(right, 1.0);
    addClick(right, 1.6);
    for (size_t i = 0; i < left.size(); ++i) {
        stereo.insert(stereo.end(), {left[i], right[i]});
    }
    const StemAnalysis panned = analyse(stereo, StemKind::Drums, 2);
    ASSERT_EQ(panned.notes.size(), 3u);
    EXPECT_LE(panned.notes[0].pan, 5);
    EXPECT_NEAR(panned.notes[1].pan, 64, 3);
    EXPECT_GE(panned.notes[2].pan, 122);
}

TEST(StemDetection, TempoOfAClickTrack) {
    for (double bpm : {84.0, 103.0, 137.0}) {
        SCOPED_TRACE(bpm);
        const double beat = 60.0 / bpm;
        std::vector<float> mono(static_cast<size_t>(32 * beat * kRate), 0.0f);
        for (int i = 0; i < 32; ++i) {
            addClick(mono, i * beat, i % 4 == 0 ? 0.9f : 0.4f);
            addClick(mono, (i + 0.5) * beat, 0.15f); // off-beats
        }
        const StemAnalysis analysis = analyse(mono, StemKind::Drums);
        EXPECT_NEAR(estimateTempo({&analysis.onsetCurve}, analysis.frameRate), bpm, 0.5);
    }
}

// A child process writes the stem, charts it and reports its peak resident size, so that the
// figure is this job's alone.
TEST(StemDetection, TenMinuteStemStaysUnder300MegabytesPeak) {
    TempDir folder;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Ten minutes of mono 16-bit audio with a click every half second, written in pieces.
        std::vector<float> half(kRate / 2, 0.0f);
        addClick(half, 0.1);
        writeWav(folder.path() / "long.wav", half, 1, 1200);
        StemAudio audio;
        StemAnalysis analysis;
        std::string error;
        const bool charted = readStemAudio((folder.path() / "long.wav").string(), audio, error) &&
                             analyzeStem(audio, StemKind::Drums, analysis, error);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::ofstream(folder.path() / "report")
            << (charted ? long(analysis.notes.size()) : -1L) << ' ' << usage.ru_maxrss;
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    long notes = 0, peakKb = 0;
    std::ifstream(folder.path() / "report") >> notes >> peakKb;
    EXPECT_EQ(notes, 1200) << "a click every half second";
    EXPECT_GT(peakKb, 0);
    EXPECT_LT(peakKb, 300L * 1024) << "peak resident size in KiB";
    RecordProperty("peak_rss_kib", static_cast<int>(peakKb));
}
