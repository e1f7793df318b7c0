#pragma once
// The screens driven headless: the GUI library without a window or renderer, mouse events fed in,
// the screens' traced rectangles used as click targets. The suite runs in a temporary copy of
// assets/ with a private data folder for the preferences, results and replays.
#include "app/app.hpp"
#include "app/app_screens.hpp"
#include "app/round.hpp"
#include "game/round_progress.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "prefs/preferences.hpp"
#include "ui/ui_system.hpp"

#include "capture.hpp"
#include "temp_assets.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>

// The suite's tests share the player's leaderboard.json: a test that saves results into it keeps one of
// these, and the file is put back as it was when the test ends.
struct LeaderboardKept {
    const bool existed = std::filesystem::exists(gLeaderboardClient.leaderboardPath);
    const std::string text = existed ? readText(gLeaderboardClient.leaderboardPath) : std::string();
    ~LeaderboardKept() {
        if (existed) {
            writeText(gLeaderboardClient.leaderboardPath, text);
        } else {
            std::filesystem::remove(gLeaderboardClient.leaderboardPath);
        }
    }
};

struct Rect {
    float x = 0, y = 0, w = 0, h = 0;
};

class Screens : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Nothing the game writes goes into the checkout.
        checkout = std::filesystem::current_path();
        assets = makeTempAssets("ui_screens");
        std::filesystem::current_path(assets);
        setenv("VIBRELLE_LEADERBOARD_URL", "http://127.0.0.1:9/api", 1);
        // The settings go to a data folder of the suite's own (SDL keeps its own copy of the
        // environment: set both).
        const std::string data = (assets / "data").string();
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        SDL_SetEnvironmentVariable(SDL_GetEnvironment(), "XDG_DATA_HOME", data.c_str(), true);
        httpDatabaseInit();
        const std::string prefs = getPrefsPath();
        gLeaderboardClient.leaderboardPath =
            prefs.substr(0, prefs.find_last_of('/') + 1) + kLeaderboardFileName;
        quietly([] {
            uiInitWithoutWindow(1.0f);
            shippedLevels = loadLevelList();
        });
        ImGuiIO& io = ImGui::GetIO();
        io.DisplaySize = ImVec2(1920.0f, 1080.0f);
        // A null renderer: it takes every texture the library asks for and draws nothing.
        io.BackendFlags |= ImGuiBackendFlags_RendererHasTextures;
    }
    static void TearDownTestSuite() {
        uiShutdown();
        httpDatabaseWait(5.0);
        std::filesystem::current_path(checkout);
        std::filesystem::remove_all(assets);
    }

    void SetUp() override {
        app = std::make_unique<App>();
        quietly([&] { ASSERT_TRUE(audioInit(app->audio, AudioBackend::NullDriver)); });
        initGameState(app->game, 8);
        app->uiVisible = true;
        app->levels.list = shippedLevels;
        gUI.screen = UIScreen::MainMenu; // the GUI's screen is process-wide, the app is per test
        gUI.tutorialPage = 0;
        gUI.trace = true;
        gUI.screenFrames = 0;
        gUI.tracedItems.clear();
        gUI.tracedScreen = UIScreen::Credits; // the next frame is a new screen: traced again
    }
    void TearDown() override {
        quietly([&] { audioShutdown(app->audio); });
        gUI.trace = false;
    }

    // One GUI frame with the mouse at (x, y), its left button down or up. Returns what it logged.
    std::string frame(float x = -1.0f, float y = -1.0f, bool down = false) {
        ImGuiIO& io = ImGui::GetIO();
        io.DeltaTime = 1.0f / 60.0f;
        io.AddMousePosEvent(x, y);
        io.AddMouseButtonEvent(0, down);
        ::testing::internal::CaptureStdout();
        ImGui::NewFrame();
        drawUI(*app);
        ImGui::Render();
        for (ImTextureData* texture : ImGui::GetPlatformIO().Textures) {
            if (texture->Status == ImTextureStatus_WantCreate ||
                texture->Status == ImTextureStatus_WantUpdates) {
                texture->SetTexID(1);
                texture->SetStatus(ImTextureStatus_OK);
            } else if (texture->Status == ImTextureStatus_WantDestroy) {
                texture->SetStatus(ImTextureStatus_Destroyed);
            }
        }
        const std::string out = ::testing::internal::GetCapturedStdout();
        for (std::istringstream lines(out); lines;) {
            std::string tag, id;
            Rect r;
            if (lines >> tag && tag == "UI:" && lines >> id >> r.x >> r.y >> r.w >> r.h) {
                traced[id] = r;
            }
            lines.ignore(1 << 20, '\n');
        }
        return out;
    }
    // A player who presses each circle `late` seconds after its time with `device` (each finger a
    // new id) and lets go 1 ms later, for `seconds` of song; the round is advanced as 60 Hz frames
    // would, the song clock given. Takes the game mutex.
    void playCircles(double seconds, InputDevice device, double late = 0.0) {
        std::lock_guard<std::mutex> lock(app->gameMutex);
        std::uint64_t finger = 1;
        for (double t = 0.0; t <= seconds; t += 1.0 / 60.0) {
            std::vector<RoundEvent> events;
            for (const Circle& circle : app->game.circles) {
                const double at = circle.time + late;
                if (at <= t && at > t - 1.0 / 60.0 && !circle.hit) {
                    const std::uint64_t id = device == InputDevice::Finger ? finger++ : 0;
                    RoundEvent press{
                        songTimeToMicros(at), InputKind::Press, device, id, 0, circle.x, circle.y};
                    RoundEvent release = press;
                    release.kind = InputKind::Release;
                    release.songTimeUs += 1000;
                    events.push_back(press);
                    events.push_back(release);
                }
            }
            std::sort(events.begin(), events.end(),
                      [](const RoundEvent& a, const RoundEvent& b) { return a.songTimeUs < b.songTimeUs; });
            app->game.songTime = t;
            queueRoundInputs(app->game, events, t);
            advanceRound(app->game, t, LayerRequests{});
        }
    }
    // Frames until the screen has been traced (and the tutorial's page applied, quietly).
    void settle() {
        quietly(
            [&] {
                for (int i = 0; i < 4; ++i) {
                    frame();
                }
            },
            true);
    }
    std::string click(const std::string& id) {
        EXPECT_EQ(traced.count(id), 1u) << id << " was never traced";
        const Rect r = traced[id];
        const float x = r.x + r.w / 2, y = r.y + r.h / 2;
        std::string out = frame(x, y, false);
        out += frame(x, y, true);
        out += frame(x, y, false);
        return out;
    }
    // Runs `f` with standard error captured, and standard output too unless `f` draws frames (they
    // capture it themselves); answers standard error.
    template <typename F> static std::string quietly(F f, bool drawsFrames = false) {
        if (!drawsFrames) {
            ::testing::internal::CaptureStdout();
        }
        ::testing::internal::CaptureStderr();
        f();
        if (!drawsFrames) {
            ::testing::internal::GetCapturedStdout();
        }
        return ::testing::internal::GetCapturedStderr();
    }
    // Carries out the level start the menu asked for, waiting for its files as the frames after it
    // would (quietly).
    void startPendingLevel() {
        quietly([&] {
            while (levelStartPending(app->levels)) {
                runPendingLevelStart(*app);
                if (app->levelRead.valid()) {
                    app->levelRead.wait();
                }
            }
        });
    }
    // Whether the window was drawn in the frame just built.
    static bool drawnLastFrame(const char* window) {
        const ImGuiWindow* w = ImGui::FindWindowByName(window);
        return w != nullptr && w->Active;
    }

    inline static std::vector<LevelListEntry> shippedLevels;
    inline static std::filesystem::path checkout, assets;
    std::unique_ptr<App> app;
    std::map<std::string, Rect> traced;
};
