#include "app/calibration_session.hpp"

#include "app/app.hpp"
#include "app/app_screens.hpp"
#include "audio/heard_clock.hpp"
#include "audio/stem_layering.hpp"
#include "base/log.hpp"
#include "prefs/preferences.hpp"

#include <algorithm>
#include <mutex>

std::vector<std::uint64_t> calibrationTapTimes(const InputState& input, const CalibrationSession& session) {
    std::vector<std::uint64_t> taps;
    // Space is no key of the grid: on this screen it is a tap too.
    if (input.keysPressed.count(SDLK_SPACE) != 0) {
        const auto stamp = input.keyPressNs.find(SDLK_SPACE);
        taps.push_back(stamp != input.keyPressNs.end() ? stamp->second : 0);
    }
    const bool anywhere = !(session.padRight > session.padLeft && session.padBottom > session.padTop);
    const auto inPad = [&](float x, float y) {
        return anywhere || (x >= session.padLeft && x <= session.padRight && y >= session.padTop &&
                            y <= session.padBottom);
    };
    // The presses a round would take: the grid's keys, gamepad buttons, and pointers on the pad. A
    // finger also arrives as a mouse press: while fingers are tracked the mouse does not count.
    for (const InputAction& action : input.actions) {
        if (action.kind != InputKind::Press) {
            continue;
        }
        const bool pointer = action.device == InputDevice::Finger || action.device == InputDevice::Mouse;
        if (action.device == InputDevice::Mouse && !input.touches.empty()) {
            continue;
        }
        if (!pointer || inPad(action.x, action.y)) {
            taps.push_back(action.ns);
        }
    }
    std::sort(taps.begin(), taps.end());
    return taps;
}

static void stopClick(App& app) {
    CalibrationSession& session = app.calibration;
    if (session.voice != 0 && app.audio.engine) {
        app.audio.engine->stop(session.voice);
    }
    session.voice = 0;
}

void calibrationRetry(App& app) {
    CalibrationSession& session = app.calibration;
    stopClick(app);
    session.errorsMs.clear();
    session.result = CalibrationResult{};
    session.position = 0.0;
    AudioEngine* engine = app.audio.engine.get();
    if (engine == nullptr) {
        return;
    }
    if (!session.click) {
        session.click = std::make_unique<Wav>();
        const std::vector<unsigned char> wav = calibrationClickWav();
        if (session.click->loadMem(wav.data(), wav.size()) != AudioResult::Ok) {
            logError(stderr, "Failed to make the calibration click");
            session.click.reset();
            return;
        }
        session.click->setLooping(true);
    }
    session.voice = engine->play(*session.click);
}

void calibrationOpen(App& app) { goToScreen(app, UIScreen::Calibration); }

void calibrationStart(App& app) {
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        if (app.audio.playing) {
            // The same stop as Space: nothing of the round's run survives, score and combo stay.
            stopAllStems(app.audio);
            app.game.playing = false;
            clearRunState(app.game);
        }
    }
    calibrationRetry(app);
}

void calibrationStop(App& app) { stopClick(app); }

void calibrationClose(App& app) {
    goToScreen(app, UIScreen::Settings); // calibration opens over Settings
}

void calibrationSave(App& app) {
    const CalibrationResult& result = app.calibration.result;
    if (!result.valid) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(app.gameMutex);
        app.audio.clockOffset = result.offsetMs / 1000.0;
    }
    saveAudioOffsetMs(result.offsetMs);
    calibrationClose(app);
}

void calibrationFrame(App& app) {
    CalibrationSession& session = app.calibration;
    if (app.input.leaveCalibration) {
        calibrationClose(app);
        return;
    }
    if (session.voice == 0 || !app.audio.engine) {
        return; // the run is over, or there is no sound to tap along with
    }
    std::uint64_t readNs = 0;
    double rate = 1.0;
    session.position = app.audio.engine->getStreamTime(session.voice, &readNs, &rate);
    for (std::uint64_t tap : calibrationTapTimes(app.input, session)) {
        const double at = tap != 0 ? songTimeAt(session.position, readNs, tap, rate) : session.position;
        if (at < (kCalibrationListenBeats - 0.5) * kCalibrationBeat) {
            continue; // still listening
        }
        session.errorsMs.push_back(calibrationTapErrorMs(at));
        if (static_cast<int>(session.errorsMs.size()) == kCalibrationTaps) {
            session.result = calibrationResult(session.errorsMs);
            logMessage("Calibration: offset %+d ms, spread %.1f ms, %d of %d taps kept",
                       session.result.offsetMs, session.result.spreadMs, session.result.kept,
                       kCalibrationTaps);
            stopClick(app);
            return;
        }
    }
}
