// The autoplay bot's thread: SDL-stamped finger events pushed no earlier than the note.
#include "app/app.hpp"
#include "game/game_test_support.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(AutoplayBot, PushesStampedFingerEventsNoEarlierThanTheNotes) {
    ASSERT_TRUE(SDL_Init(SDL_INIT_EVENTS)) << SDL_GetError();
    SDL_FlushEvents(SDL_EVENT_FIRST, SDL_EVENT_LAST);
    auto app = std::make_unique<App>();
    initGameState(app->game, 8);
    app->render = gametest::fullHdRender();
    std::uint64_t dueNs = 0;
    {
        std::lock_guard<std::mutex> lock(app->gameMutex);
        app->game.playing = true;
        app->game.songTime = 3.0;
        app->game.songTimeNs = SDL_GetTicksNS();
        app->game.circles = {gametest::tapAt(480, 810, 3.05)};
        dueNs = app->game.songTimeNs + 50'000'000;
    }
    EXPECT_EQ(stdoutOf([&] { autoplayBotStart(*app); }), "Autoplay enabled\n");
    SDL_Event down{}, up{};
    ASSERT_TRUE(SDL_WaitEventTimeout(&down, 5000));
    ASSERT_EQ(down.type, SDL_EVENT_FINGER_DOWN);
    EXPECT_GE(down.tfinger.timestamp, dueNs);
    EXPECT_GE(down.tfinger.fingerID, kAutoplayFingerBase);
    EXPECT_FLOAT_EQ(down.tfinger.x, 0.25f);
    EXPECT_FLOAT_EQ(down.tfinger.y, 0.25f) << "SDL's y runs downward";
    ASSERT_TRUE(SDL_WaitEventTimeout(&up, 5000));
    ASSERT_EQ(up.type, SDL_EVENT_FINGER_UP);
    EXPECT_EQ(up.tfinger.fingerID, down.tfinger.fingerID);
    EXPECT_GE(up.tfinger.timestamp, dueNs + 40'000'000);

    // A clock that stands still (the song's sound not yet heard) reaches the next note at no known
    // moment: nothing is pressed until it moves.
    {
        std::lock_guard<std::mutex> lock(app->gameMutex);
        app->game.songTime = 4.0;
        app->game.songTimeNs = SDL_GetTicksNS();
        app->game.songRate = 0.0;
        app->game.circles = {gametest::tapAt(480, 810, 4.05)};
    }
    EXPECT_FALSE(SDL_WaitEventTimeout(&down, 200)) << "pressed while the clock stood still";
    {
        std::lock_guard<std::mutex> lock(app->gameMutex);
        app->game.songTime = 4.05;
        app->game.songTimeNs = SDL_GetTicksNS();
        app->game.songRate = 1.0;
    }
    ASSERT_TRUE(SDL_WaitEventTimeout(&down, 5000));
    EXPECT_EQ(down.type, SDL_EVENT_FINGER_DOWN);

    autoplayBotStop(*app);
    EXPECT_FALSE(app->autoplay.thread.joinable());
    SDL_Quit();
}

} // namespace
