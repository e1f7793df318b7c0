// GPU cost of a frame's drawing at 1280x720: the background alone, and background plus circles
// for 12, 24 and 48 circles, without and with their key letters. Each iteration ends with glFinish, so the
// time is the whole frame's rendering, on whatever GL the machine has (llvmpipe under Xvfb in CI). Run from
// assets/ (the shaders and fonts are read from there), under an X display:
//   cd assets && xvfb-run -a ../build/dev/bench/bench_render
#include "game/game_state.hpp"
#include "render/circle_renderer.hpp"
#include "render/gl_functions.hpp"
#include "render/render_system.hpp"
#include "render/shader_uniforms.hpp"

#include <SDL3/SDL.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace {

RenderState* gRender = nullptr;

// Circles spread over the screen like a busy level's: mixed stems, a few holds, all on screen.
void makeCircles(GameState& game, int count, int width, int height, bool letters) {
    game.circles.clear();
    game.songTime = 10.0;
    game.keyboardGameplay = letters;
    for (int i = 0; i < count; ++i) {
        Circle circle;
        circle.x = static_cast<float>((i * 97) % width);
        circle.y = static_cast<float>((i * 61) % height);
        circle.radius = 20.0f + static_cast<float>(i % 8) * 10.0f;
        circle.time = 10.0 + 0.1 * (i % 10);
        circle.stemIndex = i % 8;
        circle.channel = i % 5 == 0 ? kHoldChannel : 0;
        circle.holdDuration = 0.5f;
        circle.keyLabel = static_cast<char>('A' + i % 26);
        game.circles.push_back(circle);
    }
}

void advance(RenderState& render) {
    for (int i = 0; i < kStemSlots; ++i) {
        render.stemActive[i] = true;
    }
    render.activeStemCount = kStemSlots;
    advanceRenderState(render, 1.0f / 60.0f);
}

void BM_Background(benchmark::State& state) {
    RenderState& render = *gRender;
    for (auto _ : state) {
        advance(render);
        beginFrame(render);
        glFinish();
    }
}
BENCHMARK(BM_Background)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_BackgroundAndCircles(benchmark::State& state) {
    RenderState& render = *gRender;
    GameState game;
    makeCircles(game, static_cast<int>(state.range(0)), render.width, render.height, state.range(1) != 0);
    for (auto _ : state) {
        advance(render);
        beginFrame(render);
        drawCircles(game, render);
        glFinish();
    }
}
// Arguments: number of circles, key letters (1) or not (0).
BENCHMARK(BM_BackgroundAndCircles)
    ->ArgsProduct({{12, 24, 48}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!SDL_Init(SDL_INIT_VIDEO)) {
        std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    static RenderState render;
    WindowOptions options;
    options.fullscreen = false;
    // The start-up log would bury the figures: send it to /dev/null for the moment.
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    const bool ok = renderInit(render, "render bench", 1280, 720, options);
    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);
    close(devNull);
    close(savedStdout);
    if (!ok) {
        std::fprintf(stderr, "renderInit failed (run from assets/ under an X display)\n");
        return 1;
    }
    SDL_GL_SetSwapInterval(0);
    gRender = &render;
    benchmark::RunSpecifiedBenchmarks();
    renderShutdown(render);
    SDL_Quit();
    return 0;
}
