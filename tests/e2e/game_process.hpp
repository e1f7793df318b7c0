#pragma once
// Runs the built game as a child process under the test's X display and talks to its window.
#include "capture.hpp"

#include <functional>
#include <string>

struct GameRun {
    int exitCode = -1000;
    std::string output; // stdout and stderr, interleaved as written
};

// Called about every half second while the game runs, once it has entered its frame loop, with
// its window and everything it has written so far; sends whatever input the test wants.
using GameDriver = std::function<void(unsigned long window, const std::string& output)>;

// Starts the game with the given arguments and extra environment (NAME=value ...) in a copy of
// assets/ (see temp_assets.hpp), drives it until it ends, and returns its exit code and output.
// The game is killed after timeoutSeconds. It is started from the folder above `assets`, finds its
// data through VIBRELLE_DATA_DIR, and runs with the player's folder `assets`/data and a leaderboard
// address nobody answers unless `env` says otherwise. The copy is kept: runs in turn
// see what earlier ones wrote.
GameRun runGameIn(const std::string& assets, const std::string& args, const std::string& env,
                  const GameDriver& drive, int timeoutSeconds = 120);

// Input through xdotool: a key press and release (X keysym name, e.g. "Escape", "space") to the
// window; a left click at (x, y) in the window's pixels; `text` typed to the focused window after
// the key combination `keys` when it is not empty (e.g. "ctrl+a").
void sendKey(unsigned long window, const char* keysym);
void clickAt(unsigned long window, int x, int y);
void typeText(const std::string& keys, const std::string& text);

// Asks the window to close the way a window manager's close button does (WM_DELETE_WINDOW).
void sendClose(unsigned long window);
