#include "game_process.hpp"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

// The last window with this title in stacking order: a window of a game that has just exited
// can linger for a moment below the new one.
Window findWindow(Display* display, Window root, const char* title) {
    Window found = 0;
    char* name = nullptr;
    if (XFetchName(display, root, &name) && name) {
        if (std::strcmp(name, title) == 0) {
            found = root;
        }
        XFree(name);
    }
    Window parent = 0, rootReturn = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i) {
            if (const Window child = findWindow(display, children[i], title)) {
                found = child;
            }
        }
        if (children) {
            XFree(children);
        }
    }
    return found;
}

// Polling with a short pause: the other side is a separate process with no way to signal us.
void pollPause() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

// Blocks until the file holds `text` (or the timeout passes); true when it appeared.
bool waitForText(const std::string& path, const std::string& text, int timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (readText(path).find(text) != std::string::npos) {
            return true;
        }
        pollPause();
    }
    return false;
}

} // namespace

// A window can vanish between finding it and sending to it; such errors are expected here.
static int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

unsigned long waitForWindow(const char* title, int timeoutSeconds) {
    XSetErrorHandler(ignoreXErrors);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    Window window = 0;
    while (!window && std::chrono::steady_clock::now() < deadline) {
        window = findWindow(display, DefaultRootWindow(display), title);
        if (!window) {
            pollPause();
        }
    }
    XCloseDisplay(display);
    return window;
}

// Opens the display, lets `send` use it, and flushes it.
template <typename F> static void onDisplay(F send) {
    if (Display* display = XOpenDisplay(nullptr)) {
        send(display);
        XFlush(display);
        XCloseDisplay(display);
    }
}

void sendKey(unsigned long window, const char* keysym) {
    onDisplay([&](Display* display) {
        XKeyEvent event{};
        event.display = display;
        event.window = window;
        event.root = DefaultRootWindow(display);
        event.same_screen = True;
        event.keycode = XKeysymToKeycode(display, XStringToKeysym(keysym));
        event.type = KeyPress;
        XSendEvent(display, window, True, KeyPressMask, reinterpret_cast<XEvent*>(&event));
        event.type = KeyRelease;
        XSendEvent(display, window, True, KeyReleaseMask, reinterpret_cast<XEvent*>(&event));
    });
}

void clickAt(unsigned long window, int x, int y) {
    // The pointer jumps there and presses at once, as a tap on a touch screen does.
    const std::string command = "xdotool mousemove --window " + std::to_string(window) + " " +
                                std::to_string(x) + " " + std::to_string(y) + " click 1";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "xdotool failed: " << command;
    }
}

void typeText(const std::string& keys, const std::string& text) {
    std::string command = "xdotool";
    if (!keys.empty()) {
        command += " key " + keys;
    }
    command += " type --delay 20 '" + text + "'";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "xdotool failed: " << command;
    }
}

void sendClose(unsigned long window) {
    onDisplay([&](Display* display) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
    });
}

GameRun runGameIn(const std::string& assets, const std::string& args, const std::string& env,
                  const GameDriver& drive, int timeoutSeconds) {
    static int runCount = 0;
    const std::string log = ::testing::TempDir() + "vibrelle_run_" + std::to_string(getpid()) + "_" +
                            std::to_string(++runCount) + ".log";
    std::remove(log.c_str());
    // The game runs in a copy of assets/ (what it writes stays out of the checkout), with a
    // temporary data folder unless the test names its own, and a leaderboard server address
    // nobody answers (later assignments win).
    const std::string command = "cd '" + assets + "' && env XDG_DATA_HOME='" + assets + "/data" +
                                "' VIBRELLE_LEADERBOARD_URL=http://127.0.0.1:9/api " + env + " timeout " +
                                std::to_string(timeoutSeconds) + " '" VIBRELLE_GAME_BINARY "' " + args +
                                " >'" + log + "' 2>&1";
    GameRun run;
    std::atomic<bool> ended{false};
    std::thread child([&] {
        const int status = std::system(command.c_str());
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ended.store(true);
    });
    // Drive the game once it has entered its frame loop. The window is looked up afresh for each
    // attempt, and an attempt that raced the window's life is simply repeated.
    if (waitForText(log, "Controls:", timeoutSeconds)) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
        while (!ended.load() && std::chrono::steady_clock::now() < deadline) {
            if (const unsigned long window = waitForWindow("Vibrelle v0.0.1", 1)) {
                drive(window, readText(log));
            }
            for (int i = 0; i < 10 && !ended.load(); ++i) {
                pollPause();
            }
        }
    }
    child.join();
    run.output = readText(log);
    return run;
}
