#include "app/app.hpp"
#include "app/frame_stats.hpp"
#include "game/game_test_support.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

TEST(FramePacing, SleepsOnlyWhatIsLeftOfTheDisplayPeriod) {
    const double period = displayPeriod(0.0f); // an unknown refresh rate: 60 Hz
    EXPECT_NEAR(period, 1.0 / 60.0, 1e-9);
    EXPECT_NEAR(displayPeriod(144.0f), 1.0 / 144.0, 1e-9);
    EXPECT_NEAR(pacingDelay(0.004, period), period - 0.004, 1e-12) << "a swap that returned at once";
    EXPECT_EQ(pacingDelay(period - 0.0001, period), 0.0) << "a swap that waited for the display";
    EXPECT_EQ(pacingDelay(0.030, period), 0.0) << "a slow frame is not slowed further";
}

TEST(FrameStats, MedianAndNinetyFifthPercentile) {
    EXPECT_EQ(summarizeFrames({}).frames, 0u);
    const FrameSummary odd = summarizeFrames({5.0f, 1.0f, 3.0f});
    EXPECT_FLOAT_EQ(odd.medianMs, 3.0f);
    EXPECT_FLOAT_EQ(odd.p95Ms, 5.0f);
    std::vector<float> hundred;
    for (int i = 100; i >= 1; --i) {
        hundred.push_back(static_cast<float>(i));
    }
    const FrameSummary even = summarizeFrames(hundred);
    EXPECT_FLOAT_EQ(even.medianMs, 50.5f);
    EXPECT_FLOAT_EQ(even.p95Ms, 95.0f);
    EXPECT_EQ(even.frames, 100u);
}

TEST(FrameStats, WarmUpFramesAreNotMeasured) {
    FrameStats stats;
    recordFrame(stats, 1.9, 0.050);
    EXPECT_TRUE(stats.frameMs.empty());
    recordFrame(stats, 2.1, 0.010);
    ASSERT_EQ(stats.frameMs.size(), 1u);
    EXPECT_FLOAT_EQ(stats.frameMs[0], 10.0f);
    EXPECT_DOUBLE_EQ(stats.measuredFrom, 2.1);
}

TEST(AppOptions, ScreenshotQuitAfterAndFrameStats) {
    const char* args[] = {"vibrelle", "--screenshot", "/tmp/shot.png", "--frame-stats", "--windowed"};
    AppOptions options = parseAppOptions(5, const_cast<char**>(args));
    EXPECT_EQ(options.screenshotPath, "/tmp/shot.png");
    EXPECT_DOUBLE_EQ(options.quitAfter, 3.0) << "a screenshot alone is taken after 3 s";
    EXPECT_TRUE(options.frameStats);
    EXPECT_TRUE(options.windowed);

    const char* timed[] = {"vibrelle", "--quit-after", "12.5"};
    EXPECT_DOUBLE_EQ(parseAppOptions(3, const_cast<char**>(timed)).quitAfter, 12.5);
    const char* bad[] = {"vibrelle", "--quit-after", "soon", "--screenshot"};
    const std::string err = stderrOf([&] { options = parseAppOptions(4, const_cast<char**>(bad)); });
    EXPECT_LT(options.quitAfter, 0.0);
    EXPECT_TRUE(options.screenshotPath.empty());
    EXPECT_NE(err.find("Ignoring --quit-after soon: expected a number of seconds"), std::string::npos) << err;
    EXPECT_NE(err.find("Ignoring unknown argument: --screenshot"), std::string::npos) << err;
}

// VIBRELLE_AUDIO_PERIOD: a whole number of frames from 64 to 8192, or it is reported and ignored.
TEST(AppOptions, WindowSizeInPixelsOrAClearStartUpError) {
    const struct {
        const char* text;
        bool ok;
        int width, height;
    } cases[] = {
        {"1280x720", true, 1280, 720},
        {"720X1280", true, 720, 1280},
        {"240x240", true, 240, 240},
        {"16384x16384", true, 16384, 16384},
        {"239x600", false, 0, 0},
        {"1280x16385", false, 0, 0},
        {"1280", false, 0, 0},
        {"1280x", false, 0, 0},
        {"x720", false, 0, 0},
        {"1280x720x2", false, 0, 0},
        {"-1280x720", false, 0, 0},
        {"1280 x 720", false, 0, 0},
        {"99999999999x720", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const auto& c : cases) {
        int width = 0, height = 0;
        EXPECT_EQ(parseWindowSize(c.text, width, height), c.ok) << c.text;
        EXPECT_EQ(width, c.width) << c.text;
        EXPECT_EQ(height, c.height) << c.text;
    }
    const char* sized[] = {"vibrelle", "--window-size", "720x1280"};
    AppOptions options = parseAppOptions(3, const_cast<char**>(sized));
    EXPECT_TRUE(options.windowed) << "a size is a window's";
    EXPECT_EQ(options.windowWidth, 720);
    EXPECT_EQ(options.startupError, "");
    const char* bad[] = {"vibrelle", "--window-size", "big"};
    EXPECT_EQ(parseAppOptions(3, const_cast<char**>(bad)).startupError,
              "Bad --window-size 'big': expected WIDTHxHEIGHT in pixels, each from 240 to 16384 (for example "
              "1280x720)");
    const char* missing[] = {"vibrelle", "--window-size"};
    EXPECT_NE(parseAppOptions(2, const_cast<char**>(missing)).startupError, "");
}

TEST(AppOptions, AudioPeriodFromTheEnvironment) {
    const char* args[] = {"vibrelle"};
    const std::pair<const char*, unsigned> cases[] = {{"2048", 2048}, {"64", 64}, {"", 0},     {"63", 0},
                                                      {"8193", 0},    {"1e3", 0}, {"-512", 0}, {" 512", 0}};
    for (const auto& [value, frames] : cases) {
        setenv("VIBRELLE_AUDIO_PERIOD", value, 1);
        AppOptions options;
        const std::string err = stderrOf([&] { options = parseAppOptions(1, const_cast<char**>(args)); });
        EXPECT_EQ(options.audioPeriodFrames, frames) << value;
        EXPECT_EQ(err, frames != 0 || *value == '\0'
                           ? ""
                           : "Ignoring VIBRELLE_AUDIO_PERIOD=" + std::string(value) +
                                 ": expected a whole number of frames from 64 to 8192\n");
    }
    unsetenv("VIBRELLE_AUDIO_PERIOD");
    EXPECT_EQ(parseAppOptions(1, const_cast<char**>(args)).audioPeriodFrames, 0u);
}

} // namespace
