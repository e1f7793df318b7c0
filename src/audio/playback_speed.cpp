#include "audio/playback_speed.hpp"

#include <cmath>

namespace {
double gSpeed = 1.0; // one audio system per game
} // namespace

bool setPlaybackSpeed(AudioSystem& /*audio*/, double speed) {
    if (!(speed >= kMinPlaybackSpeed - 1e-9 && speed <= kMaxPlaybackSpeed + 1e-9)) {
        return false;
    }
    gSpeed = std::round(speed * 20.0) / 20.0;
    return true;
}

double playbackSpeedOf(const AudioSystem& /*audio*/) { return gSpeed; }
