#include "audio/heard_clock.hpp"

#include <algorithm>

static double secondsBetween(std::uint64_t fromNs, std::uint64_t toNs) {
    return toNs >= fromNs ? static_cast<double>(toNs - fromNs) * 1e-9
                          : -static_cast<double>(fromNs - toNs) * 1e-9;
}

MixReport reportAtSpeed(const MixReport& report, double speed) {
    MixReport scaled = report;
    scaled.period *= speed;
    scaled.latency *= speed;
    scaled.rate *= speed;
    return scaled;
}

double heardPosition(double mixedSeconds, const MixReport& report, std::uint64_t nowNs, bool advancing) {
    if (report.atNs == 0) {
        return mixedSeconds;
    }
    const double since =
        advancing ? std::clamp(secondsBetween(report.atNs, nowNs) * report.rate, 0.0, report.period) : 0.0;
    // Before the first frame reaches the ear the song has not begun: 0, not a time before it.
    return std::max(0.0, mixedSeconds + since - report.latency);
}

double measureDeviceRate(DeviceRate& measure, std::uint64_t atNs, double consumedSeconds) {
    if (measure.olderNs == 0 || atNs < measure.newerNs) {
        measure = DeviceRate{atNs, atNs, consumedSeconds, consumedSeconds, 1.0};
        return measure.rate;
    }
    if (secondsBetween(measure.newerNs, atNs) >= 1.0) {
        measure.olderNs = measure.newerNs;
        measure.olderSeconds = measure.newerSeconds;
        measure.newerNs = atNs;
        measure.newerSeconds = consumedSeconds;
    }
    const double span = secondsBetween(measure.olderNs, atNs);
    if (span >= 0.5) {
        measure.rate = std::clamp((consumedSeconds - measure.olderSeconds) / span, 0.5, 2.0);
    }
    return measure.rate;
}

double slewToward(SlewedClock& clock, double target, std::uint64_t nowNs, bool advancing, double rate) {
    if (!clock.started) {
        clock.started = true;
        clock.seconds = target;
        clock.atNs = nowNs;
        return target;
    }
    if (clock.holding) {
        // Moving on by itself would run ahead of a sound that has not started: the clock waits for
        // the sound, then follows it from exactly there.
        clock.atNs = std::max(clock.atNs, nowNs);
        if (target <= clock.seconds) {
            return clock.seconds;
        }
        clock.holding = false;
        clock.seconds = target;
        return target;
    }
    const double passed = std::max(0.0, secondsBetween(clock.atNs, nowNs));
    const double predicted = clock.seconds + (advancing ? passed * rate : 0.0);
    const double error = target - predicted;
    double next;
    if (error > kClockResyncSeconds) {
        next = target; // far behind: a stall or a new start, not drift
    } else {
        const double step = kClockSlewRate * passed;
        next = predicted + std::clamp(error, -step, step);
    }
    // A target far behind (the clock stood still while the sound went on, say) is slewed toward
    // too, but the clock never goes back.
    next = std::max(next, clock.seconds);
    clock.seconds = next;
    clock.atNs = std::max(clock.atNs, nowNs);
    return next;
}

double songTimeAt(double songTime, std::uint64_t songTimeNs, std::uint64_t eventNs, double rate) {
    return songTime + secondsBetween(songTimeNs, eventNs) * rate;
}
