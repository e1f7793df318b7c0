#pragma once
// The calibration screen: the player taps along with a click, sees each tap's error land on a
// scale, and keeps the offset the taps call for (Save), tries again (Retry) or leaves (Back).
// What the taps and buttons do lives in app/calibration_session.hpp; this draws it. Main thread,
// in a GUI frame.
struct App;

void drawCalibrationScreen(App& app);
