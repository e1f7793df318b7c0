#include "app/autoplay_bot.hpp"

#include "app/app.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

// The bot's touch device: an id no real device is likely to have.
static constexpr SDL_TouchID kAutoplayTouchId = 0xA0700000ull;

// A step due within this long is waited for precisely and carried out; one further away is
// looked at again later, when the plan may have grown and the clock been read again.
static constexpr std::uint64_t kActWithinNs = 8 * SDL_NS_PER_MS;
static constexpr std::uint64_t kIdleWaitNs = 4 * SDL_NS_PER_MS;

static void pushFinger(std::uint32_t windowId, const AutoplayAction& action) {
    SDL_Event event;
    SDL_zero(event);
    event.type = action.step == AutoplayStep::Press ? SDL_EVENT_FINGER_DOWN : SDL_EVENT_FINGER_UP;
    // The timestamp stays 0: SDL stamps the event with the moment it is queued.
    event.tfinger.touchID = kAutoplayTouchId;
    event.tfinger.fingerID = action.finger;
    event.tfinger.x = action.x;
    event.tfinger.y = action.y;
    event.tfinger.pressure = action.step == AutoplayStep::Press ? 1.0f : 0.0f;
    event.tfinger.windowID = windowId;
    SDL_PushEvent(&event);
}

// The gamepad bot's presses, as a pad's events: a button down or up, or a trigger pulled all the
// way or let go.
static void pushPadButton(const AutoplayAction& action) {
    SDL_Event event;
    SDL_zero(event);
    const bool down = action.step == AutoplayStep::Press;
    if (action.button == kPadLeftTrigger || action.button == kPadRightTrigger) {
        event.type = SDL_EVENT_GAMEPAD_AXIS_MOTION;
        event.gaxis.which = kAutoplayPadId;
        event.gaxis.axis =
            static_cast<Uint8>(action.button == kPadLeftTrigger ? SDL_GAMEPAD_AXIS_LEFT_TRIGGER
                                                                : SDL_GAMEPAD_AXIS_RIGHT_TRIGGER);
        event.gaxis.value = down ? SDL_JOYSTICK_AXIS_MAX : 0;
    } else {
        event.type = down ? SDL_EVENT_GAMEPAD_BUTTON_DOWN : SDL_EVENT_GAMEPAD_BUTTON_UP;
        event.gbutton.which = kAutoplayPadId;
        event.gbutton.button = static_cast<Uint8>(action.button);
        event.gbutton.down = down;
    }
    SDL_PushEvent(&event);
}

static void pushAction(const AutoplayPlan& plan, std::uint32_t windowId, const AutoplayAction& action) {
    if (plan.gamepad) {
        pushPadButton(action);
    } else {
        pushFinger(windowId, action);
    }
}

// The SDL tick at which the game clock, read as `songTime` at `songTimeNs` and running at `rate`,
// reaches `at`; ticks already past come out as `songTimeNs`. A clock that stands still (rate 0:
// the song's sound has not reached the ear yet) reaches a later time at no known tick: never, until
// it is read again.
static std::uint64_t ticksAt(double at, double songTime, std::uint64_t songTimeNs, double rate) {
    if (at <= songTime) {
        return songTimeNs;
    }
    if (!(rate > 0.0)) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return songTimeNs + static_cast<std::uint64_t>((at - songTime) / rate * 1e9);
}

static void autoplayBotMain(App* app) {
    AutoplayBot& bot = app->autoplay;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(bot.wakeMutex);
            if (bot.stop) {
                return;
            }
        }
        std::vector<AutoplayAction> releases;
        AutoplayAction next;
        bool due = false;
        std::uint64_t dueNs = 0;
        {
            std::lock_guard<std::mutex> lock(app->gameMutex);
            if (!app->game.playing) {
                releases = autoplayCancel(bot.plan); // a stop: lift what is down
            } else {
                autoplayPlan(bot.plan, app->game, app->render.width, app->render.height);
                if (app->game.songTimeNs != 0 && autoplayNext(bot.plan, &next)) {
                    due = true;
                    dueNs = ticksAt(next.at, app->game.songTime, app->game.songTimeNs, app->game.songRate);
                }
            }
        }
        for (const AutoplayAction& release : releases) {
            pushAction(bot.plan, bot.windowId, release);
        }
        const std::uint64_t now = SDL_GetTicksNS();
        if (due && dueNs <= now + kActWithinNs) {
            if (dueNs > now) {
                SDL_DelayPrecise(dueNs - now);
            }
            // The song may have jumped back (a practice loop) while the bot waited: a step of the
            // pass that is over is not taken, and the plan is made again. Pushed with the game
            // mutex held, so that no jump comes between the check and the event; the main thread
            // never holds it while it polls SDL's events.
            std::lock_guard<std::mutex> lock(app->gameMutex);
            if (autoplayStillDue(bot.plan, app->game)) {
                pushAction(bot.plan, bot.windowId, next);
                autoplayDone(bot.plan, next);
            }
            continue;
        }
        std::uint64_t waitNs = kIdleWaitNs;
        if (due) {
            waitNs = std::min(waitNs, dueNs - now - kActWithinNs / 2);
        }
        std::unique_lock<std::mutex> lock(bot.wakeMutex);
        if (bot.wake.wait_for(lock, std::chrono::nanoseconds(waitNs), [&bot] { return bot.stop; })) {
            return;
        }
    }
}

void autoplayBotStart(App& app) {
    autoplayStart(app.autoplay.plan, app.options.autoplayPad);
    app.autoplay.stop = false;
    app.autoplay.windowId = SDL_GetWindowID(app.render.window);
    app.autoplay.thread = std::thread([&app] {
        autoplayBotMain(&app);
        SDL_CleanupTLS(); // SDL frees a thread's error buffer itself only on its own threads
    });
}

void autoplayBotStop(App& app) {
    if (!app.autoplay.thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(app.autoplay.wakeMutex);
        app.autoplay.stop = true;
    }
    app.autoplay.wake.notify_all();
    app.autoplay.thread.join();
}
