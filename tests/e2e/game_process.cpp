#include "game_process.hpp"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

// Polling with a short pause: the other side is a separate process with no way to signal us.
void pollPause() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

// The last game window in stacking order, or 0: a window of a game that has just exited can
// linger for a moment below the new one.
unsigned long gameWindow() {
    unsigned long window = 0, found = 0;
    if (FILE* pipe = popen("xdotool search --name '^Vibrelle v0\\.0\\.1$' 2>/dev/null", "r")) {
        while (std::fscanf(pipe, "%lu", &found) == 1) {
            window = found;
        }
        pclose(pipe);
    }
    return window;
}

// Real X input through xdotool. Keys may race the window's end (the tests send them again), so
// only a failed click or typing is a test failure.
void xdotool(const std::string& arguments, bool required = true) {
    const std::string command = "xdotool " + arguments + " 2>/dev/null";
    if (std::system(command.c_str()) != 0 && required) {
        ADD_FAILURE() << "xdotool failed: " << command;
    }
}

// A window can vanish between finding it and sending to it; such errors are expected here.
int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

} // namespace

void sendKey(unsigned long window, const char* keysym) {
    xdotool("key --window " + std::to_string(window) + " " + keysym, false);
}

void clickAt(unsigned long window, int x, int y) {
    // The pointer jumps there and presses at once, as a tap on a touch screen does.
    xdotool("mousemove --window " + std::to_string(window) + " " + std::to_string(x) + " " +
            std::to_string(y) + " click 1");
}

void typeText(const std::string& keys, const std::string& text) {
    xdotool((keys.empty() ? "" : "key " + keys + " ") + "type --delay 20 '" + text + "'");
}

void sendClose(unsigned long window) {
    XSetErrorHandler(ignoreXErrors);
    if (Display* display = XOpenDisplay(nullptr)) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XCloseDisplay(display); // flushes
    }
}

GameRun runGameIn(const std::string& assets, const std::string& args, const std::string& env,
                  const GameDriver& drive, int timeoutSeconds) {
    static int runCount = 0;
    const std::string log = ::testing::TempDir() + "vibrelle_run_" + std::to_string(getpid()) + "_" +
                            std::to_string(++runCount) + ".log";
    std::remove(log.c_str());
    // The assignments in `env` come later and win.
    const std::string command =
        "cd '" + assets + "/..' && env VIBRELLE_DATA_DIR='" + assets + "' XDG_DATA_HOME='" + assets +
        "/data' VIBRELLE_LEADERBOARD_URL=http://127.0.0.1:9/api " + env + " timeout " +
        std::to_string(timeoutSeconds) + " '" VIBRELLE_GAME_BINARY "' " + args + " >'" + log + "' 2>&1";
    GameRun run;
    std::atomic<bool> ended{false};
    std::thread child([&] {
        const int status = std::system(command.c_str());
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ended.store(true);
    });
    // Drive the game about every half second once it has entered its frame loop. The window is
    // looked up afresh for each attempt, and an attempt that raced the window's life is simply
    // repeated.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool looping = false;
    while (!ended.load() && std::chrono::steady_clock::now() < deadline) {
        looping = looping || readText(log).find("Controls:") != std::string::npos;
        const unsigned long window = looping ? gameWindow() : 0;
        if (window) {
            drive(window, readText(log));
        }
        for (int i = 0; i < (window ? 10 : 1) && !ended.load(); ++i) {
            pollPause();
        }
    }
    child.join();
    run.output = readText(log);
    return run;
}
