#pragma once
// The music's playback speed: a practice round plays its song slowed down. Main thread, with the
// game mutex held (as the other routines on the stems).
struct AudioSystem;

// The speeds offered, as factors of the music's own speed.
constexpr double kMinPlaybackSpeed = 0.5;
constexpr double kMaxPlaybackSpeed = 1.0;

// Sets the speed the stems play at from now on (0.5 to 1.0 in steps of 0.05) and returns true; a
// speed outside that range changes nothing and returns false. This build keeps the speed asked for
// (playbackSpeedOf) and plays the music at its own speed.
bool setPlaybackSpeed(AudioSystem& audio, double speed);

// The speed last set (1.0 until one is).
double playbackSpeedOf(const AudioSystem& audio);
