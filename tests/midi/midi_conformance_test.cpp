// Charts of the fixtures in tests/data/midi against the expectations that
// tools/midi_conformance.py computed from an independent reader (mido), and the text rendering
// of each fixture against its binary form.
#include "audio/midi_chart.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <unistd.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
namespace fs = std::filesystem;

namespace {

const std::string kDir = std::string(VIBRELLE_TEST_DATA) + "/midi/";

const char *const kCheckedFixtures[] = {"format0_running_status", "format1_tempo_map", "overlapping_notes",
                                        "sysex_and_meta", "same_tick_tracks"};

// Loads a chart quietly; answers the loader's result.
bool loadQuietly(MidiChart &chart, const std::string &path, std::string *errors = nullptr) {
    CaptureStdout();
    CaptureStderr();
    const bool ok = loadMidiChart(chart, path);
    GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    if (errors) {
        *errors = err;
    }
    return ok;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void expectSameNotes(const std::vector<MidiNoteEvent> &got, const std::vector<MidiNoteEvent> &want,
                     const std::string &what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(what + " note " + std::to_string(i));
        EXPECT_EQ(got[i].time, want[i].time);
        EXPECT_EQ(got[i].duration, want[i].duration);
        EXPECT_EQ(got[i].tick, want[i].tick);
        EXPECT_EQ(got[i].note, want[i].note);
        EXPECT_EQ(got[i].velocity, want[i].velocity);
        EXPECT_EQ(got[i].pan, want[i].pan);
        EXPECT_EQ(got[i].channel, want[i].channel);
        EXPECT_EQ(got[i].isNoteOn, want[i].isNoteOn);
        EXPECT_EQ(got[i].track, 0);
    }
}

// The bytes written as text, cycling through the token kinds that can stand for one byte, with
// comments and blank lines between. The text must not start with 'M', so the header magic comes
// as a quoted string after a comment.
std::string renderAsText(const std::string &bytes) {
    std::ostringstream text;
    text << "; text rendering\n\n\"" << bytes.substr(0, 4) << "\" # header magic\n";
    for (size_t i = 4; i < bytes.size(); ++i) {
        const unsigned b = static_cast<unsigned char>(bytes[i]);
        switch (i % 5) {
        case 0:
            text << std::hex << b << std::dec;
            break;
        case 1: {
            std::string bits;
            for (int bit = 7; bit >= 0; --bit) {
                bits += ((b >> bit) & 1) ? '1' : '0';
                if (bit == 4) {
                    bits += ',';
                }
            }
            text << bits;
            break;
        }
        case 2:
            text << "'" << b;
            break;
        case 3:
            text << (b >= 0x80 ? "'-" + std::to_string(256 - b) : "1'" + std::to_string(b));
            break;
        default:
            if (b > 0x20 && b < 0x7F) {
                text << '+' << static_cast<char>(b);
            } else {
                text << std::setw(2) << std::setfill('0') << std::hex << b << std::dec;
            }
            break;
        }
        text << ((i % 16 == 15) ? "\t// next line\n" : " ");
    }
    return text.str();
}

class MidiConformance : public testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vibrelle-conformance-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
};

} // namespace

TEST_F(MidiConformance, ChartsMatchTheIndependentReader) {
    for (const char *name : kCheckedFixtures) {
        SCOPED_TRACE(name);
        const nlohmann::json expected = nlohmann::json::parse(readFile(kDir + name + ".json"));
        MidiChart chart;
        ASSERT_TRUE(loadQuietly(chart, kDir + name + ".mid"));
        EXPECT_EQ(chart.midi->ticksPerQuarterNote, expected["ticksPerQuarterNote"].get<int>());
        EXPECT_EQ(chart.midiBpm, static_cast<float>(expected["midiBpm"].get<double>()));
        std::vector<MidiNoteEvent> want;
        for (const auto &n : expected["notes"]) {
            MidiNoteEvent e;
            e.time = n["time"].get<double>();
            e.duration = n["duration"].get<double>();
            e.tick = n["tick"].get<int>();
            e.note = n["note"].get<int>();
            e.velocity = n["velocity"].get<int>();
            e.pan = n["pan"].get<int>();
            e.channel = n["channel"].get<int>();
            e.isNoteOn = n["on"].get<bool>();
            want.push_back(e);
        }
        ASSERT_FALSE(want.empty());
        expectSameNotes(chart.notes, want, name);
    }
}

TEST_F(MidiConformance, TextRenderingReadsBackToTheSameChart) {
    for (const char *name : kCheckedFixtures) {
        SCOPED_TRACE(name);
        const std::string textPath = (dir / (std::string(name) + ".txt")).string();
        std::ofstream(textPath) << renderAsText(readFile(kDir + name + ".mid"));
        MidiChart binary;
        MidiChart text;
        ASSERT_TRUE(loadQuietly(binary, kDir + name + ".mid"));
        std::string errors;
        ASSERT_TRUE(loadQuietly(text, textPath, &errors)) << errors;
        EXPECT_EQ(text.midiBpm, binary.midiBpm);
        expectSameNotes(text.notes, binary.notes, name);
    }
}

TEST_F(MidiConformance, SmpteDivisionWorkedOutByHand) {
    // 25 frames x 40 subframes = 1000 ticks per quarter note at the default 120 BPM: 0.5 ms a tick.
    MidiChart chart;
    std::string errors;
    ASSERT_TRUE(loadQuietly(chart, kDir + "smpte_division.mid", &errors));
    EXPECT_EQ(errors, "");
    EXPECT_EQ(chart.midi->ticksPerQuarterNote, 1000);
    ASSERT_EQ(chart.notes.size(), 4u);
    const int ticks[] = {0, 1000, 1500, 2000};
    const double times[] = {0.0, 0.5, 0.75, 1.0};
    const bool on[] = {true, false, true, false};
    const double durations[] = {0.5, 0.0, 0.25, 0.0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(chart.notes[i].tick, ticks[i]);
        EXPECT_DOUBLE_EQ(chart.notes[i].time, times[i]);
        EXPECT_EQ(chart.notes[i].isNoteOn, on[i]);
        EXPECT_DOUBLE_EQ(chart.notes[i].duration, durations[i]);
        EXPECT_EQ(chart.notes[i].note, 60 + i / 2);
    }
}

TEST_F(MidiConformance, RunningStatusAfterSysexIsRefused) {
    MidiChart chart;
    std::string errors;
    EXPECT_FALSE(loadQuietly(chart, kDir + "running_status_after_sysex.mid", &errors));
    // The reader's lines, then (after the loader's line in SDL's log) the chart loader's.
    EXPECT_EQ(
        errors.rfind("Error: running status not permitted with meta and sysex event.\nByte is 0x3c\n", 0), 0u)
        << errors;
    const std::string last =
        "Failed to load MIDI file using asset loader: " + kDir + "running_status_after_sysex.mid\n";
    EXPECT_EQ(errors.substr(errors.size() - std::min(errors.size(), last.size())), last);
    EXPECT_FALSE(chart.loaded);
}
