// The heard clock on plain values: positions between callbacks, the latency taken off, slewing
// (and its promises about targets behind it, value for value), and simulated devices whose
// callbacks come early and late, one of them reopened.
#include "audio/heard_clock.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr std::uint64_t kMs = 1'000'000;
constexpr double kPeriod = 256.0 / 44100.0;

MixReport reportAt(std::uint64_t atNs, double latency = 2 * kPeriod) {
    return MixReport{atNs, kPeriod, latency};
}

} // namespace

TEST(HeardClock, CarriesTheMixedPositionForwardLessTheLatency) {
    const MixReport report = reportAt(1000 * kMs);
    const struct {
        std::uint64_t nowNs;
        bool advancing;
        double expected;
    } cases[] = {
        {1000 * kMs, true, 1.0 - 2 * kPeriod},           // at the callback
        {1002 * kMs, true, 1.002 - 2 * kPeriod},         // between callbacks: with the wall clock
        {1020 * kMs, true, 1.0 + kPeriod - 2 * kPeriod}, // a late callback: no further than a period
        {999 * kMs, true, 1.0 - 2 * kPeriod},            // a reading stamped before the report
        {1002 * kMs, false, 1.0 - 2 * kPeriod},          // a paused voice stands still
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(heardPosition(1.0, report, c.nowNs, c.advancing), c.expected, 1e-9) << c.nowNs;
    }
    EXPECT_EQ(heardPosition(0.005, report, 1000 * kMs, true), 0.0) << "nothing heard yet is 0, not negative";
    EXPECT_EQ(heardPosition(0.75, MixReport{}, 1000 * kMs, true), 0.75) << "no device: the mixed position";
}

TEST(HeardClock, SlewsCorrectionsAndNeverGoesBack) {
    SlewedClock clock;
    EXPECT_DOUBLE_EQ(slewToward(clock, 2.0, 100 * kMs), 2.0) << "the first reading is taken as it is";

    // 20 ms ahead of where the clock would be: caught up at 5 % of the time passing, not at once.
    EXPECT_NEAR(slewToward(clock, 2.030, 110 * kMs), 2.0105, 1e-9);
    double value = 2.0105;
    std::uint64_t now = 110 * kMs;
    while (now < 600 * kMs) {
        now += kMs;
        value = slewToward(clock, 2.030 + double(now - 110 * kMs) * 1e-9, now);
    }
    EXPECT_NEAR(value, 2.030 + 0.490, 1e-9) << "caught up within 0.4 s";

    // Far ahead (a new start, a stall): taken at once. Targets behind: HeardClockPromises below.
    EXPECT_DOUBLE_EQ(slewToward(clock, value + 0.5, now + kMs), value + 0.5);
}

// A paused clock given a lower target stays where it stands.
TEST(HeardClockPromises, APausedClockGivenALowerTargetStaysWhereItIs) {
    for (const double target : {1.0, 0.999, 0.5, 0.0}) {
        SlewedClock clock;
        slewToward(clock, 1.0, 100 * kMs);
        EXPECT_EQ(slewToward(clock, target, 200 * kMs, false), 1.0) << target;
        EXPECT_EQ(slewToward(clock, target, 300 * kMs, false), 1.0) << target << ", read again";
    }
}

// A running clock behind its target is slowed by exactly the slew rate however far behind the
// target is: never frozen, never turned back.
TEST(HeardClockPromises, ARunningClockBehindItsTargetSlowsByTheSlewRateHoweverFarBehind) {
    // 10 ms pass: the clock would reach 2.010; it may be slowed by at most 5 % of 10 ms.
    const double slowed = 2.010 - kClockSlewRate * 0.010;
    const struct {
        double target;
        double expected;
    } cases[] = {
        {2.0098, 2.0098}, // behind by less than the allowed correction: the target itself
        {2.0, slowed},    // 10 ms behind
        {1.5, slowed},    // far behind (past kClockResyncSeconds): slewed too, not frozen
        {0.0, slowed},
    };
    for (const auto& c : cases) {
        SlewedClock clock;
        slewToward(clock, 2.0, 100 * kMs);
        EXPECT_NEAR(slewToward(clock, c.target, 110 * kMs), c.expected, 1e-12) << c.target;
    }
    // At a device rate other than 1 the clock's own progress is at that rate, slowed the same.
    SlewedClock fast;
    slewToward(fast, 2.0, 100 * kMs);
    EXPECT_NEAR(slewToward(fast, 0.0, 110 * kMs, true, 1.5), 2.015 - kClockSlewRate * 0.010, 1e-12);
}

namespace {

// A simulated device opening at `openNs` to play on from song position `from`: it calls back once a
// period, up to 1.5 ms early or 3 ms late, and reports two periods of latency. What is really
// heard at t is from + (t - open - one period), and nothing new before that.
struct SimDevice {
    double period;
    std::uint64_t openNs;
    double from = 0.0;
    std::uint32_t seed = 12345;
    int callbacks = 0;
    std::uint64_t nextNs = openNs;
    MixReport report;
    double mixed = 0.0;

    // The clock's target at `now`, the engine's way.
    double target(std::uint64_t now) {
        for (; now >= nextNs; seed = seed * 1664525u + 1013904223u) {
            mixed = from + (callbacks + 1) * period;
            report = MixReport{nextNs, period, 2 * period};
            const double jitterNs = double(static_cast<std::int64_t>(seed >> 8) % 4'500'000 - 1'500'000);
            nextNs = openNs + static_cast<std::uint64_t>(++callbacks * period * 1e9 + jitterNs);
        }
        return heardPosition(mixed, report, now, true);
    }
    double heard(std::uint64_t now) const {
        return from + std::max(0.0, double(now - openNs) * 1e-9 - period);
    }
};

// A clock read every 0.25 ms, never going back: its largest error against what is heard, and the
// largest difference between its steps and those of what is heard.
struct ClockCheck {
    SlewedClock clock;
    double previous = -1.0, previousTruth = 0.0, worstStep = 0.0, worstError = 0.0;

    // Reads toward the device's target, or without a device (one being reopened) as the engine
    // does: where the clock stands.
    void read(std::uint64_t now, SimDevice* device, double truth, bool measured = true) {
        const double value = device != nullptr ? slewToward(clock, device->target(now), now) : clock.seconds;
        if (previous >= 0.0) {
            EXPECT_GE(value, previous);
            worstStep = std::max(worstStep, std::fabs((value - previous) - (truth - previousTruth)));
        }
        worstError = measured ? std::max(worstError, std::fabs(value - truth)) : worstError;
        previous = value;
        previousTruth = truth;
    }
};

constexpr std::uint64_t kReadNs = kMs / 4;

} // namespace

TEST(HeardClock, FollowsADeviceWhoseCallbacksComeEarlyAndLate) {
    // Once past its start, the clock stays within 2 ms of what is heard and moves with it.
    SimDevice device{kPeriod, 10 * kMs};
    ClockCheck check;
    for (std::uint64_t now = 10 * kMs; now < 5010 * kMs; now += kReadNs) {
        check.read(now, &device, device.heard(now), now > 500 * kMs);
    }
    EXPECT_LE(check.worstStep, 0.002);
    EXPECT_LE(check.worstError, 0.002);
}

TEST(HeardClock, StaysWithTheSoundFromTheStartAndAcrossADeviceReopenedWithAnotherPeriod) {
    // A 1024-frame device (23 ms), heard a period after it starts: a clock that holds from its
    // first reading waits for that instead of running most of it ahead. At 1 s the device closes:
    // the clock stops and holds, and the engine moves the voice back to where it stands. After
    // 100 ms without sound a 2048-frame device (46 ms) plays on from there. The clock stays within
    // 3 ms of what is heard throughout (a callback may be 3 ms late).
    SimDevice first{1024.0 / 44100.0, 10 * kMs};
    ClockCheck check;
    check.clock.holding = true;
    std::uint64_t now = 10 * kMs;
    for (; now < 1000 * kMs; now += kReadNs) {
        check.read(now, &first, first.heard(now));
    }
    const double heardAtClose = first.heard(now);
    SimDevice second{2048.0 / 44100.0, now + 100 * kMs, check.clock.seconds};
    EXPECT_NEAR(second.from, heardAtClose, 0.003) << "the sound goes on where it was heard";
    check.clock.holding = true;
    for (; now < second.openNs; now += kReadNs) {
        check.read(now, nullptr, heardAtClose);
    }
    for (; now < 4000 * kMs; now += kReadNs) {
        check.read(now, &second, second.heard(now));
    }
    EXPECT_LE(check.worstError, 0.003);
    EXPECT_LE(check.worstStep, 0.003);
}
