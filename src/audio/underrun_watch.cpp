#include "audio/underrun_watch.hpp"

#include <algorithm>

bool noteMixCallback(UnderrunWatch& watch, std::uint64_t nowNs, unsigned frames, unsigned periodFrames,
                     double sampleRate, double rate) {
    const double most = 2.0 * double(std::max(periodFrames, 1u)) / sampleRate;
    bool ranDry = false;
    double held = 0.0;
    if (watch.callbacks > 0) {
        // Sound played since the previous callback.
        const double played = nowNs > watch.lastNs ? double(nowNs - watch.lastNs) * 1e-9 * rate : 0.0;
        // The first wait is the device starting, not playing.
        const bool emptied = watch.lastFrames < periodFrames && frames >= periodFrames;
        const bool late = played > watch.heldSeconds + kUnderrunSlackSeconds;
        ranDry = watch.callbacks > 1 && (emptied || late);
        held = std::max(watch.heldSeconds - played, 0.0);
    }
    watch.heldSeconds = std::min(held + double(frames) / sampleRate, most);
    watch.lastNs = nowNs;
    watch.lastFrames = frames;
    watch.callbacks = std::min(watch.callbacks + 1, 2u);
    return ranDry;
}
