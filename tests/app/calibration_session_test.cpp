// The calibration screen's run without a window: which inputs are taps, what opening the screen
// does to a round, and what Save keeps.
#include "app/app.hpp"
#include "audio/master_clock.hpp"
#include "game/judgement.hpp"
#include "prefs/preferences.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <memory>

namespace {

TEST(CalibrationTaps, SpaceLettersAndPressesOnThePadCountInTheOrderTheyHappened) {
    CalibrationSession session;
    session.padLeft = 100;
    session.padTop = 100;
    session.padRight = 500;
    session.padBottom = 300;
    InputState input;
    for (const auto& [key, ns] : {std::pair<std::uint32_t, std::uint64_t>{SDLK_SPACE, 30},
                                  {SDLK_K, 10},
                                  {SDLK_ESCAPE, 5},
                                  {SDLK_1, 6},
                                  {SDLK_F12, 7}}) {
        input.keysPressed.insert(key);
        input.keyPressNs[key] = ns;
    }
    input.mousePressed = true;
    input.mousePressNs = 20;
    input.mouseX = 200;
    input.mouseY = 200;
    EXPECT_EQ(calibrationTapTimes(input, session), (std::vector<std::uint64_t>{10, 20, 30}));

    input.mouseX = 600; // beside the pad: a button, perhaps
    EXPECT_EQ(calibrationTapTimes(input, session), (std::vector<std::uint64_t>{10, 30}));

    // A finger comes with a mouse press of its own; only the finger counts.
    input.keysPressed.clear();
    input.mouseX = 200;
    input.touches[9] = TouchPoint{true, true, false, 300, 150, 15};
    input.touches[8] = TouchPoint{true, true, false, 900, 150, 16};
    EXPECT_EQ(calibrationTapTimes(input, session), (std::vector<std::uint64_t>{15}));

    session = CalibrationSession{}; // the interface hidden: a press anywhere is a tap
    EXPECT_EQ(calibrationTapTimes(input, session), (std::vector<std::uint64_t>{15, 16}));
}

// An app with the engine but no device, and a data folder of its own.
class CalibrationApp : public ::testing::Test {
protected:
    void SetUp() override {
        home = std::filesystem::temp_directory_path() / ("vibrelle_calibration_" + std::to_string(getpid()));
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        SDL_SetEnvironmentVariable(SDL_GetEnvironment(), "XDG_DATA_HOME", home.c_str(), true);
        app = std::make_unique<App>();
        ::testing::internal::CaptureStdout();
        ASSERT_TRUE(audioInit(app->audio, AudioBackend::NullDriver));
        ::testing::internal::GetCapturedStdout();
        initGameState(app->game, 8);
    }
    void TearDown() override {
        ::testing::internal::CaptureStdout();
        audioShutdown(app->audio);
        ::testing::internal::GetCapturedStdout();
        std::filesystem::remove_all(home);
    }
    std::filesystem::path home;
    std::unique_ptr<App> app;
};

TEST_F(CalibrationApp, OpeningStopsTheRoundAndStartsTheClick) {
    app->audio.playing = true;
    app->game.playing = true;
    app->game.score = 700;
    app->game.circles.resize(3);
    ::testing::internal::CaptureStdout();
    calibrationOpen(*app);
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(app->showCalibration);
    EXPECT_FALSE(app->audio.playing);
    EXPECT_FALSE(app->game.playing);
    EXPECT_TRUE(app->game.circles.empty());
    EXPECT_EQ(app->game.score, 700);
    EXPECT_TRUE(app->audio.engine->isValidVoiceHandle(app->calibration.voice));

    // Escape, as the input record has it on this screen, leaves it and silences the click.
    const AudioHandle click = app->calibration.voice;
    app->input.leaveCalibration = true;
    calibrationFrame(*app);
    EXPECT_FALSE(app->showCalibration);
    EXPECT_FALSE(app->audio.engine->isValidVoiceHandle(click));
}

TEST_F(CalibrationApp, SaveStoresTheOffsetAndTheClockRunsBehindByExactlyThat) {
    calibrationOpen(*app);
    calibrationSave(*app);
    EXPECT_TRUE(app->showCalibration) << "nothing to save before the run is complete";

    app->calibration.result =
        calibrationResult({18, 22, 20, 250, 19, 21, 20, 23, 17, 20, -200, 21, 19, 20, 22, 18});
    ::testing::internal::CaptureStdout();
    calibrationSave(*app);
    ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(app->showCalibration);
    EXPECT_DOUBLE_EQ(app->audio.clockOffset, 0.020);
    std::ifstream file(getPrefsPath());
    EXPECT_EQ(nlohmann::json::parse(file).at("audioOffsetMs"), 20);

    // One press, at the same moment of the same sound, judged with and without the offset: 20 ms
    // apart exactly.
    app->audio.playing = true;
    app->audio.voiceGroup = app->audio.engine->createVoiceGroup();
    Wav tone;
    const std::vector<unsigned char> wav = calibrationClickWav();
    ASSERT_EQ(tone.loadMem(wav.data(), wav.size()), AudioResult::Ok);
    app->audio.engine->addVoiceToGroup(app->audio.voiceGroup, app->audio.engine->play(tone));
    std::vector<float> mix(2 * 4410);
    app->audio.engine->mix(mix.data(), 4410); // 0.1 s played
    const auto judgedMs = [&](double offset) {
        app->audio.clockOffset = offset;
        GameState game;
        initGameState(game, 8);
        game.playing = true;
        game.circles.resize(1);
        game.circles[0].x = 100;
        game.circles[0].y = 100;
        game.circles[0].time = 0.1;
        refreshSongTime(app->audio, game);
        InputState input;
        input.touches[1] = TouchPoint{true, true, false, 100, 980, game.songTimeNs + 5'000'000};
        ::testing::internal::CaptureStdout();
        handleGameplayInput(game, input, 1080);
        ::testing::internal::GetCapturedStdout();
        return game.pressOffsetsMs.empty() ? 1e9f : game.pressOffsetsMs[0];
    };
    EXPECT_NEAR(judgedMs(0.0), 5.0, 1e-3);
    EXPECT_NEAR(judgedMs(0.020), -15.0, 1e-3);
}

} // namespace
