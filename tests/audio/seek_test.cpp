// Seeking a voice group and pausing it: every voice on the same frame, never torn by the mixer,
// across the loop point, and the song clock moved back only by a seek.
#include "audio/audio_engine.hpp"

#include "audio_test_util.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

constexpr double kFrame = 1.0 / 44100;

using SeekTest = StemFixture;

} // namespace

// Three looping stems of 1000 frames: a seek lands every one on the same frame, back or forward
// across loop points, and the clock and the charts read the new position at once. Positions that
// are none are refused, as is a seek while nothing plays.
TEST_F(SeekTest, EveryStemLandsOnTheSameFrameAndTheClockFollows) {
    addStem("a.wav", 1000, 0.01f);
    addStem("b.wav", 1000, 0.02f);
    addStem("c.wav", 1000, 0.04f);
    EXPECT_EQ(stderrOf([&] { EXPECT_FALSE(seekAllStems(audio, 0.5)); }),
              "Cannot seek: no stems are playing\n");
    stdoutOf([&] { playAllStems(audio); });
    makeAudible({0, 1, 2});
    render(44100);
    EXPECT_DOUBLE_EQ(songClock(audio), 1.0);
    for (const std::uint64_t frame : {2500u, 250u, 44100u + 999u, 0u, 1000u}) { // 1 s: 44 loops + 100
        EXPECT_EQ(stdoutOf([&] {
                      EXPECT_TRUE(seekAllStems(audio, double(frame) * kFrame));
                  }).rfind("All stems moved to ", 0),
                  0u);
        EXPECT_DOUBLE_EQ(songClock(audio), double(frame) * kFrame) << frame;
        for (const LoadedStem& stem : audio.stems) {
            EXPECT_DOUBLE_EQ(audio.engine->getStreamTime(stem.voice), double(frame) * kFrame);
            EXPECT_DOUBLE_EQ(stem.chart.lastClock, double(frame) * kFrame);
        }
        EXPECT_FLOAT_EQ(render(1)[0], 0.07f + 3 * float(frame % 1000) / 65536.0f) << frame;
        EXPECT_DOUBLE_EQ(songClock(audio), double(frame + 1) * kFrame) << "and plays on from there";
    }
    for (const double bad : {-0.001, std::nan(""), HUGE_VAL, 1e300}) {
        EXPECT_NE(
            stderrOf([&] { EXPECT_FALSE(seekAllStems(audio, bad)); }).find("not a position in the song"),
            std::string::npos);
        EXPECT_DOUBLE_EQ(songClock(audio), 1001 * kFrame) << bad << ": nothing moved";
    }
}

// A pause holds every stem where it is; a seek meanwhile moves the place it resumes from; a start
// may be from a position.
TEST_F(SeekTest, PauseHoldsResumeGoesOnAndAStartMayBeFromAPosition) {
    addStem("a.wav", 1000, 0.01f);
    addStem("b.wav", 1000, 0.02f);
    stdoutOf([&] { playAllStems(audio); });
    makeAudible({0, 1});
    render(700);
    pauseAllStems(audio);
    EXPECT_TRUE(audio.paused);
    EXPECT_EQ(render(500)[0], 0.0f) << "silent while paused";
    EXPECT_DOUBLE_EQ(songClock(audio), 700 * kFrame);
    resumeAllStems(audio);
    EXPECT_FLOAT_EQ(render(1)[0], 0.03f + 2 * 700 / 65536.0f);

    pauseAllStems(audio);
    stdoutOf([&] { seekAllStems(audio, 100 * kFrame); });
    EXPECT_TRUE(audio.engine->getPause(audio.voiceGroup)) << "a seek keeps the pause";
    resumeAllStems(audio);
    EXPECT_FALSE(audio.paused);
    EXPECT_FLOAT_EQ(render(1)[0], 0.03f + 2 * 100 / 65536.0f);

    stdoutOf([&] { stopAllStems(audio); });
    stdoutOf([&] { EXPECT_TRUE(playAllStems(audio, 1234 * kFrame)); });
    EXPECT_DOUBLE_EQ(songClock(audio), 1234 * kFrame);
    EXPECT_FLOAT_EQ(render(1)[0], 0.03f + 2 * 234 / 65536.0f) << "the first frame is the start's";
}

// The mixer on its own thread while the group is sought over and over: every block it mixes has
// all voices on one frame. Voices at volumes 1, 2 and 4 playing frames p1, p2, p3 of the same ramp
// sum to (p1 + 2 p2 + 4 p3) / 65536, a multiple of 7 / 65536 when the three agree.
TEST(EngineSeek, TheMixerNeverSeesAGroupHalfSought) {
    AudioEngine engine;
    ASSERT_EQ(engine.init(AudioBackend::NullDriver), AudioResult::Ok);
    std::vector<float> ramp = rampSamples(4096, 0.0f);
    const std::vector<unsigned char> bytes = makeFloatWav(ramp, 2);
    Wav sources[3];
    const AudioHandle group = engine.createVoiceGroup();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sources[i].loadMem(bytes.data(), bytes.size()), AudioResult::Ok);
        sources[i].setLooping(true);
        engine.addVoiceToGroup(group, engine.play(sources[i], float(1 << i), 0.0f, true));
    }
    engine.setPause(group, false);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, blocks{0};
    std::thread mixer([&] {
        std::vector<float> out(kMixBlockFrames * 2);
        while (!done.load()) {
            engine.mix(out.data(), kMixBlockFrames);
            const double sevenths = double(out[0]) * 65536.0 / 7.0;
            torn += std::fabs(sevenths - std::round(sevenths)) > 1e-3 ? 1 : 0;
            ++blocks;
        }
    });
    std::uint32_t seed = 7;
    for (int i = 0; i < 20000 || blocks.load() < 2000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        ASSERT_EQ(engine.seek(group, (seed >> 8) % 100000), AudioResult::Ok);
        if (i > 2'000'000) {
            break; // a stalled mixer fails below rather than hangs
        }
    }
    done = true;
    mixer.join();
    EXPECT_GE(blocks.load(), 2000);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(engine.seek(0x12345, 0), AudioResult::InvalidParameter);
}

// On a device (SDL's dummy driver, in real time) the clock read after a seek back is the new
// position, and from there it never goes back again while it plays on.
TEST(SeekDevice, TheClockGoesBackOnlyOnASeekAndPlaysOnFromThere) {
    AudioSystem audio;
    ASSERT_TRUE(playOnDummyDevice(audio, kDevicePeriodFrames));
    EXPECT_TRUE(clockClimbsTo(audio, 0.3));
    stdoutOf([&] { EXPECT_TRUE(seekAllStems(audio, 0.05)); });
    EXPECT_DOUBLE_EQ(songClock(audio), 0.05);
    EXPECT_TRUE(clockClimbsTo(audio, 0.25)) << "forward only, from the new position";
    stdoutOf([&] { audioShutdown(audio); });
}
