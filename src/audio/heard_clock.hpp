#pragma once
// The song clock as the player hears it. The mixer only knows how far it has mixed, and it mixes
// in bursts, a device period at a time, ahead of the sound: read raw, a voice's position moves in
// steps of a period and runs a period or two (plus what the output stream holds) early.
//
// Each time the audio callback has mixed, it notes the moment (SDL's nanosecond ticks) and the
// output latency; between callbacks the position is carried forward with the wall clock (for at
// most one period), and the latency is taken off. What comes out is then slewed: it never goes
// backwards, and a correction is spread over time (at most 5 % of the time that passes) rather
// than jumped, unless it is too large to be anything but a new start.
//
// Plain code on plain values: the engine keeps one SlewedClock per voice under its lock.
#include <cstdint>

// What an audio callback reports, with the mixed position it goes with.
struct MixReport {
    std::uint64_t atNs = 0; // SDL_GetTicksNS() when the callback had mixed
    double period = 0.0;    // the device period, seconds
    double latency = 0.0;   // seconds from then until the last mixed frame is heard
    double rate = 1.0;      // seconds of sound the device plays per second of SDL's clock
};

// The same report in source seconds of a sound played at `speed` of its native speed (a stretched
// voice group): a second of the device then carries `speed` seconds of the source, so the period,
// the latency and the rate are all multiplied by it.
MixReport reportAtSpeed(const MixReport& report, double speed);

// The position being heard at `nowNs` for a voice that had mixed up to `mixedSeconds` by the
// report: mixed + time since the report at the device's rate (at most one period, and none for a
// voice that is paused) - latency, and never below 0. With no report yet (no device), the mixed
// position as it stands.
double heardPosition(double mixedSeconds, const MixReport& report, std::uint64_t nowNs, bool advancing);

// A device's clock is its own: a sound card's crystal differs from the CPU's by parts in ten
// thousand, and a virtual device may run several per cent fast or slow. The rate is measured from
// the callbacks, as the sound consumed over the last one to two seconds of SDL's clock.
struct DeviceRate {
    std::uint64_t olderNs = 0, newerNs = 0; // two marks, the newer moved on each second
    double olderSeconds = 0.0, newerSeconds = 0.0;
    double rate = 1.0;
};

// Notes that by `atNs` the device has consumed `consumedSeconds` of sound in all, and returns the
// rate (1 until half a second has been seen; limited to 0.5..2).
double measureDeviceRate(DeviceRate& measure, std::uint64_t atNs, double consumedSeconds);

// Beyond this a difference between the clock and its target is a jump (a new start, a stall),
// taken at once, forward; a smaller one is slewed.
constexpr double kClockResyncSeconds = 0.1;
// The largest share of the time passing by which a correction may speed or slow the clock.
constexpr double kClockSlewRate = 0.05;

struct SlewedClock {
    bool started = false;
    double seconds = 0.0;   // the last value given out
    std::uint64_t atNs = 0; // when
    // Nothing new has reached the ear yet (a voice that has just started, a device being
    // reopened): the clock stands still until the target passes it, and then takes the target.
    bool holding = false;
};

// Moves the clock toward `target` at `nowNs` and returns its new value: its own progress at
// `rate` seconds per second of SDL's clock (none while not `advancing`: a paused voice), corrected
// toward the target by at most kClockSlewRate of the time passed; a target more than
// kClockResyncSeconds ahead is taken at once. A clock that is `holding` stays where it is until the
// target goes past it, then takes the target and stops holding. Never less than the value before.
double slewToward(SlewedClock& clock, double target, std::uint64_t nowNs, bool advancing = true,
                  double rate = 1.0);

// Song time at the moment `eventNs` (SDL ticks) on a clock that read `songTime` at `songTimeNs`
// and runs at `rate` song seconds per second of SDL's clock.
double songTimeAt(double songTime, std::uint64_t songTimeNs, std::uint64_t eventNs, double rate = 1.0);
