// The frame's input record from SDL events, with the moments they happened, and the frame's end.
#include "app/input.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

namespace {

// Events as SDL delivers them, stamped at `ns`.
SDL_Event key(SDL_EventType type, SDL_Keycode code, std::uint64_t ns = 0, bool repeat = false) {
    SDL_Event event{type};
    event.key.timestamp = ns;
    event.key.key = code;
    event.key.repeat = repeat;
    return event;
}
SDL_Event button(SDL_EventType type, Uint8 which, float x, float y, std::uint64_t ns = 0) {
    SDL_Event event{type};
    event.button.timestamp = ns;
    event.button.button = which;
    event.button.x = x;
    event.button.y = y;
    return event;
}
SDL_Event finger(SDL_EventType type, SDL_FingerID id, float x, float y, std::uint64_t ns = 0) {
    SDL_Event event{type};
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
    enum Flag { None, Playback, Gui, Quit, Leave, Menu, Screenshot };
    const struct {
        const char* what;
        SDL_Keycode key;
        bool calibrating, results, textField;
        Flag flag;
    } cases[] = {
        {"Space starts or stops the song", SDLK_SPACE, false, false, false, Playback},
        {"F12 hides the interface", SDLK_F12, false, false, false, Gui},
        {"Escape quits", SDLK_ESCAPE, false, false, false, Quit},
        {"Print Screen takes a picture", SDLK_PRINTSCREEN, false, false, false, Screenshot},
        {"a letter is only a key", SDLK_Q, false, false, false, None},
        {"Space is a tap when calibrating", SDLK_SPACE, true, false, false, None},
        {"Escape leaves the calibration", SDLK_ESCAPE, true, false, false, Leave},
        {"Escape leaves the results for the menu", SDLK_ESCAPE, false, true, false, Menu},
        {"Space on the results starts the song", SDLK_SPACE, false, true, false, Playback},
        {"Space typed into a field", SDLK_SPACE, false, false, true, None},
        {"Escape typed into a field", SDLK_ESCAPE, false, false, true, None},
        {"F12 typed into a field", SDLK_F12, false, false, true, None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InputState input;
        input.calibrating = c.calibrating;
        input.showingResults = c.results;
        applyInputEvent(input, key(SDL_EVENT_KEY_DOWN, c.key), PointerScale{}, c.textField);
        EXPECT_EQ(input.keysPressed.count(c.key), 1u) << "still a key press";
        EXPECT_EQ(input.togglePlayback, c.flag == Playback);
        EXPECT_EQ(input.toggleGui, c.flag == Gui);
        EXPECT_EQ(input.quitRequested, c.flag == Quit);
        EXPECT_EQ(input.leaveCalibration, c.flag == Leave);
        EXPECT_EQ(input.leaveResults, c.flag == Menu);
        EXPECT_EQ(input.screenshotRequested, c.flag == Screenshot);
        endInputFrame(input);
        EXPECT_FALSE(input.togglePlayback || input.toggleGui || input.leaveCalibration ||
                     input.leaveResults || input.screenshotRequested);
        EXPECT_EQ(input.quitRequested, c.flag == Quit);
    }
    InputState input;
    SDL_Event quit{SDL_EVENT_QUIT};
    applyInputEvent(input, quit, PointerScale{});
    EXPECT_TRUE(input.quitRequested) << "closing the window quits";
}

// SDL reports the mouse in points and fingers normalised to the window; the game works in drawable
// pixels. Xvfb always has a density of 1, so these drive the conversion directly at a density of 2.
const PointerScale kRetina{2.0f, 2560.0f, 1440.0f};

TEST(Input, TheLeftMouseButtonPressesHoldsAndReleasesInDrawablePixels) {
    InputState input;
    apply(input, {button(SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_BUTTON_LEFT, 10, 20.5f, 5)}, kRetina);
    EXPECT_TRUE(input.mousePressed && input.mouseHeld && input.mousePressNs == 5);
    EXPECT_TRUE(input.mouseX == 20.0f && input.mouseY == 41.0f);
    endInputFrame(input);
    EXPECT_TRUE(!input.mousePressed && input.mouseHeld);

    SDL_Event motion{SDL_EVENT_MOUSE_MOTION};
    motion.motion.x = 30.0f;
    motion.motion.y = 40.0f;
    apply(input, {motion, button(SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_BUTTON_RIGHT, 99, 99)}, kRetina);
    EXPECT_FALSE(input.mousePressed) << "only the left button counts";
    EXPECT_TRUE(input.mouseX == 60.0f && input.mouseY == 80.0f);

    apply(input, {button(SDL_EVENT_MOUSE_BUTTON_UP, SDL_BUTTON_LEFT, 50, 60, 9)}, kRetina);
    EXPECT_TRUE(input.mouseReleased && !input.mouseHeld && input.mouseReleaseNs == 9);
    EXPECT_TRUE(input.mouseX == 100.0f && input.mouseY == 120.0f);
    endInputFrame(input);
    EXPECT_FALSE(input.mouseReleased);
}

TEST(Input, AFingerIsTrackedInDrawablePixelsUntilTheEndOfTheFrameItWasLiftedIn) {
    InputState input;
    apply(input, {finger(SDL_EVENT_FINGER_DOWN, 7, 0.25f, 0.5f, 5)}, kRetina);
    EXPECT_TRUE(input.touches[7].held && input.touches[7].pressed && input.touches[7].pressNs == 5);
    EXPECT_TRUE(input.touches[7].x == 640.0f && input.touches[7].y == 720.0f);
    endInputFrame(input);
    EXPECT_TRUE(input.touches[7].held && !input.touches[7].pressed);

    apply(input,
          {finger(SDL_EVENT_FINGER_MOTION, 7, 0.5f, 0.25f), finger(SDL_EVENT_FINGER_MOTION, 11, 0.4f, 0.4f)},
          kRetina);
    EXPECT_TRUE(input.touches[7].held && !input.touches[7].pressed);
    EXPECT_TRUE(input.touches[7].x == 1280.0f && input.touches[7].y == 360.0f);
    EXPECT_FALSE(input.touches[11].held || input.touches[11].pressed) << "motion of a finger never seen down";

    apply(input, {finger(SDL_EVENT_FINGER_UP, 7, 0.2f, 0.3f, 9)});
    EXPECT_TRUE(!input.touches[7].held && input.touches[7].released && input.touches[7].releaseNs == 9);
    endInputFrame(input);
    EXPECT_TRUE(input.touches.empty()) << "lifted and unknown fingers are forgotten";

    // Down and up within one frame: both the press and the release are kept for the frame.
    apply(input,
          {finger(SDL_EVENT_FINGER_DOWN, 3, 0.1f, 0.1f, 10), finger(SDL_EVENT_FINGER_UP, 3, 0.1f, 0.1f, 20)});
    const TouchPoint touch = input.touches.at(3);
    EXPECT_TRUE(touch.pressed && touch.released && !touch.held && touch.pressNs == 10 &&
                touch.releaseNs == 20);
    endInputFrame(input);
    EXPECT_TRUE(input.touches.empty());
}

} // namespace

TEST(Input, DroppedFilesAreKeptForTheFrameTheyCameIn) {
    InputState input;
    char first[] = "/tmp/a b.vbr", second[] = "/tmp/\xC3\xA9.vbr";
    SDL_Event drop{SDL_EVENT_DROP_FILE};
    drop.drop.data = first;
    SDL_Event again = drop;
    again.drop.data = second;
    SDL_Event empty = drop;
    empty.drop.data = nullptr;
    apply(input, {drop, empty, again});
    EXPECT_EQ(input.droppedFiles, (std::vector<std::string>{first, second}));
    endInputFrame(input);
    EXPECT_TRUE(input.droppedFiles.empty());
}
