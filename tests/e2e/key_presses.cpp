#include "key_presses.hpp"

#include "game/autoplay.hpp"
#include "game/round_progress.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <regex>
#include <set>
#include <tuple>

namespace {

// Song seconds the plan's round is stepped by: finer than any press needs.
constexpr double kPlanStep = 0.001;
// A key let go this shortly before is not pressed again: X may deliver both within one frame.
constexpr double kKeyRest = 0.03;

std::int64_t monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

bool earlierStep(const KeyStep& a, const KeyStep& b) { return a.at < b.at; }

RoundEvent keyEvent(const KeyStep& step) {
    RoundEvent event;
    event.songTimeUs = songTimeToMicros(step.at);
    event.kind = step.down ? InputKind::Press : InputKind::Release;
    event.device = InputDevice::Key;
    event.key = cellForUsKeycode(step.key); // the round goes by the key's cell
    return event;
}

} // namespace

KeyPlan planKeyRound(RoundSetup setup, double from, double until, double jitter, int leaveOutEvery,
                     std::mt19937& random) {
    GameState game;
    initGameState(game, std::clamp(static_cast<std::int32_t>(setup.stems.size()), 1, kMaxLayers));
    game.keyboardGameplay = true;
    game.playing = true;
    setup.width = 1280; // where circles lie does not matter to keys
    setup.height = 720;
    beginRound(game, std::move(setup), 0.0);

    std::uniform_real_distribution<double> offset(-jitter, jitter);
    KeyPlan plan;
    std::vector<KeyStep> pending; // planned, not yet given to the round
    std::set<std::tuple<std::int32_t, std::int32_t, double>> seen;
    std::map<std::uint32_t, double> keyFreeFrom;
    int candidates = 0;
    // The round runs on song time with the planned keys as its inputs, so the circles it spawns
    // are the ones the game will show for them: later layers come in only with the combo.
    for (int step = 1; step * kPlanStep < until + kSpawnLookAhead; ++step) {
        const double now = step * kPlanStep;
        std::vector<RoundEvent> due;
        std::stable_sort(pending.begin(), pending.end(), earlierStep);
        while (!pending.empty() && pending.front().at < now) {
            due.push_back(keyEvent(pending.front()));
            plan.steps.push_back(pending.front());
            pending.erase(pending.begin());
        }
        queueRoundInputs(game, due, now);
        advanceRound(game, now, LayerRequests{});
        for (const Circle& circle : game.circles) {
            if (circle.hit || !isCell(circle.cell) ||
                !seen.insert({circle.stemIndex, circle.note, circle.time}).second) {
                continue;
            }
            // The X server's layout is US: the key of a cell prints its US character.
            const std::uint32_t key = static_cast<unsigned char>(kUsGridCharacters[circle.cell]);
            const double press = circle.time + offset(random);
            const bool inRange = circle.time >= from && circle.time <= until;
            const bool keyFree = press >= keyFreeFrom[key] + kKeyRest;
            if (!inRange || !keyFree || (++candidates % leaveOutEvery) == 0) {
                ++plan.leftOut;
                continue;
            }
            const double release = circle.channel == kHoldChannel
                                       ? circle.time + circle.holdDuration + kAutoplayHoldRelease
                                       : press + kAutoplayTapRelease;
            pending.push_back({press, key, true});
            pending.push_back({release, key, false});
            keyFreeFrom[key] = release;
            ++plan.answered;
        }
    }
    std::stable_sort(pending.begin(), pending.end(), earlierStep);
    plan.steps.insert(plan.steps.end(), pending.begin(), pending.end()); // the last holds' releases
    return plan;
}

bool lastSongClock(const std::string& output, SongClockReading& reading) {
    static const std::regex line("Song clock: ([0-9.]+) s at (\\d+) ns\n");
    bool found = false;
    SongClockReading first;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator();
         ++it) {
        const SongClockReading next{std::stod((*it)[1]), std::stoll((*it)[2])};
        if (next.song < 1.0) {
            continue;
        }
        if (!found || next.song < reading.song) {
            first = next; // the song went back (a rewind): the pace is measured again from here
        }
        reading = next;
        found = true;
    }
    const double seconds = static_cast<double>(reading.monotonicNs - first.monotonicNs) / 1e9;
    if (found && seconds >= 0.5) {
        reading.rate = std::clamp((reading.song - first.song) / seconds, 0.5, 2.0);
    }
    return found;
}

void feedSongClock(KeyPresser& presser, const SongClockReading& reading) {
    {
        std::lock_guard<std::mutex> lock(presser.mutex);
        presser.clock = reading;
        presser.clockKnown = true;
    }
    presser.changed.notify_all();
}

void stopPressing(KeyPresser& presser) {
    {
        std::lock_guard<std::mutex> lock(presser.mutex);
        presser.stopped = true;
    }
    presser.changed.notify_all();
}

void pressKeys(KeyPresser& presser, const std::vector<KeyStep>& steps) {
    Display* display = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (display == nullptr || !XTestQueryExtension(display, &event, &error, &major, &minor)) {
        std::lock_guard<std::mutex> lock(presser.mutex);
        presser.error = display == nullptr ? "cannot open the display" : "the display has no XTest";
        if (display != nullptr) {
            XCloseDisplay(display);
        }
        return;
    }
    std::set<KeyCode> down;
    for (const KeyStep& step : steps) {
        std::unique_lock<std::mutex> lock(presser.mutex);
        // The step's moment on CLOCK_MONOTONIC, from the newest reading. The wait is the schedule
        // of the presses, as a player's own timing: a newer reading or the run's end wakes it, and
        // the moment is worked out again.
        while (!presser.stopped) {
            if (!presser.clockKnown) {
                presser.changed.wait(lock);
                continue;
            }
            const std::int64_t due =
                presser.clock.monotonicNs +
                static_cast<std::int64_t>((step.at - presser.clock.song) / presser.clock.rate * 1e9);
            const std::int64_t left = due - monotonicNow();
            if (left <= 0) {
                presser.late += left < -20000000 ? 1 : 0;
                break;
            }
            presser.changed.wait_for(lock, std::chrono::nanoseconds(left));
        }
        if (presser.stopped) {
            break;
        }
        ++presser.sent;
        lock.unlock();
        const KeyCode code = XKeysymToKeycode(display, static_cast<KeySym>(step.key));
        XTestFakeKeyEvent(display, code, step.down ? True : False, CurrentTime);
        XFlush(display);
        if (step.down) {
            down.insert(code);
        } else {
            down.erase(code);
        }
    }
    for (KeyCode code : down) {
        XTestFakeKeyEvent(display, code, False, CurrentTime);
    }
    XCloseDisplay(display); // flushes
}

// The window may be gone by the time the request arrives; that is no error here.
static int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

bool focusWindow(unsigned long window) {
    XSetErrorHandler(ignoreXErrors);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    Window focused = 0;
    int revert = 0;
    XGetInputFocus(display, &focused, &revert);
    if (focused != window) {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
    }
    XCloseDisplay(display); // flushes
    return true;
}
