#pragma once
// The game's version, as the window title shows it and as replays record which game made them.

// Dotted release number. Plain ASCII, at most 32 bytes (a replay stores it as it is).
constexpr const char* kGameVersion = "0.0.1";
