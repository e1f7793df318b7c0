// The slewed clock's two promises about targets behind it, value for value: a paused clock stays
// where it stands, and a running one is slowed by exactly the slew rate however far behind the
// target is (never frozen, never turned back).
#include "audio/heard_clock.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr std::uint64_t kMs = 1'000'000;

SlewedClock clockAt(double seconds, std::uint64_t atNs) {
    SlewedClock clock;
    slewToward(clock, seconds, atNs);
    return clock;
}

} // namespace

TEST(HeardClockPromises, APausedClockGivenALowerTargetStaysWhereItIs) {
    for (const double target : {0.999, 0.5, 0.0}) {
        SlewedClock clock = clockAt(1.0, 100 * kMs);
        EXPECT_EQ(slewToward(clock, target, 200 * kMs, false), 1.0) << target;
        EXPECT_EQ(slewToward(clock, target, 300 * kMs, false), 1.0) << target << ", read again";
    }
}

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
        SlewedClock clock = clockAt(2.0, 100 * kMs);
        EXPECT_NEAR(slewToward(clock, c.target, 110 * kMs), c.expected, 1e-12) << c.target;
    }
    // At a device rate other than 1 the clock's own progress is at that rate, slowed the same.
    SlewedClock fast = clockAt(2.0, 100 * kMs);
    EXPECT_NEAR(slewToward(fast, 0.0, 110 * kMs, true, 1.5), 2.015 - kClockSlewRate * 0.010, 1e-12);
}
