// Charts of the fixtures in tests/data/midi against the expectations that
// tools/midi_conformance.py computed from an independent reader (mido), and the text rendering
// of each fixture against its binary form.
#include "audio/midi_chart.hpp"
#include "midi_bytes.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace midibytes;

namespace {

const std::string kDir = std::string(VIBRELLE_TEST_DATA) + "/midi/";

const char* const kCheckedFixtures[] = {"format0_running_status", "format1_tempo_map", "overlapping_notes",
                                        "sysex_and_meta", "same_tick_tracks"};

// The bytes written as text, cycling through token kinds that stand for one byte (each kind is
// checked on its own in midi_text_test), with comments between. The text must not start with 'M',
// so the header magic comes as a quoted string after a comment.
std::string renderAsText(const std::string& bytes) {
    std::ostringstream text;
    text << "; text rendering\n\n\"" << bytes.substr(0, 4) << "\" # header magic\n";
    for (size_t i = 4; i < bytes.size(); ++i) {
        const unsigned b = static_cast<unsigned char>(bytes[i]);
        if (i % 4 == 0 || (i % 4 == 3 && (b <= 0x20 || b >= 0x7F))) {
            text << std::hex << b << std::dec;
        } else if (i % 4 == 1) {
            text << "'" << b;
        } else if (i % 4 == 2) {
            text << (b >= 0x80 ? "'-" + std::to_string(256 - b) : "1'" + std::to_string(b));
        } else {
            text << '+' << static_cast<char>(b);
        }
        text << ((i % 16 == 15) ? "\t// next line\n" : " ");
    }
    return text.str();
}

} // namespace

TEST(MidiConformance, ChartsMatchTheIndependentReaderAndTheirTextRendering) {
    for (const char* name : kCheckedFixtures) {
        SCOPED_TRACE(name);
        const nlohmann::json expected = nlohmann::json::parse(readText(kDir + name + ".json"));
        MidiChart chart;
        ASSERT_TRUE(loadQuietly(chart, kDir + name + ".mid"));
        EXPECT_EQ(chart.midi->ticksPerQuarterNote, expected["ticksPerQuarterNote"].get<int>());
        EXPECT_EQ(chart.midiBpm, static_cast<float>(expected["midiBpm"].get<double>()));
        ASSERT_FALSE(expected["notes"].empty());
        expectSameNotes(chart.notes, notesFromJson(expected["notes"]));

        TempDir dir;
        std::ofstream(dir.file("song.txt")) << renderAsText(readText(kDir + name + ".mid"));
        MidiChart text;
        std::string errors;
        ASSERT_TRUE(loadQuietly(text, dir.file("song.txt"), &errors)) << errors;
        EXPECT_EQ(text.midiBpm, chart.midiBpm);
        expectSameNotes(text.notes, chart.notes);
    }
}

// 25 frames x 40 subframes = 1000 ticks per quarter note at the default 120 BPM: 0.5 ms a tick.
TEST(MidiConformance, SmpteDivisionWorkedOutByHand) {
    MidiChart chart;
    std::string errors;
    ASSERT_TRUE(loadQuietly(chart, kDir + "smpte_division.mid", &errors));
    EXPECT_EQ(errors, "");
    // Fields: note, velocity, pan, time, duration, tick, on, channel.
    expectSameNotes(chart.notes,
                    {{60, 100, 64, 0.0, 0.5, 0, true, 0},
                     {60, 64, 64, 0.5, 0.0, 1000, false, 0},
                     {61, 100, 64, 0.75, 0.25, 1500, true, 0},
                     {61, 64, 64, 1.0, 0.0, 2000, false, 0}},
                    1e-12);
}
