#pragma once
// The autoplay bot's thread. It follows the plan of game/autoplay.hpp: for each step it maps the
// step's song time to SDL's clock through the game clock's last reading, sleeps until that moment
// and pushes a finger event, which SDL stamps itself. The main thread then handles it like any
// other touch, so --judge-stats measures the real input path, timer jitter included. A step is
// pushed with the game mutex held, once the plan says it is still due: a practice loop's jump while
// the bot waited makes it one of a pass that is over.
#include "game/autoplay.hpp"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

struct App;

struct AutoplayBot {
    AutoplayPlan plan; // the bot thread's; read and written with the game mutex held
    std::thread thread;
    std::mutex wakeMutex; // guards `stop`
    std::condition_variable wake;
    bool stop = false;
    std::uint32_t windowId = 0; // SDL window the fingers touch
};

// Logs "Autoplay enabled" and starts the bot's thread on the app's window. Main thread, after the
// window exists.
void autoplayBotStart(App& app);

// Stops the bot's thread and waits for it. Main thread, before SDL shuts down; the caller must not
// hold the game mutex. Does nothing when the bot never started.
void autoplayBotStop(App& app);
