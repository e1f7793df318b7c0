// The calibration screen without a window: which inputs are taps, opening it, and Save.
#include "app/logic_thread.hpp"
#include "app_test_support.hpp"
#include "game/judgement.hpp"
#include "game/master_clock.hpp"
#include "prefs/preferences.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

using namespace gametest;

namespace {

TEST(CalibrationTaps, SpaceGridKeysButtonsAndPressesOnThePadCountInTheOrderTheyHappened) {
    CalibrationSession session;
    session.padLeft = session.padTop = 100;
    session.padRight = 500;
    session.padBottom = 300;
    InputState input;
    const std::pair<std::uint32_t, std::uint64_t> keys[] = {
        {SDLK_SPACE, 30}, {SDLK_ESCAPE, 5}, {SDLK_F12, 7}};
    for (const auto& [key, ns] : keys) {
        input.keysPressed.insert(key);
        input.keyPressNs[key] = ns;
    }
    const InputAction mouse{InputKind::Press, InputDevice::Mouse, 0, 0, 200, 200, 20};
    input.actions = {{InputKind::Press, InputDevice::Key, 0, 4, 0, 0, 10},
                     {InputKind::Release, InputDevice::Key, 0, 4, 0, 0, 11},
                     {InputKind::Press, InputDevice::Gamepad, 0, 2, 0, 0, 12},
                     mouse};
    EXPECT_EQ(calibrationTapTimes(input, session), (std::vector<std::uint64_t>{10, 12, 20, 30}));

    input.actions.back().x = 600; // beside the pad: a button, perhaps
    EXPECT_EQ(calibrationTapTimes(input, session), (std::vector<std::uint64_t>{10, 12, 30}));

    // A finger comes with a mouse press of its own; only the finger counts.
    input.keysPressed.clear();
    input.touches[9] = TouchPoint{true, true, false, 300, 150};
    input.touches[8] = TouchPoint{true, true, false, 900, 150};
    input.actions = {mouse,
                     {InputKind::Press, InputDevice::Finger, 9, 0, 300, 150, 15},
                     {InputKind::Press, InputDevice::Finger, 8, 0, 900, 150, 16}};
    EXPECT_EQ(calibrationTapTimes(input, session), (std::vector<std::uint64_t>{15}));

    session = CalibrationSession{}; // the interface hidden: a press anywhere is a tap
    EXPECT_EQ(calibrationTapTimes(input, session), (std::vector<std::uint64_t>{15, 16}));
}

class CalibrationApp : public AudioApp {};

TEST_F(CalibrationApp, OpeningStopsTheRoundAndStartsTheClickAndEscapeSilencesIt) {
    app->audio.playing = app->game.playing = true;
    app->game.score = 700;
    app->game.circles.resize(3);
    app->game.holds[{InputDevice::Finger, 1}] = 0;
    app->game.missStreak = 2;
    stdoutOf([&] { calibrationOpen(*app); });
    EXPECT_EQ(gUI.screen, UIScreen::Calibration);
    EXPECT_FALSE(app->audio.playing || app->game.playing);
    EXPECT_TRUE(app->game.circles.empty() && app->game.holds.empty() && app->game.missStreak == 0);
    EXPECT_EQ(app->game.score, 700);
    const AudioHandle click = app->calibration.voice;
    EXPECT_TRUE(app->audio.engine->isValidVoiceHandle(click));

    app->input.leaveCalibration = true; // Escape, as the input record has it on this screen
    calibrationFrame(*app);
    EXPECT_NE(gUI.screen, UIScreen::Calibration);
    EXPECT_FALSE(app->audio.engine->isValidVoiceHandle(click));
}

TEST_F(CalibrationApp, SaveStoresTheOffsetAndTheClockRunsBehindByExactlyThat) {
    calibrationOpen(*app);
    calibrationSave(*app);
    EXPECT_EQ(gUI.screen, UIScreen::Calibration) << "nothing to save before the run is complete";

    app->calibration.result =
        calibrationResult({18, 22, 20, 250, 19, 21, 20, 23, 17, 20, -200, 21, 19, 20, 22, 18});
    stdoutOf([&] { calibrationSave(*app); });
    EXPECT_NE(gUI.screen, UIScreen::Calibration);
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
    mix(4410); // 0.1 s played
    const auto judgedMs = [&](double offset) {
        app->audio.clockOffset = offset;
        GameState game = playingGame();
        game.circles = {tapAt(100, 100, 0.1)};
        refreshSongTime(app->audio, game);
        InputState input;
        input.touches[1] = TouchPoint{true, true, false, 100, 980};
        input.actions.push_back(
            {InputKind::Press, InputDevice::Finger, 1, 0, 100, 980, game.songTimeNs + 5'000'000});
        const double at = std::nextafter(game.songTime + 0.005, 1.0); // through the press's instant
        stdoutOf([&] {
            queueRoundInputs(game, gameplayInputEvents(game, input, 1080), at);
            advanceRound(game, at, LayerRequests{});
        });
        return game.pressOffsetsMs.empty() ? 1e9f : game.pressOffsetsMs[0];
    };
    EXPECT_NEAR(judgedMs(0.0), 5.0, 1e-3);
    EXPECT_NEAR(judgedMs(0.020), -15.0, 1e-3);
}

} // namespace
