#pragma once
// An app on the null audio driver, no window, its data folder in a scratch directory.
#include "app/app.hpp"
#include "audio/audio_test_util.hpp"
#include "audio/stem_loaders.hpp"
#include "game/game_test_support.hpp"
#include "ui/ui_system.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <memory>

class AudioApp : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
        SDL_SetEnvironmentVariable(SDL_GetEnvironment(), "XDG_DATA_HOME", dir.path().c_str(), true);
        app = std::make_unique<App>();
        gUI.screen = UIScreen::MainMenu; // the GUI's screen is process-wide, the app is per test
        stdoutOf([&] { ASSERT_TRUE(audioInit(app->audio, AudioBackend::NullDriver)); });
        initGameState(app->game, 8);
        app->render = gametest::fullHdRender();
    }
    void TearDown() override {
        stdoutOf([&] { audioShutdown(app->audio); });
    }
    // Loads a stem of `seconds` of sound with an empty chart of that length; returns it.
    LoadedStem& loadSong(double seconds) {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const auto frames = static_cast<std::uint32_t>(seconds * 44100);
        stdoutOf([&] {
            EXPECT_TRUE(
                loadStem(app->audio, dir.write(name + ".wav", makeFloatWav(rampSamples(frames, 0.1f), 2))));
        });
        LoadedStem& stem = app->audio.stems.back();
        stem.chart.loaded = true;
        stem.chart.audioLength = seconds;
        return stem;
    }
    // Mixes `frames` frames of sound: the song clock moves on by that much.
    void mix(std::uint32_t frames) {
        std::vector<float> out(2 * frames);
        app->audio.engine->mix(out.data(), frames);
    }

    ScratchDir dir;
    std::unique_ptr<App> app;
};
