// Onsets, keys, holds, pan and tempo found in synthetic stems with known answers, read back from
// WAV files the way the level tool reads stems.
#include "authoring/stem_analysis.hpp"
#include "authoring/stem_audio.hpp"
#include "authoring/tempo.hpp"
#include "authoring_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace authoringtest;

namespace {

StemAnalysis analyse(const std::filesystem::path& path, StemKind kind) {
    StemAudio audio;
    std::string error;
    EXPECT_TRUE(readStemAudio(path.string(), audio, error)) << error;
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
    TempFolder folder("clicks");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> mono(static_cast<size_t>(c.seconds * kRate), 0.0f);
        for (size_t i = 0; i < c.clicks.size(); ++i) {
            addClick(mono, c.clicks[i], c.gains.empty() ? 0.8f : c.gains[i]);
        }
        writeWav(folder.path / "clicks.wav", mono);
        const StemAnalysis analysis = analyse(folder.path / "clicks.wav", StemKind::Drums);
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
    TempFolder folder("notes");
    for (const auto& c : cases) {
        SCOPED_TRACE(stemKindName(c.kind));
        std::vector<float> mono(static_cast<size_t>(5.5 * kRate), 0.0f);
        for (const auto& [time, length, key] : c.notes) {
            addNote(mono, time, length, key);
        }
        writeWav(folder.path / "notes.wav", mono);
        const StemAnalysis analysis = analyse(folder.path / "notes.wav", c.kind);
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
    TempFolder folder("silence");
    writeWav(folder.path / "silence.wav", std::vector<float>(3 * kRate, 0.0f));
    const StemAnalysis silent = analyse(folder.path / "silence.wav", StemKind::Melodic);
    EXPECT_TRUE(silent.notes.empty());
    EXPECT_DOUBLE_EQ(estimateTempo({&silent.onsetCurve}, silent.frameRate), 120.0) << "the default";

    // Clicks hard left, centre, hard right (interleaved stereo).
    std::vector<float> left(2 * kRate, 0.0f);
    std::vector<float> right(2 * kRate, 0.0f);
    addClick(left, 0.3);
    addClick(left, 1.0);
    addClick(right, 1.0);
    addClick(right, 1.6);
    std::vector<float> stereo;
    for (size_t i = 0; i < left.size(); ++i) {
        stereo.push_back(left[i]);
        stereo.push_back(right[i]);
    }
    writeWav(folder.path / "stereo.wav", stereo, 2);
    const StemAnalysis panned = analyse(folder.path / "stereo.wav", StemKind::Drums);
    ASSERT_EQ(panned.notes.size(), 3u);
    EXPECT_LE(panned.notes[0].pan, 5);
    EXPECT_NEAR(panned.notes[1].pan, 64, 3);
    EXPECT_GE(panned.notes[2].pan, 122);
}

TEST(StemDetection, TempoOfAClickTrack) {
    TempFolder folder("tempo");
    for (double bpm : {84.0, 103.0, 137.0}) {
        SCOPED_TRACE(bpm);
        const double beat = 60.0 / bpm;
        std::vector<float> mono(static_cast<size_t>(32 * beat * kRate), 0.0f);
        for (int i = 0; i < 32; ++i) {
            addClick(mono, i * beat, i % 4 == 0 ? 0.9f : 0.4f);
            addClick(mono, (i + 0.5) * beat, 0.15f); // off-beats
        }
        writeWav(folder.path / "beat.wav", mono);
        const StemAnalysis analysis = analyse(folder.path / "beat.wav", StemKind::Drums);
        EXPECT_NEAR(estimateTempo({&analysis.onsetCurve}, analysis.frameRate), bpm, 0.5);
    }
}

TEST(StemDetection, TenMinuteStemStaysUnder300MegabytesPeak) {
    // A child process writes the stem, charts it and reports its peak resident size, so that the
    // figure is this job's alone.
    TempFolder folder("long");
    const std::filesystem::path wav = folder.path / "long.wav";
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        // Ten minutes of mono 16-bit audio with a click every half second, written in pieces.
        const double seconds = 600.0;
        std::vector<float> piece(static_cast<size_t>(kRate / 2), 0.0f);
        addClick(piece, 0.1);
        const uint32_t pieces = static_cast<uint32_t>(seconds * 2);
        {
            std::vector<float> all;
            writeWav(wav, all); // header first; sizes patched below
        }
        std::fstream out(wav, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(0, std::ios::end);
        std::vector<char> bytes(piece.size() * 2);
        for (size_t i = 0; i < piece.size(); ++i) {
            const int16_t v = static_cast<int16_t>(std::lround(piece[i] * 32767.0f));
            bytes[2 * i] = static_cast<char>(v & 0xFF);
            bytes[2 * i + 1] = static_cast<char>((v >> 8) & 0xFF);
        }
        for (uint32_t p = 0; p < pieces; ++p) {
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        const uint32_t dataBytes = pieces * static_cast<uint32_t>(bytes.size());
        const uint32_t riff = 36 + dataBytes;
        out.seekp(4);
        out.write(reinterpret_cast<const char*>(&riff), 4);
        out.seekp(40);
        out.write(reinterpret_cast<const char*>(&dataBytes), 4);
        out.close();

        StemAudio audio;
        StemAnalysis analysis;
        std::string error;
        long notes = -1;
        if (readStemAudio(wav.string(), audio, error) &&
            analyzeStem(audio, StemKind::Drums, analysis, error)) {
            notes = static_cast<long>(analysis.notes.size());
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        char report[64];
        const int length = std::snprintf(report, sizeof report, "%ld %ld", notes, usage.ru_maxrss);
        if (write(channel[1], report, static_cast<size_t>(length)) != length) {
            _exit(2);
        }
        _exit(0);
    }
    close(channel[1]);
    char buffer[64] = {};
    const ssize_t got = read(channel[0], buffer, sizeof buffer - 1);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_GT(got, 0);
    long notes = 0;
    long peakKb = 0;
    ASSERT_EQ(std::sscanf(buffer, "%ld %ld", &notes, &peakKb), 2);
    EXPECT_EQ(notes, 1200) << "a click every half second";
    EXPECT_LT(peakKb, 300L * 1024) << "peak resident size in KiB";
    RecordProperty("peak_rss_kib", static_cast<int>(peakKb));
}
