// The heard clock on plain values: positions between callbacks, the latency taken off, slewing,
// and a simulated device whose callbacks come early and late.
#include "audio/heard_clock.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace {

constexpr std::uint64_t kMs = 1'000'000;
constexpr double kPeriod = 256.0 / 44100.0;

MixReport reportAt(std::uint64_t atNs, double latency = 2 * kPeriod) {
    return MixReport{atNs, kPeriod, latency};
}

} // namespace

TEST(HeardClock, CarriesTheMixedPositionForwardLessTheLatencyAndMapsEventTimes) {
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
    // An input event's timestamp, after or before the clock's reading, in song time.
    EXPECT_DOUBLE_EQ(songTimeAt(10.0, 5000 * kMs, 5030 * kMs), 10.030);
    EXPECT_DOUBLE_EQ(songTimeAt(10.0, 5000 * kMs, 4990 * kMs), 9.990);
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

    // 20 ms behind: slowed down, never turned back.
    const double before = value;
    value = slewToward(clock, before - 0.020, now + kMs);
    EXPECT_NEAR(value, before + 0.00095, 1e-9);
    EXPECT_GE(slewToward(clock, 0.0, now + 2 * kMs), value) << "even a target far behind";

    // Far ahead (a new start, a stall): taken at once.
    EXPECT_DOUBLE_EQ(slewToward(clock, value + 0.5, now + 3 * kMs), value + 0.5);

    // Paused: the clock stands at the target.
    SlewedClock paused;
    slewToward(paused, 1.0, 0, false);
    EXPECT_DOUBLE_EQ(slewToward(paused, 1.0, 50 * kMs, false), 1.0);
}

TEST(HeardClock, FollowsADeviceWhoseCallbacksComeEarlyAndLate) {
    // A device playing from t = 0 calls back once a period, each call up to 1.5 ms early or 3 ms
    // late; it reports two periods of latency. What is really heard at t is t - one period (the
    // period just mixed plus the one playing, less the time the mix ran ahead). The clock, read
    // every 0.25 ms, stays within 2 ms of that, moves with the wall clock and never back.
    SlewedClock clock;
    std::uint32_t seed = 12345;
    auto jitterNs = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<std::int64_t>(seed >> 8) % 4'500'000 - 1'500'000;
    };
    const std::uint64_t periodNs = static_cast<std::uint64_t>(kPeriod * 1e9);
    std::uint64_t nextCallback = 10 * kMs; // the device starts at 10 ms of SDL time
    int callbacks = 0;
    MixReport report;
    double mixed = 0.0, previous = -1.0, worstStep = 0.0, worstError = 0.0;
    std::uint64_t previousNs = 0;
    for (std::uint64_t now = 10 * kMs; now < 10 * kMs + 5000 * kMs; now += kMs / 4) {
        for (; now >= nextCallback; nextCallback = 10 * kMs + ++callbacks * periodNs + jitterNs()) {
            mixed = (callbacks + 1) * kPeriod;
            report = reportAt(nextCallback);
        }
        const double value = slewToward(clock, heardPosition(mixed, report, now, true), now);
        const double truth = double(now - 10 * kMs) * 1e-9 - kPeriod;
        if (previous >= 0.0) {
            ASSERT_GE(value, previous);
            worstStep = std::max(worstStep, std::fabs((value - previous) - double(now - previousNs) * 1e-9));
        }
        if (now > 500 * kMs) {
            worstError = std::max(worstError, std::fabs(value - truth));
        }
        previous = value;
        previousNs = now;
    }
    EXPECT_LE(worstStep, 0.002);
    EXPECT_LE(worstError, 0.002);
}
