#pragma once
// Pictures of the frame: reading back what was just drawn and writing it as PNG.
#include <ctime>
#include <string>

struct RenderState;

// Reads the frame drawn so far (the back buffer, before the swap, settled as the swap will show
// it: render/screen_dim.hpp) and writes it to `path` as an
// RGB PNG, top row first. Logs "Screenshot saved: <path>", or the failure on stderr and returns
// false. Main thread (GL).
bool saveScreenshot(const RenderState& render, const std::string& path);

// "screenshot-YYYYMMDD-HHMMSS.png" for the local time of `when`.
std::string screenshotFileName(std::time_t when);
