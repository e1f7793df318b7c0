// The underrun count on made-up callback times: devices that keep up, callbacks made late, and a
// device that asks for its whole buffer.
#include "audio/underrun_watch.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr double kRate = 44100.0;

struct Callback {
    double atMs;
    unsigned frames;
};

// Underruns counted over callbacks of a device of `period` frames.
int underrunsOf(const std::vector<Callback>& callbacks, unsigned period, double rate = 1.0) {
    UnderrunWatch watch;
    int count = 0;
    for (const Callback& c : callbacks) {
        count +=
            noteMixCallback(watch, static_cast<std::uint64_t>(c.atMs * 1e6), c.frames, period, kRate, rate);
    }
    return count;
}

// `count` callbacks of `frames` frames each, `stepMs` apart from `fromMs` on.
std::vector<Callback> steady(double fromMs, int count, double stepMs, unsigned frames) {
    std::vector<Callback> callbacks;
    for (int i = 0; i < count; ++i) {
        callbacks.push_back({fromMs + i * stepMs, frames});
    }
    return callbacks;
}

std::vector<Callback> operator+(std::vector<Callback> a, const std::vector<Callback>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(UnderrunWatch, CountsTheCallbacksThatShowTheDeviceRanDry) {
    const double period = 1024 / kRate * 1000.0; // 23.2 ms
    const double quarter = period / 4;
    const struct {
        const char* what;
        std::vector<Callback> callbacks;
        double rate;
        int underruns;
    } cases[] = {
        {"a period asked once a period", steady(0, 100, period, 1024), 1.0, 0},
        {"a quarter period asked four times a period", steady(0, 400, quarter, 256), 1.0, 0},
        {"a sound server's start: a long wait after the first callback",
         std::vector<Callback>{{0, 768}} + steady(1000, 100, quarter, 256), 1.0, 0},
        {"one callback 10 ms late",
         steady(0, 50, period, 1024) + steady(49 * period + 33.2, 50, period, 1024), 1.0, 1},
        {"late by less than the slack",
         steady(0, 50, period, 1024) + steady(49 * period + 27.2, 50, period, 1024), 1.0, 0},
        {"three callbacks 20 ms late",
         steady(0, 10, quarter, 256) + steady(9 * quarter + 26, 10, quarter, 256) +
             steady(18 * quarter + 52, 10, quarter, 256) + steady(27 * quarter + 78, 10, quarter, 256),
         1.0, 3},
        // A device whose clock runs 4 % slow against SDL's calls back 4 % late, and is on time.
        {"a slow device clock", steady(0, 100, period * 1.04, 1024), 1.0 / 1.04, 0},
        // On time, but asking for all of its buffer where it asked for a quarter: it had emptied.
        {"a whole period asked after quarters",
         steady(0, 20, quarter, 256) + steady(20 * quarter, 1, quarter, 1024) +
             steady(21 * quarter, 20, quarter, 256),
         1.0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(underrunsOf(c.callbacks, 1024, c.rate), c.underruns) << c.what;
    }
}
