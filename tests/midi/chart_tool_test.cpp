// vibrelle-chart, run as a separate program: stdout holds exactly the chart the game loads.
#include "audio/midi_chart.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <sys/wait.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string output;
};

// Runs the tool with `arguments` (already quoted for the shell) and collects its standard output,
// or its standard error when `stderrOnly`.
RunResult runTool(const std::string &arguments, bool stderrOnly = false) {
    const std::string command = std::string("'") + VIBRELLE_CHART_TOOL + "' " + arguments +
                                (stderrOnly ? " 2>&1 >/dev/null" : " 2>/dev/null");
    RunResult result;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return result;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, got);
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

const std::string kFixture = std::string(VIBRELLE_TEST_DATA) + "/midi/format1_tempo_map.mid";

} // namespace

TEST(ChartTool, PrintsTheScaledChartAsOneJsonObject) {
    const RunResult run = runTool("--bpm 100 '" + kFixture + "'");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.output.empty());
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1); // one line, nothing else
    const nlohmann::json json = nlohmann::json::parse(run.output);

    MidiChart chart;
    CaptureStdout();
    ASSERT_TRUE(loadMidiChart(chart, kFixture));
    scaleChartToBpm(chart, 100.0f);
    GetCapturedStdout();

    EXPECT_EQ(json["file"], kFixture);
    EXPECT_EQ(json["midiBpm"].get<double>(), 100.0);
    ASSERT_EQ(json["notes"].size(), chart.notes.size());
    for (size_t i = 0; i < chart.notes.size(); ++i) {
        const auto &n = json["notes"][i];
        const MidiNoteEvent &e = chart.notes[i];
        // Full precision: the printed doubles read back to the very same values.
        EXPECT_EQ(n["time"].get<double>(), e.time) << i;
        EXPECT_EQ(n["duration"].get<double>(), e.duration) << i;
        EXPECT_EQ(n["tick"], e.tick);
        EXPECT_EQ(n["note"], e.note);
        EXPECT_EQ(n["velocity"], e.velocity);
        EXPECT_EQ(n["pan"], e.pan);
        EXPECT_EQ(n["channel"], e.channel);
        EXPECT_EQ(n["on"], e.isNoteOn);
    }
}

TEST(ChartTool, WithoutBpmKeepsTheFileTempo) {
    const RunResult run = runTool("'" + kFixture + "'");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_NEAR(nlohmann::json::parse(run.output)["midiBpm"].get<double>(), 90.0, 1e-3);
}

TEST(ChartTool, RefusedFilesAndBadArgumentsExitWithOne) {
    const std::string refused = std::string(VIBRELLE_TEST_DATA) + "/midi/running_status_after_sysex.mid";
    EXPECT_EQ(runTool("'" + refused + "'").output, "");
    const RunResult run = runTool("'" + refused + "'", true);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("Error: running status not permitted with meta and sysex event.\n"),
              std::string::npos);

    EXPECT_EQ(runTool("--bpm 0 '" + kFixture + "'").exitCode, 1);
    EXPECT_EQ(runTool("--bpm nan '" + kFixture + "'").exitCode, 1);
    EXPECT_EQ(runTool("").exitCode, 1);
    EXPECT_EQ(runTool("'/nonexistent/chart.mid'").exitCode, 1);
}
