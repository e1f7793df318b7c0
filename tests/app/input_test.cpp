#include "app/input.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

namespace {

// Input is driven with real SDL events through SDL's queue; no window is needed.
class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SDL_Init(SDL_INIT_EVENTS)) << SDL_GetError();
        SDL_FlushEvents(SDL_EVENT_FIRST, SDL_EVENT_LAST);
    }
    void TearDown() override { SDL_Quit(); }

    static void pushKey(SDL_EventType type, SDL_Keycode key, bool repeat = false) {
        SDL_Event event{};
        event.type = type;
        event.key.key = key;
        event.key.down = type == SDL_EVENT_KEY_DOWN;
        event.key.repeat = repeat;
        ASSERT_TRUE(SDL_PushEvent(&event));
    }
    static void pushButton(SDL_EventType type, Uint8 button, float x, float y) {
        SDL_Event event{};
        event.type = type;
        event.button.button = button;
        event.button.x = x;
        event.button.y = y;
        ASSERT_TRUE(SDL_PushEvent(&event));
    }
    static void pushFinger(SDL_EventType type, SDL_FingerID id, float x, float y) {
        SDL_Event event{};
        event.type = type;
        event.tfinger.fingerID = id;
        event.tfinger.x = x;
        event.tfinger.y = y;
        ASSERT_TRUE(SDL_PushEvent(&event));
    }

    InputState input;
};

TEST_F(InputTest, KeyDownCountsOncePerPressAndRepeatsAreIgnored) {
    pushKey(SDL_EVENT_KEY_DOWN, SDLK_A);
    pushKey(SDL_EVENT_KEY_DOWN, SDLK_A, true);
    pollInput(input, false);
    EXPECT_EQ(input.keysPressed.count(SDLK_A), 1u);
    EXPECT_EQ(input.keysHeld.count(SDLK_A), 1u);
    endInputFrame(input);

    // Held across frames until its key-up; a repeat key-up changes nothing.
    pushKey(SDL_EVENT_KEY_DOWN, SDLK_A, true);
    pushKey(SDL_EVENT_KEY_UP, SDLK_A, true);
    pollInput(input, false);
    EXPECT_TRUE(input.keysPressed.empty());
    EXPECT_TRUE(input.keysReleased.empty());
    EXPECT_EQ(input.keysHeld.count(SDLK_A), 1u);

    pushKey(SDL_EVENT_KEY_UP, SDLK_A);
    pollInput(input, false);
    EXPECT_EQ(input.keysReleased.count(SDLK_A), 1u);
    EXPECT_TRUE(input.keysHeld.empty());
    endInputFrame(input);
    EXPECT_TRUE(input.keysReleased.empty());
}

TEST_F(InputTest, ControlKeysSetTheirFlagsAndOnlyQuitPersists) {
    pushKey(SDL_EVENT_KEY_DOWN, SDLK_SPACE);
    pushKey(SDL_EVENT_KEY_DOWN, SDLK_F12);
    pollInput(input, true);
    EXPECT_TRUE(input.togglePlayback);
    EXPECT_TRUE(input.toggleGui);
    EXPECT_FALSE(input.quitRequested);
    endInputFrame(input);
    EXPECT_FALSE(input.togglePlayback);
    EXPECT_FALSE(input.toggleGui);

    pushKey(SDL_EVENT_KEY_DOWN, SDLK_ESCAPE);
    pollInput(input, false);
    EXPECT_TRUE(input.quitRequested);
    endInputFrame(input);
    EXPECT_TRUE(input.quitRequested);
}

TEST_F(InputTest, OnTheCalibrationScreenSpaceIsATapAndEscapeLeavesIt) {
    input.calibrating = true;
    pushKey(SDL_EVENT_KEY_DOWN, SDLK_SPACE);
    pushKey(SDL_EVENT_KEY_DOWN, SDLK_ESCAPE);
    pollInput(input, false);
    EXPECT_FALSE(input.togglePlayback);
    EXPECT_FALSE(input.quitRequested);
    EXPECT_TRUE(input.leaveCalibration);
    EXPECT_EQ(input.keysPressed.count(SDLK_SPACE), 1u);
    EXPECT_GT(input.keyPressNs.at(SDLK_SPACE), 0u) << "SDL stamps every event";
    endInputFrame(input);
    EXPECT_FALSE(input.leaveCalibration);
}

TEST_F(InputTest, QuitEventRequestsQuit) {
    SDL_Event event{};
    event.type = SDL_EVENT_QUIT;
    ASSERT_TRUE(SDL_PushEvent(&event));
    pollInput(input, false);
    EXPECT_TRUE(input.quitRequested);
}

TEST_F(InputTest, LeftMouseButtonPressReleaseAndHeld) {
    pushButton(SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_BUTTON_LEFT, 10.0f, 20.0f);
    pollInput(input, false);
    EXPECT_TRUE(input.mousePressed);
    EXPECT_TRUE(input.mouseHeld);
    EXPECT_FLOAT_EQ(input.mouseX, 10.0f);
    EXPECT_FLOAT_EQ(input.mouseY, 20.0f);
    endInputFrame(input);
    EXPECT_FALSE(input.mousePressed);
    EXPECT_TRUE(input.mouseHeld);

    SDL_Event motion{};
    motion.type = SDL_EVENT_MOUSE_MOTION;
    motion.motion.x = 30.0f;
    motion.motion.y = 40.0f;
    ASSERT_TRUE(SDL_PushEvent(&motion));
    pushButton(SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_BUTTON_RIGHT, 99.0f, 99.0f);
    pollInput(input, false);
    EXPECT_FALSE(input.mousePressed) << "only the left button counts";
    EXPECT_FLOAT_EQ(input.mouseX, 30.0f);
    EXPECT_FLOAT_EQ(input.mouseY, 40.0f);

    pushButton(SDL_EVENT_MOUSE_BUTTON_UP, SDL_BUTTON_LEFT, 50.0f, 60.0f);
    pollInput(input, false);
    EXPECT_TRUE(input.mouseReleased);
    EXPECT_FALSE(input.mouseHeld);
    EXPECT_FLOAT_EQ(input.mouseX, 50.0f);
    endInputFrame(input);
    EXPECT_FALSE(input.mouseReleased);
}

TEST_F(InputTest, FingerLifecycleAcrossFrames) {
    pushFinger(SDL_EVENT_FINGER_DOWN, 7, 0.5f, 0.5f);
    pollInput(input, false);
    ASSERT_EQ(input.touches.count(7), 1u);
    EXPECT_TRUE(input.touches[7].held);
    EXPECT_TRUE(input.touches[7].pressed);
    // No window for the event: positions scale by a 0 x 0 size.
    EXPECT_FLOAT_EQ(input.touches[7].x, 0.0f);
    endInputFrame(input);
    EXPECT_FALSE(input.touches[7].pressed);
    EXPECT_TRUE(input.touches[7].held);

    pushFinger(SDL_EVENT_FINGER_MOTION, 7, 0.2f, 0.3f);
    pollInput(input, false);
    EXPECT_TRUE(input.touches[7].held);
    EXPECT_FALSE(input.touches[7].pressed);

    pushFinger(SDL_EVENT_FINGER_UP, 7, 0.2f, 0.3f);
    pollInput(input, false);
    EXPECT_FALSE(input.touches[7].held);
    EXPECT_TRUE(input.touches[7].released);
    endInputFrame(input);
    EXPECT_EQ(input.touches.count(7), 0u) << "a lifted finger is forgotten at the end of its frame";
}

TEST_F(InputTest, FingerDownAndUpInOneFrameIsSeenThenGone) {
    pushFinger(SDL_EVENT_FINGER_DOWN, 3, 0.1f, 0.1f);
    pushFinger(SDL_EVENT_FINGER_UP, 3, 0.1f, 0.1f);
    pollInput(input, false);
    ASSERT_EQ(input.touches.count(3), 1u);
    EXPECT_TRUE(input.touches[3].pressed);
    EXPECT_TRUE(input.touches[3].released);
    EXPECT_FALSE(input.touches[3].held);
    endInputFrame(input);
    EXPECT_TRUE(input.touches.empty());
}

TEST_F(InputTest, MotionOrUpOfAnUnknownFingerCreatesIt) {
    pushFinger(SDL_EVENT_FINGER_MOTION, 11, 0.4f, 0.4f);
    pollInput(input, false);
    ASSERT_EQ(input.touches.count(11), 1u);
    EXPECT_FALSE(input.touches[11].held);
    EXPECT_FALSE(input.touches[11].pressed);
    endInputFrame(input);
    EXPECT_TRUE(input.touches.empty());
}

// SDL reports the mouse in points and fingers normalised to the window; the game works in drawable
// pixels. Xvfb always has a density of 1, so the conversion is driven directly here.
TEST_F(InputTest, PointerPositionsBecomeDrawablePixelsAtTheWindowsDensity) {
    const PointerScale retina{2.0f, 2560.0f, 1440.0f};
    SDL_Event event{};
    event.type = SDL_EVENT_MOUSE_MOTION;
    event.motion.x = 100.0f;
    event.motion.y = 50.5f;
    applyInputEvent(input, event, retina);
    EXPECT_FLOAT_EQ(input.mouseX, 200.0f);
    EXPECT_FLOAT_EQ(input.mouseY, 101.0f);

    event = SDL_Event{};
    event.type = SDL_EVENT_MOUSE_BUTTON_DOWN;
    event.button.button = SDL_BUTTON_LEFT;
    event.button.x = 640.0f;
    event.button.y = 360.0f;
    applyInputEvent(input, event, retina);
    EXPECT_FLOAT_EQ(input.mouseX, 1280.0f);
    EXPECT_FLOAT_EQ(input.mouseY, 720.0f);

    event = SDL_Event{};
    event.type = SDL_EVENT_FINGER_DOWN;
    event.tfinger.fingerID = 5;
    event.tfinger.x = 0.25f;
    event.tfinger.y = 0.5f;
    applyInputEvent(input, event, retina);
    EXPECT_FLOAT_EQ(input.touches[5].x, 640.0f);
    EXPECT_FLOAT_EQ(input.touches[5].y, 720.0f);
    EXPECT_FLOAT_EQ(pointsToPixels(3.0f, 1.5f), 4.5f);
}

TEST_F(InputTest, PrintScreenAsksForAScreenshotForOneFrame) {
    pushKey(SDL_EVENT_KEY_DOWN, SDLK_PRINTSCREEN);
    pollInput(input, false);
    EXPECT_TRUE(input.screenshotRequested);
    endInputFrame(input);
    EXPECT_FALSE(input.screenshotRequested);
}

} // namespace
