#pragma once
// The output device's period: how many sample frames the device is given at a time. A short one
// keeps the mix close to the ear, but a sound server (PulseAudio, PipeWire) cannot keep a buffer
// that short fed and the sound crackles; the song clock takes the output latency off, so judging
// does not need it short. Plain values, no SDL.
#include <string>

// The period asked for unless the player or VIBRELLE_AUDIO_PERIOD chooses another: 1024 frames,
// 23 ms at 44.1 kHz, plays without a gap through PulseAudio where 256 and 512 crackle.
constexpr unsigned kDevicePeriodFrames = 1024;
// The periods accepted from the settings file and VIBRELLE_AUDIO_PERIOD (1.5 ms to 186 ms).
constexpr unsigned kMinDevicePeriodFrames = 64;
constexpr unsigned kMaxDevicePeriodFrames = 8192;

// A period written as a whole number of frames, kMinDevicePeriodFrames to kMaxDevicePeriodFrames,
// nothing else around it. False, with `frames` untouched, for anything else.
bool parseDevicePeriod(const std::string& text, unsigned& frames);
