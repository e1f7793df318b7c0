// The Audio Buffer setting handed from Settings to the game: stored, and applied to the output
// device (SDL's dummy driver) unless VIBRELLE_AUDIO_PERIOD holds the period.
#include "app/app.hpp"
#include "prefs/preferences.hpp"

#include "capture.hpp"
#include "temp_dir.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

TEST(AudioBufferSetting, IsStoredAndReopensTheDeviceUnlessTheEnvironmentHoldsIt) {
    TempDir data;
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    SDL_SetEnvironmentVariable(SDL_GetEnvironment(), "XDG_DATA_HOME", data.path().c_str(), true);
    setenv("SDL_AUDIO_DRIVER", "dummy", 0);
    auto app = std::make_unique<App>();
    ASSERT_TRUE(stdoutOf([&] { EXPECT_TRUE(audioInit(app->audio)); }).find("1024 frames per period") !=
                std::string::npos);

    std::string log = stdoutOf([&] { applyAudioBufferSetting(*app, 2048); });
    EXPECT_NE(log.find("Audio buffer saved to "), std::string::npos) << log;
    EXPECT_NE(log.find("Audio device: 2048 frames per period (46.4 ms)"), std::string::npos) << log;
    EXPECT_EQ(app->audio.engine->getBackendBufferFrames(), 2048);
    EXPECT_EQ(loadAudioPeriodFrames(1024), 2048u);

    app->options.audioPeriodFrames = 2048; // as VIBRELLE_AUDIO_PERIOD=2048 sets it
    log = stdoutOf([&] { applyAudioBufferSetting(*app, 256); });
    EXPECT_NE(log.find("Audio buffer stays at 2048 frames: VIBRELLE_AUDIO_PERIOD is set"), std::string::npos)
        << log;
    EXPECT_EQ(app->audio.engine->getBackendBufferFrames(), 2048);
    EXPECT_EQ(loadAudioPeriodFrames(1024), 256u) << "the choice is kept for runs without the variable";
    stdoutOf([&] { audioShutdown(app->audio); });
}
