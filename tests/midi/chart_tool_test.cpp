// vibrelle-chart, run as a separate program: stdout holds exactly the chart the game loads.
#include "audio/midi_chart.hpp"
#include "capture.hpp"
#include "midi_bytes.hpp"

#include <gtest/gtest.h>

using namespace midibytes;

namespace {

// Runs the tool with `arguments` (already quoted for the shell) and collects its standard output,
// or its standard error when `stderrOnly`.
CommandRun runTool(const std::string& arguments, bool stderrOnly = false) {
    return runShellCommand(std::string("'") + VIBRELLE_CHART_TOOL + "' " + arguments +
                           (stderrOnly ? " 2>&1 >/dev/null" : " 2>/dev/null"));
}

const std::string kFixture = std::string(VIBRELLE_TEST_DATA) + "/midi/format1_tempo_map.mid";

} // namespace

TEST(ChartTool, PrintsTheChartAsTheGameLoadsItAsOneJsonObject) {
    for (const float bpm : {100.0f, 0.0f}) { // 0: no --bpm, the file's own tempo (90 BPM)
        SCOPED_TRACE(bpm);
        const CommandRun run = runTool((bpm > 0 ? "--bpm 100 '" : "'") + kFixture + "'");
        ASSERT_EQ(run.exitCode, 0);
        ASSERT_FALSE(run.output.empty());
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1); // one line, nothing else
        const nlohmann::json json = nlohmann::json::parse(run.output);

        MidiChart chart;
        ASSERT_TRUE(loadQuietly(chart, kFixture));
        errorsOf([&] { scaleChartToBpm(chart, bpm > 0 ? bpm : chart.midiBpm); });
        EXPECT_EQ(json["file"], kFixture);
        EXPECT_NEAR(json["midiBpm"].get<double>(), bpm > 0 ? 100.0 : 90.0, 1e-3);
        // Full precision: the printed doubles read back to the very same values.
        expectSameNotes(notesFromJson(json["notes"]), chart.notes);
    }
}

TEST(ChartTool, RefusedFilesAndBadArgumentsExitWithOne) {
    const std::string refused = std::string(VIBRELLE_TEST_DATA) + "/midi/running_status_after_sysex.mid";
    EXPECT_EQ(runTool("'" + refused + "'").output, "");
    const CommandRun run = runTool("'" + refused + "'", true);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("Error: running status not permitted with meta and sysex event.\n"),
              std::string::npos);
    for (const std::string& args : {"--bpm 0 '" + kFixture + "'", "--bpm nan '" + kFixture + "'",
                                    std::string(), std::string("'/nonexistent/chart.mid'")}) {
        EXPECT_EQ(runTool(args).exitCode, 1) << args;
    }
}
