// Whole frames of the game's screens at 1280x720, as the main loop runs them (gameplay steps, the
// background, the GUI, the buffer swap) without the pacing sleep: the main menu, Settings,
// Credits, Calibration, the Leaderboard, the results (of a sample round), each tutorial page, and
// the background with the GUI hidden for reference. Time is wall time per frame; "cpu_ms" is the
// whole process's CPU time per frame, every thread counted (software GL draws on threads of its
// own), so cpu_ms / 16.7 is the share of one core the screen would take at 60 frames a second. Run
// from assets/ under an X display, with software GL for the figures the README quotes:
//   cd assets && SDL_AUDIO_DRIVER=dummy LIBGL_ALWAYS_SOFTWARE=1
//       xvfb-run -a -s "-screen 0 1920x1080x24" ../build/dev/bench/bench_menu
// The player's data folder is a temporary one and the leaderboard server a closed loopback port.
#include "app/app.hpp"
#include "app/app_screens.hpp"
#include "app/calibration_session.hpp"
#include "app/frame_stats.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "quiet_stdout.hpp"
#include "ui/leaderboard_screen.hpp"
#include "ui/ui_system.hpp"

#include <SDL3/SDL.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

App* gApp = nullptr;

const char* const kScreens[] = {"hidden gui",  "main menu",   "settings",   "credits",
                                "calibration", "leaderboard", "results",    "tutorial 0",
                                "tutorial 1",  "tutorial 2",  "tutorial 3", "tutorial 4"};

// Leaves whatever screen is open and opens screen `index` of kScreens, as its buttons would.
void showScreen(App& app, int index) {
    goToScreen(app, UIScreen::MainMenu);
    app.uiVisible = index != 0;
    const std::string name = kScreens[index];
    if (name == "settings") {
        goToScreen(app, UIScreen::Settings);
    } else if (name == "credits") {
        goToScreen(app, UIScreen::Credits);
    } else if (name == "calibration") {
        calibrationOpen(app);
    } else if (name == "leaderboard") {
        goToScreen(app, UIScreen::Leaderboard);
    } else if (name == "results") {
        showSampleResults(app);
    } else if (name.rfind("tutorial", 0) == 0) {
        goToScreen(app, UIScreen::Tutorial, name.back() - '0');
    }
}

void BM_ScreenFrame(benchmark::State& state) {
    App& app = *gApp;
    const int index = static_cast<int>(state.range(0));
    {
        QuietStdout quiet;
        showScreen(app, index);
        // Settle the layout, the tutorial's song and the glyphs the screen bakes.
        for (int i = 0; i < 30; ++i) {
            runFrame(app, 1.0f / 60.0f);
        }
    }
    const double cpuStart = processCpuSeconds();
    for (auto _ : state) {
        runFrame(app, 1.0f / 60.0f);
    }
    const double cpu = processCpuSeconds() - cpuStart;
    state.counters["cpu_ms"] = 1000.0 * cpu / static_cast<double>(state.iterations());
    state.SetLabel(kScreens[index]);
}
BENCHMARK(BM_ScreenFrame)
    ->DenseRange(0, static_cast<int>(sizeof kScreens / sizeof kScreens[0]) - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // Nothing of the player's is read or written, and no request leaves this machine.
    char folder[] = "/tmp/bench_menu_XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("XDG_DATA_HOME", folder, 1);
    setenv("VIBRELLE_LEADERBOARD_URL", "http://127.0.0.1:9/api", 1);
    auto app = std::make_unique<App>();
    app->options.windowed = true;
    bool ok = false;
    {
        QuietStdout quiet;
        ok = appInit(*app);
    }
    if (!ok) {
        std::fprintf(stderr, "appInit failed (run from assets/ under an X display)\n");
        std::filesystem::remove_all(folder);
        return 1;
    }
    // The swap must not wait for a display: the frame's own work is what is measured.
    SDL_GL_SetSwapInterval(0);
    gApp = app.get();
    benchmark::RunSpecifiedBenchmarks();
    {
        QuietStdout quiet;
        showScreen(*app, 1);
        httpDatabaseShutdown(1.0);
        appShutdown(*app);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
