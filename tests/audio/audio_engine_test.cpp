#include "audio/audio_engine.hpp"

#include "audio_test_util.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <numeric>
#include <set>
#include <thread>

namespace {

// An engine without a device: the tests pull the mix themselves.
struct EngineTest : ::testing::Test {
    AudioEngine engine;
    void SetUp() override { ASSERT_EQ(engine.init(AudioBackend::NullDriver), AudioResult::Ok); }

    static std::unique_ptr<Wav> makeSource(const std::vector<float>& samples, uint16_t channels,
                                           bool looping) {
        auto wav = std::make_unique<Wav>();
        std::vector<unsigned char> bytes = makeFloatWav(samples, channels);
        EXPECT_EQ(wav->loadMem(bytes.data(), bytes.size()), AudioResult::Ok);
        wav->setLooping(looping);
        return wav;
    }
    std::vector<float> render(unsigned frames) {
        std::vector<float> out(frames * 2);
        engine.mix(out.data(), frames);
        return out;
    }
};

} // namespace

TEST_F(EngineTest, MixesVoicesAtTheirVolumeAndPlaysMonoOnBothSides) {
    auto stereo = makeSource(rampSamples(1000, 0.1f), 2, false);
    auto mono = makeSource(std::vector<float>(1000, 0.25f), 1, false);
    AudioHandle a = engine.play(*stereo, 0.5f);
    engine.play(*mono);
    std::vector<float> out = render(600);
    for (unsigned i = 0; i < 600; ++i) {
        float left = 0.5f * (0.1f + i / 65536.0f);
        ASSERT_FLOAT_EQ(out[i * 2], left + 0.25f) << i;
        ASSERT_FLOAT_EQ(out[i * 2 + 1], -left + 0.25f) << i;
    }
    EXPECT_DOUBLE_EQ(engine.getStreamTime(a), 600.0 / 44100.0);
}

TEST_F(EngineTest, RampsVolumeChangesAcrossOneBlock) {
    auto loud = makeSource(std::vector<float>(4000, 0.4f), 1, true);
    AudioHandle a = engine.play(*loud);
    render(kMixBlockFrames);
    engine.setVolume(a, 0.0f);
    std::vector<float> out = render(kMixBlockFrames * 2);
    // Glides from 0.4 down to silence over the first block, silent afterwards.
    EXPECT_GT(out[0], 0.39f);
    EXPECT_NEAR(out[(kMixBlockFrames / 2) * 2], 0.2f, 0.01f);
    EXPECT_NEAR(out[(kMixBlockFrames - 1) * 2], 0.0f, 1e-6f);
    for (unsigned i = kMixBlockFrames; i < kMixBlockFrames * 2; ++i) {
        ASSERT_EQ(out[i * 2], 0.0f);
    }
}

// A level with eight stems at full scale: the mix goes far past 1, and must be limited smoothly,
// louder staying louder, instead of being cut flat at the rails; quiet passages pass untouched.
TEST_F(EngineTest, EightFullScaleStemsAreLimitedSmoothly) {
    const unsigned frames = 4410;
    std::vector<std::unique_ptr<Wav>> stems;
    std::vector<double> sum(frames, 0.0);
    for (int s = 0; s < 8; ++s) {
        std::vector<float> samples(frames);
        for (unsigned i = 0; i < frames; ++i) {
            samples[i] = static_cast<float>(std::sin(2.0 * M_PI * (110.0 + 55.0 * s) * i / 44100.0 + s));
            sum[i] += samples[i];
        }
        stems.push_back(makeSource(samples, 1, false));
        ASSERT_NE(engine.play(*stems.back()), 0u);
    }
    std::vector<float> out = render(frames);
    std::vector<unsigned> byLevel(frames);
    std::iota(byLevel.begin(), byLevel.end(), 0u);
    std::sort(byLevel.begin(), byLevel.end(), [&](unsigned a, unsigned b) { return sum[a] < sum[b]; });
    EXPECT_GT(sum[byLevel.back()], 4.0);
    for (size_t k = 0; k < frames; ++k) {
        const unsigned i = byLevel[k];
        ASSERT_LT(std::fabs(out[i * 2]), 1.0f) << "mix " << sum[i];
        if (std::fabs(sum[i]) <= 0.5) {
            ASSERT_NEAR(out[i * 2], sum[i], 1e-5) << "mix " << sum[i];
        }
        if (k > 0 && sum[i] - sum[byLevel[k - 1]] > 1e-3) {
            ASSERT_GT(out[i * 2], out[byLevel[k - 1] * 2]) << "mix " << sum[i];
        }
    }
}

// A handle goes stale when its voice is stopped, ends, loses its sound (replaced or destroyed) or
// its engine, and is never handed out again.
TEST_F(EngineTest, HandlesGoStaleAndAreNeverReused) {
    auto source = makeSource(rampSamples(100, 0.0f), 2, true);
    std::set<AudioHandle> seen;
    for (int i = 0; i < 500; ++i) {
        AudioHandle handle = engine.play(*source);
        EXPECT_TRUE(seen.insert(handle).second) << "handle " << handle << " handed out twice";
        EXPECT_TRUE(engine.isValidVoiceHandle(handle));
        i % 2 ? engine.stop(handle) : engine.stopAll();
        EXPECT_FALSE(engine.isValidVoiceHandle(handle));
    }
    auto once = makeSource(rampSamples(100, 0.0f), 2, false);
    AudioHandle single = engine.play(*once);
    render(150);
    EXPECT_FALSE(engine.isValidVoiceHandle(single));
    EXPECT_EQ(engine.getStreamTime(single), 0.0);
    AudioHandle playing = engine.play(*source);
    std::vector<unsigned char> other = makeFloatWav(rampSamples(50, 0.0f), 2);
    ASSERT_EQ(source->loadMem(other.data(), other.size()), AudioResult::Ok);
    EXPECT_FALSE(engine.isValidVoiceHandle(playing));
    EXPECT_EQ(engine.getActiveVoiceCount(), 0u);

    AudioHandle voice = engine.play(*source);
    source.reset(); // its voice must not outlive the samples
    EXPECT_FALSE(engine.isValidVoiceHandle(voice));
    EXPECT_EQ(render(10)[0], 0.0f);
    auto later = makeSource(rampSamples(100, 0.0f), 2, true);
    engine.play(*later);
    engine.deinit();
    later.reset(); // the engine already forgot it
    EXPECT_EQ(engine.play(*once), 0u);
}

TEST_F(EngineTest, GroupReleasesPausedVoicesOnTheSameSample) {
    auto first = makeSource(rampSamples(3000, 0.1f), 2, true);
    auto second = makeSource(rampSamples(3000, 0.2f), 2, true);
    AudioHandle group = engine.createVoiceGroup();
    EXPECT_FALSE(engine.isValidVoiceHandle(group));
    AudioHandle a = engine.play(*first, 1.0f, 0.0f, true);
    render(100); // a mix between the two starts must not let the first one run ahead
    AudioHandle b = engine.play(*second, 1.0f, 0.0f, true);
    EXPECT_EQ(engine.addVoiceToGroup(group, a), AudioResult::Ok);
    EXPECT_EQ(engine.addVoiceToGroup(group, b), AudioResult::Ok);
    EXPECT_EQ(engine.getStreamTime(a), 0.0);
    engine.setPause(group, false);
    std::vector<float> out = render(1000);
    EXPECT_DOUBLE_EQ(engine.getStreamTime(a), engine.getStreamTime(b));
    EXPECT_DOUBLE_EQ(engine.getStreamTime(group), 1000.0 / 44100.0);
    // Both started on frame 0 of the mix: the sum is 0.3 + 2 × i / 65536 throughout.
    EXPECT_FLOAT_EQ(out[0], 0.3f);
    EXPECT_FLOAT_EQ(out[999 * 2], 0.3f + 2 * 999 / 65536.0f);

    // The group's time follows its first voice still playing; it survives stopping its voices.
    engine.stop(a);
    EXPECT_DOUBLE_EQ(engine.getStreamTime(group), engine.getStreamTime(b));
    AudioHandle outside = engine.play(*first);
    std::vector<AudioHandle> members = {b};
    for (int i = 0; i < 4; ++i) {
        members.push_back(engine.play(*second));
        engine.addVoiceToGroup(group, members.back());
    }
    engine.stop(group);
    for (AudioHandle member : members) {
        EXPECT_FALSE(engine.isValidVoiceHandle(member)) << "every member stops, not every other one";
    }
    EXPECT_TRUE(engine.isValidVoiceHandle(outside));
    EXPECT_TRUE(engine.isVoiceGroup(group));
    EXPECT_EQ(engine.getVoiceGroupVoiceCount(group), 0u);
    EXPECT_EQ(engine.getStreamTime(group), 0.0);
    EXPECT_EQ(engine.destroyVoiceGroup(group), AudioResult::Ok);
    EXPECT_FALSE(engine.isVoiceGroup(group));
    EXPECT_NE(engine.addVoiceToGroup(group, engine.play(*first)), AudioResult::Ok);
}

// The main and logic threads change voices while the audio thread mixes (run under
// ThreadSanitizer to check the locking). Looping voices stay in their group until stopped, the
// group's clock only moves forward and never past what has been mixed, stopping the group or
// everything leaves no voice behind, and the mix holds exactly the voices playing: never more
// than three at half volume, and the one left playing at its own level.
TEST_F(EngineTest, MixingOnAnotherThreadWhileVoicesChange) {
    auto source = makeSource(rampSamples(500, 0.1f), 2, true); // left samples 0.1 to 0.1076
    AudioHandle group = engine.createVoiceGroup();
    std::atomic<bool> stop{false}, tooLoud{false};
    std::atomic<uint64_t> mixedFrames{0};
    std::atomic<float> lastPeak{0.0f};
    std::thread mixer([&] {
        std::vector<float> out(512 * 2);
        while (!stop.load()) {
            engine.mix(out.data(), 512);
            float loudest = 0.0f;
            for (float sample : out) {
                loudest = std::isfinite(sample) ? std::max(loudest, std::fabs(sample)) : 1.0f;
            }
            tooLoud = tooLoud || loudest >= 3 * 0.5f * 0.1077f;
            lastPeak = loudest;
            mixedFrames += 512;
        }
    });
    auto awaitMixes = [&](uint64_t count) {
        for (const uint64_t target = mixedFrames.load() + (count + 1) * 512; mixedFrames.load() < target;) {
            std::this_thread::yield();
        }
    };
    [&] {              // the mixer is stopped below, also when an assertion here returns early
        awaitMixes(0); // the mixer is running before the voices start to change
        unsigned members = 0;
        double lastTime = 0.0;
        for (int i = 0; i < 2000; ++i) {
            AudioHandle voice = engine.play(*source, 0.0f, 0.0f, true);
            ASSERT_EQ(engine.addVoiceToGroup(group, voice), AudioResult::Ok);
            engine.setVolume(voice, 0.5f);
            engine.setPause(group, false);
            ASSERT_EQ(engine.getVoiceGroupVoiceCount(group), ++members);
            const double now = engine.getStreamTime(group);
            ASSERT_GE(now, lastTime);
            ASSERT_LE(now, double(mixedFrames.load() + 512) / 44100.0);
            lastTime = now;
            if (i % 3 == 0) {
                i % 2 ? engine.stop(group) : engine.stopAll();
                ASSERT_EQ(engine.getActiveVoiceCount(), 0u) << (i % 2 ? "stop(group)" : "stopAll()");
                ASSERT_EQ(engine.getVoiceGroupVoiceCount(group), 0u);
                members = 0;
                lastTime = 0.0;
            }
        }
        awaitMixes(2); // the last voice's volume glide is over
        EXPECT_GE(lastPeak.load(), 0.5f * 0.1f);
        EXPECT_LE(lastPeak.load(), 0.5f * 0.1077f);
    }();
    stop = true;
    mixer.join();
    EXPECT_FALSE(tooLoud.load());
}
