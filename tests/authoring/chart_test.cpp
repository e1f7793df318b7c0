// The playability pass against the game's rules, checked independently of how it places
// circles, and written charts read back through the game's own MIDI chart loader.
#include "audio/midi_chart.hpp"
#include "authoring/chart_writer.hpp"
#include "authoring/playability.hpp"
#include "authoring_support.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace authoringtest;

namespace {

// Dense, overlapping notes on three stems: pitched lines that crowd one keyboard lane and
// unpitched hits everywhere, with holds, closer together than anyone could play.
std::vector<std::vector<DetectedNote>> crowdedLevel(double loop) {
    std::vector<std::vector<DetectedNote>> stems(3);
    uint32_t seed = 7;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    for (size_t s = 0; s < stems.size(); ++s) {
        for (double t = 0.013 * s; t < loop; t += 0.06 + 0.01 * next(8)) {
            DetectedNote note;
            note.time = t;
            note.key = s == 2 ? static_cast<int>(16 + next(97)) : static_cast<int>(60 + next(7));
            note.strength = static_cast<float>(next(100)) / 100.0f;
            note.pan = static_cast<int>(next(128));
            note.hold = s == 1 && next(4) == 0;
            note.duration = note.hold ? 0.3 + 0.1 * next(20) : 0.05;
            stems[s].push_back(note);
        }
    }
    return stems;
}

// When a circle leaves the screen: a hold 0.3 s after its end, a tap 0.2 s after its time.
double removedAt(const ChartNote& n) { return n.time + (n.hold ? n.duration + 0.3 : 0.2); }

bool windowsMeet(double a0, double a1, double b0, double b1, double loop) {
    for (double shift : {-loop, 0.0, loop}) {
        if (a0 < b1 + shift && b0 + shift < a1) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(Playability, ChartsKeepTheGamesRules) {
    const double loop = 12.0;
    const std::vector<std::vector<DetectedNote>> detected = crowdedLevel(loop);
    PlayabilityRules rules;
    rules.loopSeconds = loop;
    rules.maxCircles = 12; // low enough that the limit is reached
    PlayabilityReport report;
    const std::vector<std::vector<ChartNote>> charts = makePlayable(detected, rules, &report);
    ASSERT_EQ(charts.size(), detected.size());
    EXPECT_GT(report.thinned, 0);
    EXPECT_GT(report.crowded, 0);
    EXPECT_GT(report.overLimit, 0);

    std::vector<ChartNote> all;
    for (size_t s = 0; s < charts.size(); ++s) {
        ASSERT_FALSE(charts[s].empty());
        for (size_t i = 0; i < charts[s].size(); ++i) {
            const ChartNote& n = charts[s][i];
            // Only the height may change: each circle is a detected note at its time and key.
            bool fromDetection = false;
            for (const DetectedNote& d : detected[s]) {
                fromDetection = fromDetection || (d.time == n.time && d.key == n.key && d.pan == n.pan);
            }
            EXPECT_TRUE(fromDetection) << "stem " << s << " at " << n.time;
            EXPECT_GE(n.velocity, rules.lowestVelocity);
            EXPECT_LE(n.velocity, rules.highestVelocity);
            // One stem: the gap, and a hold's end before the next note, across the loop's end too.
            const ChartNote& following = charts[s][(i + 1) % charts[s].size()];
            const double nextStart = following.time + (i + 1 == charts[s].size() ? loop : 0.0);
            EXPECT_GE(nextStart - n.time - n.duration, rules.minGap - 1e-9)
                << "stem " << s << " at " << n.time;
            EXPECT_TRUE(!n.hold || n.duration >= kMinHoldSeconds);
            all.push_back(n);
        }
    }

    // Circles that can take one press: apart on screen and on different keyboard keys; a hold
    // keeps its key until it ends.
    for (size_t a = 0; a < all.size(); ++a) {
        for (size_t b = a + 1; b < all.size(); ++b) {
            const ChartNote& x = all[a];
            const ChartNote& y = all[b];
            if (windowsMeet(x.time - 0.1, x.time + 0.2, y.time - 0.1, y.time + 0.2, loop) ||
                windowsMeet(x.time - 0.1, removedAt(x), y.time - 0.1, removedAt(y), loop)) {
                const double dx = (x.key - y.key) * 1280.0 / 128.0;
                const double dy = (x.velocity - y.velocity) * 720.0 / 128.0;
                EXPECT_GE(std::hypot(dx, dy), rules.separation) << x.time << " and " << y.time;
                EXPECT_NE(keyboardSlot(x.key, x.velocity), keyboardSlot(y.key, y.velocity))
                    << x.time << " and " << y.time;
            }
        }
    }

    // Alive from one second ahead until removal, every stem at once, sampled through the loop.
    for (double t = 0.0; t < loop; t += 0.01) {
        int alive = 0;
        for (const ChartNote& n : all) {
            alive += windowsMeet(t, t + 1e-6, n.time - 1.0, removedAt(n), loop) ? 1 : 0;
        }
        ASSERT_LE(alive, rules.maxCircles) << "at " << t;
    }
}

// Groups of four taps, one per stem on lanes far apart, every 0.41 s: no two groups share a press
// or a key, and a circle alive from one second ahead to 0.2 s after sees three groups, 12 circles.
std::vector<std::vector<DetectedNote>> steadyGroups(int groups) {
    std::vector<std::vector<DetectedNote>> stems(4);
    for (int g = 0; g < groups; ++g) {
        for (size_t s = 0; s < stems.size(); ++s) {
            DetectedNote note;
            note.time = 0.41 * g;
            note.key = 8 + 32 * static_cast<int>(s);
            note.strength = 0.5f;
            stems[s].push_back(note);
        }
    }
    return stems;
}

TEST(Playability, TheCircleLimitCountsEachLiveCircleOnce) {
    const int groups = 30;
    // Without a loop, and looping with the same spacing across the loop's end.
    for (const double loop : {0.0, 0.41 * groups}) {
        for (const int limit : {12, 11}) {
            PlayabilityRules rules;
            rules.loopSeconds = loop;
            rules.maxCircles = limit;
            PlayabilityReport report;
            makePlayable(steadyGroups(groups), rules, &report);
            EXPECT_EQ(report.crowded, 0) << "loop " << loop;
            if (limit == 12) {
                EXPECT_EQ(report.overLimit, 0)
                    << "a chart at exactly its limit keeps every circle, loop " << loop;
            } else {
                EXPECT_GT(report.overLimit, 0) << "one below its peak, loop " << loop;
            }
        }
    }
}

TEST(ChartWriter, WrittenChartsReadBackThroughTheGamesLoader) {
    const double bpm = 97.3; // ticks that do not fall on round seconds
    const std::vector<ChartNote> notes = {
        {0.0, 0.0, 36, 100, 64, false},   {0.2501, 0.0, 36, 30, 10, false}, {0.611, 1.25, 60, 64, 10, true},
        {2.0, 0.0, 127, 127, 127, false}, {2.0004, 0.0, 0, 1, 0, false},    {2.9, 0.75, 60, 90, 100, true},
        {3.8, 0.0, 72, 55, 100, false},
    };
    TempDir folder;
    const std::string path = (folder.path() / "chart.mid").string();
    std::string error;
    ASSERT_TRUE(writeChartMidi(path, notes, bpm, "Test chart", error)) << error;

    MidiChart chart;
    ::testing::internal::CaptureStdout(); // the loader's progress lines
    const bool loaded = loadMidiChart(chart, path);
    scaleChartToBpm(chart, static_cast<float>(bpm)); // as the level loader does: nothing may move
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(loaded);
    EXPECT_NEAR(chart.midiBpm, bpm, 0.01);

    std::vector<const MidiNoteEvent*> ons;
    for (const MidiNoteEvent& event : chart.notes) {
        if (event.isNoteOn) {
            ons.push_back(&event);
        }
    }
    ASSERT_EQ(ons.size(), notes.size());
    const double halfTick = 0.5 * 60.0 / bpm / kChartTicksPerQuarter;
    for (size_t i = 0; i < notes.size(); ++i) {
        const ChartNote& want = notes[i];
        const MidiNoteEvent* got = nullptr;
        for (const MidiNoteEvent* candidate : ons) {
            if (std::fabs(candidate->time - want.time) <= halfTick + 1e-9 && candidate->note == want.key) {
                got = candidate;
            }
        }
        ASSERT_NE(got, nullptr) << "note " << i;
        EXPECT_EQ(got->velocity, want.velocity) << "note " << i;
        EXPECT_EQ(got->pan, want.pan) << "note " << i;
        EXPECT_EQ(got->channel, want.hold ? 1 : 0) << "note " << i;
        if (want.hold) {
            EXPECT_NEAR(got->duration, want.duration, 2 * halfTick) << "note " << i;
        } else {
            EXPECT_GT(got->duration, 0.0) << "every note-on has its note-off";
        }
    }
}
