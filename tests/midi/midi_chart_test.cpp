// MidiChart: loading a file into a note list, its log lines and refusals, and BPM scaling.
#include "audio/midi_chart.hpp"
#include "midi_bytes.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>

using namespace midibytes;

namespace {

// A scratch directory for chart files, removed with the fixture.
class MidiChartTest : public testing::Test {
protected:
    TempDir dir;

    std::string write(const std::string& name, const Bytes& data) {
        std::ofstream(dir.file(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return dir.file(name);
    }
};

// A format-1 file: tempo track, then notes on two tracks with a pan change on channel 2.
Bytes twoTrackSong(uint32_t tempoMicroseconds) {
    return file(header(1, 3, 96), track({{0, tempoUs(tempoMicroseconds)}}),
                track({{0, noteOn(0, 60, 100)}, {48, {0xB2, 10, 10}}, {48, noteOff(0, 60, 7)}}),
                track({{0, noteOn(2, 50, 90)}, {96, noteOn(2, 50, 0)}, {0, noteOn(2, 52, 80)}}));
}

} // namespace

TEST_F(MidiChartTest, LoadBuildsTheNoteListAndLogsEachStep) {
    const std::string path = write("song.mid", twoTrackSong(500000));
    MidiChart chart;
    std::string out;
    EXPECT_EQ(errorsOf([&] { ASSERT_TRUE(loadMidiChart(chart, path)); }, &out), "");
    EXPECT_EQ(out, "Loading MIDI file: " + path + "\nLoaded MIDI file: " + path +
                       "\nFound MIDI tempo: 120.0 BPM\n"
                       "Successfully loaded MIDI file: song.mid with 5 note events (native BPM: 120.0)\n");
    EXPECT_TRUE(chart.loaded);
    EXPECT_EQ(chart.midiPath, path);
    // The pan change (track 1, channel 2, tick 48) reaches the later channel-2 events of track 2 but
    // not channel 0's; a velocity-0 note-on is a note-off; the last note is never released.
    // Fields: note, velocity, pan, time, duration, tick, on, channel.
    expectSameNotes(chart.notes, {{60, 100, 64, 0.0, 0.5, 0, true, 0},
                                  {50, 90, 64, 0.0, 0.5, 0, true, 2},
                                  {60, 7, 64, 0.5, 0.0, 96, false, 0},
                                  {50, 0, 10, 0.5, 0.0, 96, false, 2},
                                  {52, 80, 10, 0.5, 0.0, 96, true, 2}});
}

TEST_F(MidiChartTest, FailuresLeaveTheChartNotLoadedAndSayWhy) {
    const struct {
        const char* name;
        bool exists;
        Bytes data;
        const char* readerLines;
    } cases[] = {
        {"none.mid", false, {}, ""},
        {"bad.mid", true, file(header(2, 1, 96)), "Error: cannot handle a type-2 MIDI file\n"},
        {"empty.mid", true, {}, "Bad MIDI data input\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.exists ? write(c.name, c.data) : dir.file(c.name);
        MidiChart chart;
        chart.midiBpm = 99.0f;
        std::string out;
        const std::string err = errorsOf([&] { EXPECT_FALSE(loadMidiChart(chart, path)); }, &out);
        EXPECT_EQ(out, "Loading MIDI file: " + path + "\n");
        if (c.exists) {
            EXPECT_EQ(err, c.readerLines + ("ERROR: MidiFile failed to parse data from " + path +
                                            "\nFailed to load MIDI file using asset loader: " + path + "\n"));
        } else {
            EXPECT_EQ(err, "Error: MIDI file does not exist: " + path + "\n");
            EXPECT_EQ(chart.midi, nullptr);
        }
        EXPECT_FALSE(chart.loaded);
        EXPECT_TRUE(chart.notes.empty());
        EXPECT_EQ(chart.midiBpm, 99.0f);
    }
    MidiFile midi;
    const std::string err = errorsOf([&] { EXPECT_FALSE(readMidiFileBytes(dir.file("absent.mid"), midi)); });
    EXPECT_EQ(err,
              "ERROR: Could not open MIDI file " + dir.file("absent.mid") + ": No such file or directory\n");
}

TEST_F(MidiChartTest, AQuotedBackslashPathLoadsAndAReloadReplacesEverything) {
    write("a.mid", twoTrackSong(600000));
    MidiChart chart;
    ASSERT_TRUE(loadQuietly(chart, "\"" + dir.path().string() + "\\a.mid\""));
    EXPECT_EQ(chart.midiPath, dir.file("a.mid"));
    EXPECT_EQ(chart.midiBpm, 100.0f);
    chart.lastPosition = 3.0;

    // A file without notes and with only a zero tempo: an empty chart at 120 BPM, and nothing to scale.
    const std::string quiet =
        write("quiet.mid", file(header(0, 1, 96), track({{0, tempoUs(0)}, {0, {0xFF, 0x01, 0x01, 'x'}}})));
    std::string log;
    errorsOf(
        [&] {
            ASSERT_TRUE(loadMidiChart(chart, quiet));
            scaleChartToBpm(chart, 60.0f);
        },
        &log);
    EXPECT_NE(log.find("Successfully loaded MIDI file: quiet.mid with 0 note events (native BPM: 120.0)\n"),
              std::string::npos);
    EXPECT_EQ(log.find("Found MIDI tempo"), std::string::npos);
    EXPECT_EQ(log.find("MIDI BPM"), std::string::npos);
    EXPECT_TRUE(chart.notes.empty());
    EXPECT_EQ(chart.midiBpm, 120.0f);
    EXPECT_EQ(chart.lastPosition, 0.0);
    EXPECT_EQ(chart.midiPath, quiet);

    releaseMidiChart(chart);
    EXPECT_EQ(chart.midi, nullptr);
    EXPECT_EQ(chart.notes.capacity(), 0u);
    EXPECT_TRUE(chart.midiPath.empty());
    EXPECT_FALSE(chart.loaded);
}

TEST_F(MidiChartTest, ScalesToTheLevelBpmOnlyBeyondOnePercent) {
    const std::string path = write("song.mid", twoTrackSong(500000));
    const float inf = std::numeric_limits<float>::infinity();
    const std::string refused = "Cannot scale MIDI timing to audio BPM";
    const struct {
        float bpm;
        std::string out;
        double factor;
        float bpmAfter;
    } cases[] = {
        {120.0f, "MIDI BPM (120.0) matches audio BPM (120.0), no scaling needed\n", 1.0, 120.0f},
        {121.0f, "MIDI BPM (120.0) matches audio BPM (121.0), no scaling needed\n", 1.0, 120.0f},
        {118.0f,
         "Scaling MIDI timing: MIDI BPM 120.0 -> Audio BPM 118.0 (ratio: 1.017)\n"
         "MIDI events scaled to match audio BPM (118.0)\n",
         120.0 / 118.0, 118.0f},
        {0.0f, refused, 1.0, 120.0f},
        {-60.0f, refused, 1.0, 120.0f},
        {inf, refused, 1.0, 120.0f},
        {std::numeric_limits<float>::quiet_NaN(), refused, 1.0, 120.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bpm);
        MidiChart chart;
        ASSERT_TRUE(loadQuietly(chart, path));
        const std::vector<MidiNoteEvent> before = chart.notes;
        std::string out;
        const std::string err = errorsOf([&] { scaleChartToBpm(chart, c.bpm); }, &out);
        if (c.out == refused) {
            EXPECT_EQ(out, "");
            EXPECT_NE(err.find(refused), std::string::npos);
        } else {
            EXPECT_EQ(out, c.out);
        }
        EXPECT_EQ(chart.midiBpm, c.bpmAfter);
        std::vector<MidiNoteEvent> want = before;
        for (MidiNoteEvent& note : want) {
            note.time *= c.factor;
            note.duration *= c.factor;
        }
        expectSameNotes(chart.notes, want, 1e-6);
        // A second level load at the same BPM finds nothing left to do.
        errorsOf([&] { scaleChartToBpm(chart, c.bpm); });
        expectSameNotes(chart.notes, want, 1e-6);
    }
    MidiChart chart; // not loaded: never scaled
    chart.notes.push_back(MidiNoteEvent{});
    chart.notes.back().time = 1.0;
    errorsOf([&] { scaleChartToBpm(chart, 60.0f); });
    EXPECT_EQ(chart.notes.back().time, 1.0);
}
