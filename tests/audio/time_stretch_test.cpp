// The voice group slowed for practice: the song clock against what comes out, the pitch, native
// speed untouched, seeks and pauses, and the speeds setPlaybackSpeed takes.
#include "audio_test_util.hpp"

#include <cmath>

namespace {

constexpr double kRate = 44100.0;

struct StretchTest : StemFixture {
    // Loads `seconds` of a stereo stem whose every frame is f(seconds into it), fully audible.
    template <class F> void addSignal(double seconds, F f) {
        std::vector<float> samples(size_t(seconds * kRate) * 2);
        for (size_t i = 0; i < samples.size() / 2; ++i) {
            samples[i * 2] = samples[i * 2 + 1] = f(double(i) / kRate);
        }
        stdoutOf([&] { ASSERT_TRUE(loadStem(audio, dir.write("s.wav", makeFloatWav(samples, 2)))); });
        makeAudible({int(audio.stems.size()) - 1});
    }
    double clock(double* rate = nullptr) { return songClock(audio, rate); }
    float peak(unsigned frames) {
        const std::vector<float> out = render(frames);
        return std::fabs(*std::max_element(out.begin(), out.end(),
                                           [](float a, float b) { return std::fabs(a) < std::fabs(b); }));
    }
    void speed(double value) {
        stdoutOf([&] { ASSERT_TRUE(setPlaybackSpeed(audio, value)); });
    }
};

// A quiet tone with a loud click every 0.3 to 0.5 s.
const std::vector<double> kClicks = [] {
    std::vector<double> at;
    for (double t = 0.25; t < 9.5; t += 0.3 + 0.2 * std::fabs(std::sin(t * 7.0))) {
        at.push_back(t);
    }
    return at;
}();
float clickTrack(double t) {
    const auto c = std::upper_bound(kClicks.begin(), kClicks.end(), t);
    const double since = c == kClicks.begin() ? 1.0 : t - *(c - 1);
    const float click = since < 0.002 ? 0.8f * float(std::exp(-since * 1000.0)) : 0.0f;
    return 0.05f * float(std::sin(2 * M_PI * 220 * t)) + (int(since * kRate) % 2 ? click : -click);
}

} // namespace

// After n output frames the clock reads about n × speed / 44100 (less the stretcher's lead), runs at
// the speed, and reads each click's time when the click comes out (sample-exact at full speed).
TEST_F(StretchTest, TheClockReadsEachClicksTimeWhenItIsHeard) {
    addSignal(10.0, clickTrack);
    for (const double s : {0.5, 0.75, 1.0}) {
        speed(s);
        stdoutOf([&] { playAllStems(audio); });
        double worst = 0.0, rate = 0.0, lastOnset = -1.0;
        size_t heard = 0;
        const unsigned blocks = unsigned(9.0 / s * kRate / kMixBlockFrames);
        for (unsigned b = 0; b < blocks; ++b) {
            const double before = clock(&rate);
            const std::vector<float> out = render(kMixBlockFrames);
            for (unsigned j = 0; j < kMixBlockFrames; ++j) {
                const double at = before + j * s / kRate;
                if (std::fabs(out[j * 2]) > 0.4f && at - lastOnset > 0.1) {
                    lastOnset = at;
                    const double due = kClicks.at(heard++);
                    worst = std::max(worst, std::fabs(at - due));
                }
            }
        }
        const double n = double(blocks) * kMixBlockFrames;
        EXPECT_NEAR(clock(), n * s / kRate, s < 1.0 ? 0.02 : 1e-9) << s;
        EXPECT_DOUBLE_EQ(rate, s);
        EXPECT_GT(heard, 8 * kClicks.size() / 10) << s;
        EXPECT_LT(worst, s < 1.0 ? 0.008 : 1.0 / kRate) << s << ": every click heard when due";
    }
}

// A 1 kHz tone slowed stays at 1 kHz: 2000 sign changes a second.
TEST_F(StretchTest, PitchIsKept) {
    addSignal(4.0, [](double t) { return 0.5f * float(std::sin(2 * M_PI * 1000 * t)); });
    for (const double s : {0.5, 0.75}) {
        speed(s);
        stdoutOf([&] { playAllStems(audio); });
        const std::vector<float> out = render(44100);
        int crossings = 0;
        for (size_t i = 2; i < out.size(); i += 2) {
            crossings += (out[i] < 0.0f) != (out[i - 2] < 0.0f);
        }
        EXPECT_NEAR(crossings, 2000, 20) << s;
    }
}

// 100 % is the plain mix, sample for sample, whatever speeds were set before; a change while
// paused goes on from the position being heard.
TEST_F(StretchTest, FullSpeedIsThePlainMixAndAChangeGoesOnFromWhatIsHeard) {
    addSignal(3.0, clickTrack);
    stdoutOf([&] { playAllStems(audio); });
    const std::vector<float> plain = render(88200);
    speed(0.6);
    speed(1.0);
    stdoutOf([&] { playAllStems(audio); });
    EXPECT_EQ(render(88200), plain);
    speed(0.75);
    stdoutOf([&] { playAllStems(audio); });
    render(30000);
    pauseAllStems(audio);
    const double heard = clock();
    speed(1.0);
    EXPECT_NEAR(clock(), heard, 1.0 / kRate);
    resumeAllStems(audio);
    EXPECT_EQ(render(1)[0], clickTrack(std::round(heard * kRate) / kRate));
}

// A seek lands the clock on the new position with nothing of the old one left in the stretcher; a
// pause holds the clock and the sound, and the resume goes on with what the stretcher held.
TEST_F(StretchTest, SeeksAndPausesKeepTheSoundAndTheClockTogether) {
    addSignal(4.0, [](double t) { return t < 2.0 ? 0.5f * float(std::sin(2 * M_PI * 440 * t)) : 0.0f; });
    speed(0.75);
    stdoutOf([&] { playAllStems(audio); });
    render(44100);
    audio.clockOffset = 0.02; // the player's, in seconds of the world: 15 ms of the song at 75 %
    stdoutOf([&] { seekAllStems(audio, 3.0); });
    EXPECT_DOUBLE_EQ(clock(), 3.0 - 0.015);
    EXPECT_EQ(peak(22050), 0.0f) << "no stale audio";
    stdoutOf([&] { seekAllStems(audio, 0.5); });
    render(10000);
    pauseAllStems(audio);
    const double held = clock();
    EXPECT_EQ(peak(5000), 0.0f);
    EXPECT_EQ(clock(), held);
    resumeAllStems(audio);
    EXPECT_NE(render(1)[0], 0.0f);
    EXPECT_NEAR(clock(), held + 0.75 / kRate, 1e-9);
    EXPECT_EQ(audio.engine->getGroupSpeed(audio.voiceGroup), 0.75) << "kept through seeks and pauses";
}

// Whole twentieths from a half to one, on a running audio system; the engine takes any speed there.
TEST_F(StretchTest, SpeedsAreHalfToFullInStepsOfFivePerCent) {
    for (const double bad : {0.45, 1.05, 0.72, -1.0, std::nan("")}) {
        const std::string said = stderrOf([&] { EXPECT_FALSE(setPlaybackSpeed(audio, bad)); });
        EXPECT_EQ(said.rfind("Cannot set the playback speed to ", 0), 0u) << bad;
    }
    EXPECT_EQ(stdoutOf([&] { EXPECT_TRUE(setPlaybackSpeed(audio, 0.55)); }), "Playback speed set to 55 %\n");
    EXPECT_EQ(audio.engine->getGroupSpeed(audio.voiceGroup), audio.playbackSpeed);
    AudioSystem none;
    EXPECT_EQ(stderrOf([&] { EXPECT_FALSE(setPlaybackSpeed(none, 0.5)); }),
              "Cannot set the playback speed: the audio system is not running\n");
    EXPECT_EQ(audio.engine->setGroupSpeed(audio.voiceGroup, 0.4), AudioResult::InvalidParameter);
}
