// The calibration rules: tap errors against the click, the outlier rule, the median, the click.
#include "audio/audio_engine.hpp"
#include "game/calibration.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

TEST(Calibration, ATapsErrorIsItsDistanceFromTheNearestClick) {
    const struct {
        double position;
        double errorMs;
    } cases[] = {{0.0, 0.0}, {0.61, 10.0}, {1.19, -10.0}, {6.0 + 0.035, 35.0}, {0.29, 290.0}, {0.31, -290.0}};
    for (const auto& c : cases) {
        EXPECT_NEAR(calibrationTapErrorMs(c.position), c.errorMs, 1e-6) << c.position;
    }
}

TEST(Calibration, TheOffsetIsTheMedianOfTheTapsLeftAfterTheWildOnes) {
    const struct {
        const char* what;
        std::vector<double> errors;
        int offsetMs;
        int dropped;
        double spreadAtMost;
    } cases[] = {
        {"steady taps", {28, 31, 30, 33, 27, 30, 29, 32, 30, 31, 28, 30, 29, 32, 31, 30}, 30, 0, 2.0},
        {"two wild taps", {18, 22, 20, 250, 19, 21, 20, 23, 17, 20, -200, 21, 19, 20, 22, 18}, 20, 2, 2.0},
        {"early hands", {-42, -38, -40, -41, -39, -40}, -40, 0, 2.0},
        {"an even count", {10, 12, 14, 16}, 13, 0, 3.0},
        {"all alike but one", {5, 5, 5, 5, 5, 9}, 5, 1, 0.0},
        {"one 5 MADs out", {10, 12, 14, 16, 18, 30}, 14, 1, 3.0},
        {"beyond the range", {400, 410, 405}, 300, 0, 5.0},
    };
    for (const auto& c : cases) {
        const CalibrationResult result = calibrationResult(c.errors);
        EXPECT_TRUE(result.valid) << c.what;
        EXPECT_EQ(result.offsetMs, c.offsetMs) << c.what;
        EXPECT_EQ(result.dropped, c.dropped) << c.what;
        EXPECT_EQ(result.kept + result.dropped, static_cast<int>(c.errors.size())) << c.what;
        EXPECT_LE(result.spreadMs, c.spreadAtMost) << c.what;
    }
    EXPECT_FALSE(calibrationResult({}).valid);
}

TEST(Calibration, TheClickSoundsAtTheStartOfEachBeat) {
    const std::vector<unsigned char> bytes = calibrationClickWav();
    Wav click;
    ASSERT_EQ(click.loadMem(bytes.data(), bytes.size()), AudioResult::Ok);
    EXPECT_NEAR(click.getLength(), kCalibrationBeat, 1e-4);
    auto peak = [&](double from, double to) {
        float loudest = 0.0f;
        for (auto i = static_cast<std::uint64_t>(from * 44100);
             i < std::min<std::uint64_t>(click.frameCount(), to * 44100); ++i) {
            loudest = std::max(loudest, std::fabs(click.samples()[i * click.channelCount()]));
        }
        return loudest;
    };
    EXPECT_GT(peak(0.0, 0.001), 0.5f) << "loud from its first millisecond";
    EXPECT_LT(peak(0.03, kCalibrationBeat), 1e-3f) << "silent to the next beat";
}
