// MidiChart: loading a file into a note list, its log lines and refusals, and BPM scaling.
#include "audio/midi_chart.hpp"
#include "midi_bytes.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

using namespace midibytes;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
namespace fs = std::filesystem;

namespace {

// A scratch directory for chart files, removed with the fixture.
class MidiChartTest : public testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        dir =
            fs::temp_directory_path() / ("vibrelle-midi-" + std::to_string(::getpid()) + "-" + info->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string &name, const Bytes &data) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
        return path.string();
    }
};

// Collects SDL_Log lines while alive.
struct SdlLogCapture {
    SDL_LogOutputFunction previous = nullptr;
    void *previousData = nullptr;
    std::vector<std::string> lines;

    SdlLogCapture() {
        SDL_GetLogOutputFunction(&previous, &previousData);
        SDL_SetLogOutputFunction(
            [](void *self, int, SDL_LogPriority, const char *message) {
                static_cast<SdlLogCapture *>(self)->lines.emplace_back(message);
            },
            this);
    }
    ~SdlLogCapture() { SDL_SetLogOutputFunction(previous, previousData); }
};

// A format-1 file: tempo track at `bpm`, then notes on two tracks with pan changes.
Bytes twoTrackSong(uint32_t tempoMicroseconds) {
    return file(header(1, 3, 96), track({{0, tempoUs(tempoMicroseconds)}}),
                track({{0, noteOn(0, 60, 100)}, {48, panChange(2, 10)}, {48, noteOff(0, 60, 7)}}),
                track({{0, noteOn(2, 50, 90)}, {96, noteOn(2, 50, 0)}, {0, noteOn(2, 52, 80)}}));
}

} // namespace

// ---- Loading ----

TEST_F(MidiChartTest, LoadBuildsTheNoteListAndLogsEachStep) {
    const std::string path = write("song.mid", twoTrackSong(500000));
    MidiChart chart;
    CaptureStdout();
    ASSERT_TRUE(loadMidiChart(chart, path));
    EXPECT_EQ(GetCapturedStdout(),
              "Loading MIDI file: " + path + "\nLoaded MIDI file: " + path +
                  "\nFound MIDI tempo: 120.0 BPM\n"
                  "Successfully loaded MIDI file: song.mid with 5 note events (native BPM: 120.0)\n");
    EXPECT_TRUE(chart.loaded);
    EXPECT_EQ(chart.midiPath, path);
    ASSERT_NE(chart.midi, nullptr);
    EXPECT_EQ(chart.midi->getTrackCount(), 1);
    ASSERT_EQ(chart.notes.size(), 5u);

    const MidiNoteEvent &first = chart.notes[0];
    EXPECT_EQ(first.note, 60);
    EXPECT_TRUE(first.isNoteOn);
    EXPECT_EQ(first.pan, 64);
    EXPECT_DOUBLE_EQ(first.duration, 0.5);
    EXPECT_EQ(first.track, 0);
    // The pan change on channel 2 (track 1, tick 48) reaches the later channel-2 events of track 2
    // but not channel 0's note-off.
    const MidiNoteEvent &off60 = chart.notes[2];
    EXPECT_EQ(off60.note, 60);
    EXPECT_FALSE(off60.isNoteOn);
    EXPECT_EQ(off60.velocity, 7);
    EXPECT_EQ(off60.pan, 64);
    EXPECT_EQ(off60.duration, 0.0);
    EXPECT_EQ(chart.notes[1].channel, 2);
    EXPECT_EQ(chart.notes[1].pan, 64); // tick 0, before the change
    const MidiNoteEvent &off50 = chart.notes[3];
    EXPECT_EQ(off50.note, 50);
    EXPECT_FALSE(off50.isNoteOn); // velocity-0 note-on
    EXPECT_EQ(off50.velocity, 0);
    EXPECT_EQ(off50.pan, 10);
    EXPECT_EQ(chart.notes[4].pan, 10);
    EXPECT_EQ(chart.notes[4].duration, 0.0); // never released
    EXPECT_EQ(chart.notes[4].tick, 96);
    EXPECT_DOUBLE_EQ(chart.notes[4].time, 0.5);
    for (size_t i = 1; i < chart.notes.size(); ++i) {
        EXPECT_LE(chart.notes[i - 1].time, chart.notes[i].time);
    }
}

TEST_F(MidiChartTest, BackslashesAndQuotesLoadLikeTheCleanPath) {
    write("clean.mid", twoTrackSong(500000));
    std::string messy = dir.string() + "\\clean.mid";
    messy = "\"" + messy + "\"";
    MidiChart chart;
    CaptureStdout();
    ASSERT_TRUE(loadMidiChart(chart, messy));
    const std::string log = GetCapturedStdout();
    EXPECT_EQ(chart.midiPath, (dir / "clean.mid").string());
    EXPECT_NE(log.find("Loading MIDI file: " + chart.midiPath + "\n"), std::string::npos);
}

TEST_F(MidiChartTest, MissingFileLeavesTheChartAsItWas) {
    MidiChart chart;
    chart.midiBpm = 99.0f;
    const std::string path = (dir / "none.mid").string();
    CaptureStdout();
    CaptureStderr();
    EXPECT_FALSE(loadMidiChart(chart, path));
    EXPECT_EQ(GetCapturedStderr(), "Error: MIDI file does not exist: " + path + "\n");
    EXPECT_EQ(GetCapturedStdout(), "Loading MIDI file: " + path + "\n");
    EXPECT_EQ(chart.midi, nullptr);
    EXPECT_FALSE(chart.loaded);
    EXPECT_EQ(chart.midiBpm, 99.0f);
}

TEST_F(MidiChartTest, RefusedDataKeepsAnEmptyFileAndIsNotLoaded) {
    const std::string path = write("bad.mid", file(header(2, 1, 96)));
    MidiChart chart;
    SdlLogCapture sdl;
    CaptureStdout();
    CaptureStderr();
    EXPECT_FALSE(loadMidiChart(chart, path));
    GetCapturedStdout();
    EXPECT_EQ(GetCapturedStderr(), "Error: cannot handle a type-2 MIDI file\n"
                                   "Failed to load MIDI file using asset loader: " +
                                       path + "\n");
    EXPECT_EQ(sdl.lines, std::vector<std::string>{"ERROR: MidiFile failed to parse data from " + path});
    ASSERT_NE(chart.midi, nullptr);
    EXPECT_FALSE(chart.loaded);
    EXPECT_TRUE(chart.notes.empty());
}

TEST_F(MidiChartTest, ReadFailuresGoToTheSdlLog) {
    MidiFile midi;
    SdlLogCapture sdl;
    EXPECT_FALSE(readMidiFileBytes((dir / "absent.mid").string(), midi));
    ASSERT_EQ(sdl.lines.size(), 1u);
    EXPECT_EQ(
        sdl.lines[0].rfind("ERROR: Could not open MIDI file " + (dir / "absent.mid").string() + ": ", 0), 0u);

    const std::string empty = write("empty.mid", {});
    CaptureStderr();
    EXPECT_FALSE(readMidiFileBytes(empty, midi));
    EXPECT_EQ(GetCapturedStderr(), "Bad MIDI data input\n");
    EXPECT_EQ(sdl.lines.back(), "ERROR: MidiFile failed to parse data from " + empty);
}

TEST_F(MidiChartTest, FileWithoutNotesOrTempoLoadsEmptyAtOneHundredTwenty) {
    const std::string path =
        write("quiet.mid", file(header(0, 1, 96), track({{0, {0xFF, 0x01, 0x01, 'x'}}})));
    MidiChart chart;
    CaptureStdout();
    ASSERT_TRUE(loadMidiChart(chart, path));
    const std::string log = GetCapturedStdout();
    EXPECT_NE(log.find("Successfully loaded MIDI file: quiet.mid with 0 note events (native BPM: 120.0)\n"),
              std::string::npos);
    EXPECT_EQ(log.find("Found MIDI tempo"), std::string::npos);
    EXPECT_EQ(chart.midiBpm, 120.0f);
    CaptureStdout();
    scaleChartToBpm(chart, 100.0f);
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST_F(MidiChartTest, ReloadReplacesAndReleaseFreesEverything) {
    MidiChart chart;
    CaptureStdout();
    ASSERT_TRUE(loadMidiChart(chart, write("a.mid", twoTrackSong(600000))));
    chart.lastPosition = 3.0;
    ASSERT_TRUE(loadMidiChart(chart, write("b.mid", file(header(0, 1, 96), track({{0, noteOn(0, 1, 1)}})))));
    GetCapturedStdout();
    EXPECT_EQ(chart.notes.size(), 1u);
    EXPECT_EQ(chart.midiBpm, 120.0f);
    EXPECT_EQ(chart.lastPosition, 0.0);
    EXPECT_EQ(chart.midiPath, (dir / "b.mid").string());

    releaseMidiChart(chart);
    EXPECT_EQ(chart.midi, nullptr);
    EXPECT_TRUE(chart.notes.empty());
    EXPECT_EQ(chart.notes.capacity(), 0u);
    EXPECT_TRUE(chart.midiPath.empty());
    EXPECT_FALSE(chart.loaded);
}

// ---- Scaling ----

TEST_F(MidiChartTest, MatchingBpmIsLeftAlone) {
    MidiChart chart;
    CaptureStdout();
    ASSERT_TRUE(loadMidiChart(chart, write("ninety.mid", twoTrackSong(666667))));
    EXPECT_NE(GetCapturedStdout().find("Found MIDI tempo: 90.0 BPM\n"), std::string::npos);
    const auto before = chart.notes;
    CaptureStdout();
    scaleChartToBpm(chart, 90.0f);
    EXPECT_EQ(GetCapturedStdout(), "MIDI BPM (90.0) matches audio BPM (90.0), no scaling needed\n");
    ASSERT_EQ(chart.notes.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(chart.notes[i].time, before[i].time);
    }
}

TEST_F(MidiChartTest, ScalesOnlyBeyondOnePercent) {
    MidiChart chart;
    CaptureStdout();
    ASSERT_TRUE(loadMidiChart(chart, write("song.mid", twoTrackSong(500000))));
    GetCapturedStdout();
    const auto before = chart.notes;

    CaptureStdout();
    scaleChartToBpm(chart, 121.0f); // ratio 0.9917
    EXPECT_EQ(GetCapturedStdout(), "MIDI BPM (120.0) matches audio BPM (121.0), no scaling needed\n");
    EXPECT_EQ(chart.notes[4].time, before[4].time);
    EXPECT_EQ(chart.midiBpm, 120.0f);

    CaptureStdout();
    scaleChartToBpm(chart, 118.0f); // ratio 1.0169
    EXPECT_EQ(GetCapturedStdout(), "Scaling MIDI timing: MIDI BPM 120.0 -> Audio BPM 118.0 (ratio: 1.017)\n"
                                   "MIDI events scaled to match audio BPM (118.0)\n");
    const double ratio = static_cast<double>(120.0f / 118.0f);
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(chart.notes[i].time, before[i].time * ratio);
        EXPECT_EQ(chart.notes[i].duration, before[i].duration * ratio);
        EXPECT_EQ(chart.notes[i].tick, before[i].tick);
    }
    EXPECT_EQ(chart.midiBpm, 118.0f);

    // A second level load with the same BPM finds nothing to do.
    const auto scaled = chart.notes;
    CaptureStdout();
    scaleChartToBpm(chart, 118.0f);
    GetCapturedStdout();
    EXPECT_EQ(chart.notes[4].time, scaled[4].time);
}

TEST_F(MidiChartTest, ChartAtOneHundredTwentyInALevelAtOneHundredIsTwentyPercentLater) {
    MidiChart chart;
    CaptureStdout();
    ASSERT_TRUE(loadMidiChart(chart, write("song.mid", twoTrackSong(500000))));
    scaleChartToBpm(chart, 100.0f);
    GetCapturedStdout();
    EXPECT_NEAR(chart.notes[4].time, 0.6, 1e-6);
    EXPECT_NEAR(chart.notes[0].duration, 0.6, 1e-6);
}

TEST_F(MidiChartTest, BpmThatIsNotAPositiveNumberChangesNothing) {
    MidiChart chart;
    CaptureStdout();
    ASSERT_TRUE(loadMidiChart(chart, write("song.mid", twoTrackSong(500000))));
    GetCapturedStdout();
    const auto before = chart.notes;
    for (float bpm :
         {0.0f, -60.0f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        CaptureStdout();
        CaptureStderr();
        scaleChartToBpm(chart, bpm);
        EXPECT_EQ(GetCapturedStdout(), "");
        EXPECT_NE(GetCapturedStderr().find("Cannot scale MIDI timing to audio BPM"), std::string::npos);
        EXPECT_EQ(chart.midiBpm, 120.0f);
        EXPECT_EQ(chart.notes[4].time, before[4].time);
    }
}

TEST(MidiChart, EmptyOrNotLoadedChartsAreNotScaled) {
    MidiChart chart;
    EXPECT_EQ(chart.midiBpm, 120.0f);
    EXPECT_FALSE(chart.loaded);
    EXPECT_EQ(chart.loopCount, 0u);
    chart.notes.push_back(MidiNoteEvent{});
    chart.notes.back().time = 1.0;
    CaptureStdout();
    scaleChartToBpm(chart, 60.0f);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(chart.notes.back().time, 1.0);
    EXPECT_EQ(chart.midiBpm, 120.0f);
}
