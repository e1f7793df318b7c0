// The frame's input record, filled from SDL events: keys, hot keys, the mouse and fingers with the
// moments they happened, and what the end of a frame forgets.
#include "app/input.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

namespace {

// An event as SDL delivers it, stamped at `ns`.
SDL_Event key(SDL_EventType type, SDL_Keycode code, std::uint64_t ns = 0, bool repeat = false) {
    SDL_Event event{};
    event.type = type;
    event.key.timestamp = ns;
    event.key.key = code;
    event.key.down = type == SDL_EVENT_KEY_DOWN;
    event.key.repeat = repeat;
    return event;
}
SDL_Event button(SDL_EventType type, Uint8 which, float x, float y, std::uint64_t ns = 0) {
    SDL_Event event{};
    event.type = type;
    event.button.timestamp = ns;
    event.button.button = which;
    event.button.x = x;
    event.button.y = y;
    return event;
}
SDL_Event finger(SDL_EventType type, SDL_FingerID id, float x, float y, std::uint64_t ns = 0) {
    SDL_Event event{};
    event.type = type;
    event.tfinger.timestamp = ns;
    event.tfinger.fingerID = id;
    event.tfinger.x = x;
    event.tfinger.y = y;
    return event;
}
void apply(InputState& input, std::initializer_list<SDL_Event> events, const PointerScale& scale = {}) {
    for (const SDL_Event& event : events) {
        applyInputEvent(input, event, scale);
    }
}

TEST(Input, PolledEventsKeepTheTimestampsSDLGaveThem) {
    ASSERT_TRUE(SDL_Init(SDL_INIT_EVENTS)) << SDL_GetError();
    SDL_FlushEvents(SDL_EVENT_FIRST, SDL_EVENT_LAST);
    for (SDL_Event event : {key(SDL_EVENT_KEY_DOWN, SDLK_A), button(SDL_EVENT_MOUSE_BUTTON_DOWN, 1, 5, 5),
                            finger(SDL_EVENT_FINGER_DOWN, 3, 0, 0), finger(SDL_EVENT_FINGER_UP, 3, 0, 0)}) {
        ASSERT_TRUE(SDL_PushEvent(&event));
    }
    InputState input;
    pollInput(input, false);
    SDL_Quit();
    EXPECT_GT(input.keyPressNs.at(SDLK_A), 0u);
    EXPECT_GT(input.mousePressNs, 0u);
    EXPECT_GE(input.touches.at(3).releaseNs, input.touches.at(3).pressNs);
    EXPECT_GE(input.touches.at(3).pressNs, input.mousePressNs);
}

TEST(Input, AKeyCountsOncePerPressAndRepeatsAreIgnored) {
    InputState input;
    apply(input, {key(SDL_EVENT_KEY_DOWN, SDLK_A, 10), key(SDL_EVENT_KEY_DOWN, SDLK_A, 11, true)});
    EXPECT_EQ(input.keysPressed, std::set<std::uint32_t>{SDLK_A});
    EXPECT_EQ(input.keysHeld, std::set<std::uint32_t>{SDLK_A});
    EXPECT_EQ(input.keyPressNs.at(SDLK_A), 10u);
    endInputFrame(input);
    EXPECT_TRUE(input.keysPressed.empty() && input.keyPressNs.empty());

    apply(input, {key(SDL_EVENT_KEY_DOWN, SDLK_A, 20, true), key(SDL_EVENT_KEY_UP, SDLK_A, 21, true)});
    EXPECT_TRUE(input.keysPressed.empty() && input.keysReleased.empty());
    EXPECT_EQ(input.keysHeld.count(SDLK_A), 1u) << "held across frames until its key-up";

    apply(input, {key(SDL_EVENT_KEY_UP, SDLK_A, 30)});
    EXPECT_EQ(input.keysReleased, std::set<std::uint32_t>{SDLK_A});
    EXPECT_EQ(input.keyReleaseNs.at(SDLK_A), 30u);
    EXPECT_TRUE(input.keysHeld.empty());
    endInputFrame(input);
    EXPECT_TRUE(input.keysReleased.empty() && input.keyReleaseNs.empty());
}

TEST(Input, EachHotKeySetsItsFlagForOneFrameAndQuitStays) {
    enum Flag { None, Playback, Gui, Quit, Leave, Screenshot };
    const struct {
        const char* what;
        SDL_Keycode key;
        bool calibrating, textField;
        Flag flag;
    } cases[] = {
        {"Space starts or stops the song", SDLK_SPACE, false, false, Playback},
        {"F12 hides the interface", SDLK_F12, false, false, Gui},
        {"Escape quits", SDLK_ESCAPE, false, false, Quit},
        {"Print Screen takes a picture", SDLK_PRINTSCREEN, false, false, Screenshot},
        {"a letter is only a key", SDLK_Q, false, false, None},
        {"Space is a tap when calibrating", SDLK_SPACE, true, false, None},
        {"Escape leaves the calibration", SDLK_ESCAPE, true, false, Leave},
        {"Space typed into a field", SDLK_SPACE, false, true, None},
        {"Escape typed into a field", SDLK_ESCAPE, false, true, None},
        {"F12 typed into a field", SDLK_F12, false, true, None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InputState input;
        input.calibrating = c.calibrating;
        applyInputEvent(input, key(SDL_EVENT_KEY_DOWN, c.key), PointerScale{}, c.textField);
        EXPECT_EQ(input.keysPressed.count(c.key), 1u) << "still a key press";
        EXPECT_EQ(input.togglePlayback, c.flag == Playback);
        EXPECT_EQ(input.toggleGui, c.flag == Gui);
        EXPECT_EQ(input.quitRequested, c.flag == Quit);
        EXPECT_EQ(input.leaveCalibration, c.flag == Leave);
        EXPECT_EQ(input.screenshotRequested, c.flag == Screenshot);
        endInputFrame(input);
        EXPECT_FALSE(input.togglePlayback || input.toggleGui || input.leaveCalibration ||
                     input.screenshotRequested);
        EXPECT_EQ(input.quitRequested, c.flag == Quit);
    }
    InputState input;
    SDL_Event quit{};
    quit.type = SDL_EVENT_QUIT;
    applyInputEvent(input, quit, PointerScale{});
    EXPECT_TRUE(input.quitRequested) << "closing the window quits";
}

TEST(Input, TheLeftMouseButtonPressesHoldsAndReleases) {
    InputState input;
    apply(input, {button(SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_BUTTON_LEFT, 10, 20, 5)});
    EXPECT_TRUE(input.mousePressed && input.mouseHeld && input.mousePressNs == 5);
    EXPECT_TRUE(input.mouseX == 10.0f && input.mouseY == 20.0f);
    endInputFrame(input);
    EXPECT_TRUE(!input.mousePressed && input.mouseHeld);

    SDL_Event motion{};
    motion.type = SDL_EVENT_MOUSE_MOTION;
    motion.motion.x = 30.0f;
    motion.motion.y = 40.0f;
    apply(input, {motion, button(SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_BUTTON_RIGHT, 99, 99)});
    EXPECT_FALSE(input.mousePressed) << "only the left button counts";
    EXPECT_TRUE(input.mouseX == 30.0f && input.mouseY == 40.0f);

    apply(input, {button(SDL_EVENT_MOUSE_BUTTON_UP, SDL_BUTTON_LEFT, 50, 60, 9)});
    EXPECT_TRUE(input.mouseReleased && !input.mouseHeld && input.mouseReleaseNs == 9);
    EXPECT_TRUE(input.mouseX == 50.0f && input.mouseY == 60.0f);
    endInputFrame(input);
    EXPECT_FALSE(input.mouseReleased);
}

TEST(Input, AFingerIsTrackedUntilTheEndOfTheFrameItWasLiftedIn) {
    InputState input;
    apply(input, {finger(SDL_EVENT_FINGER_DOWN, 7, 0.5f, 0.5f, 5)});
    EXPECT_TRUE(input.touches[7].held && input.touches[7].pressed && input.touches[7].pressNs == 5);
    endInputFrame(input);
    EXPECT_TRUE(input.touches[7].held && !input.touches[7].pressed);

    apply(input,
          {finger(SDL_EVENT_FINGER_MOTION, 7, 0.2f, 0.3f), finger(SDL_EVENT_FINGER_MOTION, 11, 0.4f, 0.4f)});
    EXPECT_TRUE(input.touches[7].held && !input.touches[7].pressed);
    EXPECT_FALSE(input.touches[11].held || input.touches[11].pressed) << "motion of a finger never seen down";

    apply(input, {finger(SDL_EVENT_FINGER_UP, 7, 0.2f, 0.3f, 9)});
    EXPECT_TRUE(!input.touches[7].held && input.touches[7].released && input.touches[7].releaseNs == 9);
    endInputFrame(input);
    EXPECT_TRUE(input.touches.empty()) << "lifted and unknown fingers are forgotten";
}

TEST(Input, AFingerDownAndUpInOneFrameKeepsBothItsPressAndItsRelease) {
    InputState input;
    apply(input,
          {finger(SDL_EVENT_FINGER_DOWN, 3, 0.1f, 0.1f, 10), finger(SDL_EVENT_FINGER_UP, 3, 0.1f, 0.1f, 20)});
    const TouchPoint touch = input.touches.at(3);
    EXPECT_TRUE(touch.pressed && touch.released && !touch.held);
    EXPECT_TRUE(touch.pressNs == 10 && touch.releaseNs == 20);
    endInputFrame(input);
    EXPECT_TRUE(input.touches.empty());
}

// SDL reports the mouse in points and fingers normalised to the window; the game works in drawable
// pixels. Xvfb always has a density of 1, so the conversion is driven directly here.
TEST(Input, PointerPositionsBecomeDrawablePixelsAtTheWindowsDensity) {
    const PointerScale retina{2.0f, 2560.0f, 1440.0f};
    InputState input;
    SDL_Event motion{};
    motion.type = SDL_EVENT_MOUSE_MOTION;
    motion.motion.x = 100.0f;
    motion.motion.y = 50.5f;
    apply(input, {motion}, retina);
    EXPECT_TRUE(input.mouseX == 200.0f && input.mouseY == 101.0f);
    apply(input, {button(SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_BUTTON_LEFT, 640, 360)}, retina);
    EXPECT_TRUE(input.mouseX == 1280.0f && input.mouseY == 720.0f);
    apply(input, {button(SDL_EVENT_MOUSE_BUTTON_UP, SDL_BUTTON_LEFT, 320, 180)}, retina);
    EXPECT_TRUE(input.mouseX == 640.0f && input.mouseY == 360.0f);
    apply(input, {finger(SDL_EVENT_FINGER_DOWN, 5, 0.25f, 0.5f)}, retina);
    EXPECT_TRUE(input.touches[5].x == 640.0f && input.touches[5].y == 720.0f);
    apply(input, {finger(SDL_EVENT_FINGER_MOTION, 5, 0.5f, 0.25f)}, retina);
    EXPECT_TRUE(input.touches[5].x == 1280.0f && input.touches[5].y == 360.0f);
}

} // namespace
