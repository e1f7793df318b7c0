// The audio system on the null driver: loading stems, playing them as one group, and the layers
// that reach the mix; and once through SDL's output device.
#include "audio/stem_loaders.hpp"
#include "audio_test_util.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <atomic>
#include <thread>

using AudioSystemTest = StemFixture;

// Every format, and a path written with backslashes and quotes, which loads (and logs) as its
// clean form.
TEST_F(AudioSystemTest, LoadsEveryFormatAsAnInactiveStemNamedAfterItsFile) {
    const char* files[] = {"stem.wav", "stem.ogg", "stem.mp3", "stem.flac", "stem.flac"};
    for (size_t i = 0; i < 5; ++i) {
        const std::string path = audioFixturePath(files[i]);
        std::string written = path;
        if (i == 4) {
            std::replace(written.begin(), written.end(), '/', '\\');
            written = "\"" + written + "\"";
        }
        std::string log = stdoutOf([&] { EXPECT_TRUE(loadStem(audio, written)); });
        EXPECT_EQ(log, "Loading stem: " + path + "\nSuccessfully loaded stem: " + files[i] + "\n");
        const LoadedStem& stem = audio.stems.at(i);
        EXPECT_EQ(stem.name, files[i]);
        EXPECT_EQ(stem.index, static_cast<int>(i));
        EXPECT_FALSE(stem.active || stem.fading || stem.chart.loaded);
        ASSERT_TRUE(stem.stream); // stems stream unless told to decode whole
        EXPECT_TRUE(stem.stream->getLooping());
        EXPECT_DOUBLE_EQ(stem.chart.audioLength, (i == 0 ? 2205 : 4410) / 44100.0);
    }
}

TEST_F(AudioSystemTest, RefusesMissingEmptyAndUndecodableFiles) {
    auto refusal = [&](const std::string& path) {
        return errorsOf([&] { EXPECT_FALSE(loadStem(audio, path)); });
    };
    std::string missing = audioFixturePath("no_such_stem.ogg");
    EXPECT_EQ(refusal(missing), "Error: File does not exist: " + missing + "\n");
    std::string empty = audioFixturePath("empty.wav");
    EXPECT_EQ(refusal(empty), "File loaded via SDL is empty (0 bytes): " + empty + "\n");
    std::string text = audioFixturePath("not_audio.wav");
    EXPECT_EQ(refusal(text), "Failed to load audio file: " + text + "  (Error: 3)\n");
    std::string folder = dir.path().string();
    EXPECT_EQ(refusal(folder).rfind("SDL_LoadFile failed for: " + folder + ", Error: ", 0), 0u);
    // A device would be read for ever.
    EXPECT_EQ(refusal("/dev/zero"), "Error: Not a regular file: /dev/zero\n");
    // The cap on a compressed stem file's size.
    std::string stem = audioFixturePath("stem.wav");
    audio.limits.maxFileBytes = 8000;
    EXPECT_EQ(refusal(stem),
              "Error: File too large: " + stem + " (0.0 MB; a stem file may have at most 0.0 MB)\n");
    EXPECT_TRUE(audio.stems.empty());
}

// All stems start silent on the same output sample, whatever their lengths; only the active ones
// are heard, after one block's glide. (A cut layer's silence: StemLayeringTest.)
TEST_F(AudioSystemTest, PlayAllStartsSilentVoicesInOneGroupAndOnlyActiveStemsAreHeard) {
    EXPECT_EQ(stdoutOf([&] { playAllStems(audio); }),
              "Playing all stems with voice group.\nNo stems to play.\n");
    EXPECT_FALSE(audio.playing);
    addStem("a.wav", 1000, 0.1f);
    addStem("b.wav", 1500, 0.2f);
    addStem("c.wav", 2205, 0.3f);
    EXPECT_EQ(stdoutOf([&] { playAllStems(audio); }),
              "Playing all stems with voice group.\nPlayback initiated for 3 stem(s) using voice group.\n");
    EXPECT_TRUE(audio.playing);
    EXPECT_EQ(audio.engine->getVoiceGroupVoiceCount(audio.voiceGroup), 3u);
    for (float sample : render(3000)) {
        ASSERT_EQ(sample, 0.0f);
    }
    for (const LoadedStem& stem : audio.stems) {
        EXPECT_TRUE(audio.engine->isVoiceInGroup(audio.voiceGroup, stem.voice));
        EXPECT_DOUBLE_EQ(audio.engine->getStreamTime(stem.voice), 3000.0 / 44100.0);
    }

    // After one block of glide, only a.wav is heard (at its frame i again: 3000 = 3 × 1000).
    makeAudible({0});
    const std::vector<float> out = render(kMixBlockFrames + 500);
    for (unsigned i = kMixBlockFrames; i < kMixBlockFrames + 500; ++i) {
        ASSERT_FLOAT_EQ(out[i * 2], 0.1f + i / 65536.0f) << i;
        ASSERT_FLOAT_EQ(out[i * 2 + 1], -(0.1f + i / 65536.0f)) << i;
    }
}

TEST_F(AudioSystemTest, EqualStemsStayLockedAndTheGroupClockNeverWraps) {
    addStem("a.wav", 1000, 0.1f);
    addStem("b.wav", 1000, 0.2f);
    stdoutOf([&] { playAllStems(audio); });
    makeAudible({0, 1});
    // A minute of looping, then the last frames still add up frame for frame.
    const unsigned minute = 60 * 44100;
    std::vector<float> scratch(4096 * 2);
    for (unsigned done = 0; done < minute; done += 4096) {
        audio.engine->mix(scratch.data(), std::min(4096u, minute - done));
    }
    const double now = audio.engine->getStreamTime(audio.voiceGroup);
    EXPECT_DOUBLE_EQ(now, 60.0);
    EXPECT_DOUBLE_EQ(audio.engine->getStreamTime(audio.stems[1].voice), now);
    EXPECT_FLOAT_EQ(render(1)[0], 0.3f + 2 * (minute % 1000) / 65536.0f);
}

// Stop resets the stems' positions but keeps their layers; unload and shut down leave nothing.
TEST_F(AudioSystemTest, StopThenPlayRestartsStemsAndKeepsLayersUntilUnloaded) {
    addStem("a.wav", 1000, 0.1f);
    addStem("b.wav", 1000, 0.2f);
    stdoutOf([&] { playAllStems(audio); });
    makeAudible({0});
    render(700);
    audio.stems[0].chart.lastPosition = 3.0;
    audio.stems[0].chart.loopCount = 2;
    audio.stems[0].chart.lastClock = 3.5;
    EXPECT_EQ(stdoutOf([&] { stopAllStems(audio); }), "Stopping all stems.\nPlayback stopped.\n");
    EXPECT_FALSE(audio.playing);
    EXPECT_EQ(audio.engine->getActiveVoiceCount(), 0u);
    EXPECT_EQ(audio.stems[0].voice, 0u);
    EXPECT_EQ(audio.stems[0].chart.lastPosition, 0.0);
    EXPECT_EQ(audio.stems[0].chart.loopCount, 0u);
    EXPECT_EQ(audio.stems[0].chart.lastClock, 0.0);
    EXPECT_TRUE(audio.stems[0].active);
    EXPECT_FALSE(audio.stems[1].active);

    stdoutOf([&] { playAllStems(audio); });
    EXPECT_EQ(audio.engine->getStreamTime(audio.voiceGroup), 0.0);
    EXPECT_EQ(audio.engine->getVolume(audio.stems[0].voice), 1.0f);
    EXPECT_EQ(audio.engine->getVolume(audio.stems[1].voice), 0.0f);
    EXPECT_FLOAT_EQ(render(1)[0], 0.1f); // from the top again

    unloadAllStems(audio);
    EXPECT_TRUE(audio.stems.empty());
    EXPECT_EQ(audio.engine->getActiveVoiceCount(), 0u);
    EXPECT_TRUE(audio.engine->isVoiceGroup(audio.voiceGroup));
    addStem("c.wav", 1000, 0.1f);
    EXPECT_EQ(audio.stems[0].index, 0);
    EXPECT_EQ(stdoutOf([&] { audioShutdown(audio); }), "miniaudio audio system shut down.\n");
    EXPECT_TRUE(audio.stems.empty());
    EXPECT_EQ(audio.voiceGroup, 0u);
    EXPECT_EQ(audio.engine, nullptr);
}

// ---- Through SDL's output device ----

// The device's own thread drives the mix (SDL's dummy driver plays in real time). The device is
// closed and opened again with a shorter, then a longer period while a stem plays
// (heard_clock_test follows the clock across a reopen on a simulated device). The clock, read all
// along on another thread, never steps back, does not skip what the old device held and never
// played, and goes on with the new device.
TEST(AudioSystemDevice, TheClockGoesOnWithoutASkipAcrossAReopen) {
    AudioSystem audio;
    ASSERT_TRUE(playOnDummyDevice(audio, 2048));
    AudioEngine& engine = *audio.engine;
    const AudioHandle group = audio.voiceGroup;
    std::atomic<bool> done{false}, wentBack{false};
    std::thread reader([&] {
        for (double last = 0.0; !done.load();) {
            const double now = engine.getStreamTime(group);
            wentBack = wentBack || now < last;
            last = now;
            std::this_thread::yield();
        }
    });
    EXPECT_TRUE(clockClimbsTo(audio, 0.3));
    for (unsigned period : {256u, 2048u}) {
        SCOPED_TRACE(period);
        // Closed, the voices go back to where the clock stands (what the device held, 46 ms and
        // more at 2048 frames, is not skipped), or stay where the mix was if the clock had run
        // ahead of it (a late device); the clock waits there.
        double mixedBefore = 0.0, mixed = 0.0;
        engine.lastMixReport(group, &mixedBefore);
        const double before = engine.getStreamTime(group);
        engine.closeDevice();
        engine.lastMixReport(group, &mixed);
        double pace = 1.0;
        const double held = engine.getStreamTime(group, nullptr, &pace);
        const double frame = 1.0 / 44100;
        EXPECT_GE(held, before);
        EXPECT_LE(mixed, held + frame);
        EXPECT_GE(mixed, std::min(before, mixedBefore) - frame);
        EXPECT_EQ(engine.getStreamTime(group), held);
        EXPECT_EQ(pace, 0.0) << "a clock that stands still says so, for the times of presses";

        const std::string log = stdoutOf([&] { EXPECT_TRUE(audioSetDevicePeriod(audio, period)); });
        EXPECT_NE(log.find("Audio device: " + std::to_string(period) + " frames per period"),
                  std::string::npos)
            << log;
        EXPECT_EQ(engine.getBackendBufferFrames(), int(period));
        EXPECT_EQ(audio.devicePeriodFrames, period);
        EXPECT_TRUE(clockClimbsTo(audio, held + 0.2)) << "the new device plays on";
        EXPECT_GE(engine.lastMixReport().latency, period / 44100.0) << "the latency the clock takes off";
    }
    done = true;
    reader.join();
    EXPECT_FALSE(wentBack.load());
    stdoutOf([&] { audioShutdown(audio); });
}

TEST(AudioSystemDevice, ReportsAnOutputThatCannotOpen) {
    SDL_SetHintWithPriority(SDL_HINT_AUDIO_DRIVER, "no-such-driver", SDL_HINT_OVERRIDE);
    AudioSystem audio;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(audioInit(audio));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to initialize miniaudio: Error code 4\n");
    SDL_ResetHint(SDL_HINT_AUDIO_DRIVER);
}
