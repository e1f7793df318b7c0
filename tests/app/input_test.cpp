// The frame's input record from SDL events, with the moments they happened, and the frame's end.
#include "app/input.hpp"
#include "game/judgement.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <tuple>

namespace {

// Events as SDL delivers them, stamped at `ns`.
SDL_Event key(SDL_EventType type, SDL_Keycode code, std::uint64_t ns = 0, bool repeat = false,
              SDL_Scancode scancode = SDL_SCANCODE_UNKNOWN) {
    SDL_Event event{type};
    event.key.timestamp = ns;
    event.key.key = code;
    event.key.scancode = scancode;
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
    ASSERT_EQ(input.actions.size(), 3u) << "a key bound to no cell is no round input";
    EXPECT_GT(input.actions[0].ns, 0u);
    EXPECT_TRUE(input.actions[0].ns <= input.actions[1].ns && input.actions[1].ns <= input.actions[2].ns);
}

TEST(Input, AKeyCountsOncePerPressAndRepeatsAreIgnored) {
    InputState input;
    apply(input, {key(SDL_EVENT_KEY_DOWN, SDLK_A, 10, false, SDL_SCANCODE_A),
                  key(SDL_EVENT_KEY_DOWN, SDLK_A, 11, true, SDL_SCANCODE_A)});
    EXPECT_EQ(input.actions.size(), 1u);
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
    EXPECT_TRUE(input.keysHeld.empty());
    endInputFrame(input);
    EXPECT_TRUE(input.keysReleased.empty() && input.actions.empty());
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

// The practice loop's marks: [ and ] by position; a pad's shoulders only while its Back is held,
// and then they play no lane (their releases neither).
TEST(Input, LoopMarksComeFromTheBracketsOrTheShouldersWithBackHeld) {
    const auto pad = [](SDL_GamepadButton which, bool down, std::uint64_t ns, SDL_JoystickID id = 3) {
        SDL_Event event{down ? SDL_EVENT_GAMEPAD_BUTTON_DOWN : SDL_EVENT_GAMEPAD_BUTTON_UP};
        event.gbutton.timestamp = ns;
        event.gbutton.which = id;
        event.gbutton.button = static_cast<Uint8>(which);
        event.gbutton.down = down;
        return event;
    };
    InputState input;
    apply(input, {key(SDL_EVENT_KEY_DOWN, SDLK_LEFTBRACKET, 10, false, SDL_SCANCODE_LEFTBRACKET),
                  key(SDL_EVENT_KEY_DOWN, SDLK_RIGHTBRACKET, 20, false, SDL_SCANCODE_RIGHTBRACKET)});
    EXPECT_EQ(std::make_pair(input.markLoopStartNs, input.markLoopEndNs),
              std::make_pair(std::uint64_t{10}, std::uint64_t{20}));
    endInputFrame(input);
    apply(input, {pad(SDL_GAMEPAD_BUTTON_LEFT_SHOULDER, true, 30), pad(SDL_GAMEPAD_BUTTON_BACK, true, 40),
                  pad(SDL_GAMEPAD_BUTTON_RIGHT_SHOULDER, true, 50),
                  pad(SDL_GAMEPAD_BUTTON_LEFT_SHOULDER, true, 55, 4),
                  pad(SDL_GAMEPAD_BUTTON_RIGHT_SHOULDER, false, 60)});
    EXPECT_EQ(std::make_pair(input.markLoopStartNs, input.markLoopEndNs),
              std::make_pair(std::uint64_t{0}, std::uint64_t{50}));
    // The left shoulder before Back, and another pad's, play their lanes; Back plays none.
    ASSERT_EQ(input.actions.size(), 3u);
    const std::uint32_t left = SDL_GAMEPAD_BUTTON_LEFT_SHOULDER, back = SDL_GAMEPAD_BUTTON_BACK;
    EXPECT_EQ(std::make_tuple(input.actions[0].code, input.actions[1].code, input.actions[2].code),
              std::make_tuple(left, back, left));
}

// SDL reports the mouse in points and fingers normalised to the window; the game works in drawable
// pixels. Xvfb always has a density of 1, so these drive the conversion directly at a density of 2.
const PointerScale kRetina{2.0f, 2560.0f, 1440.0f};

TEST(Input, TheLeftMouseButtonPressesHoldsAndReleasesInDrawablePixels) {
    InputState input;
    apply(input, {button(SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_BUTTON_LEFT, 10, 20.5f, 5)}, kRetina);
    EXPECT_TRUE(input.mousePressed && input.mouseHeld && input.actions.at(0).ns == 5);
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
    EXPECT_TRUE(input.mouseReleased && !input.mouseHeld && input.actions.at(0).ns == 9);
    EXPECT_TRUE(input.mouseX == 100.0f && input.mouseY == 120.0f);
    endInputFrame(input);
    EXPECT_FALSE(input.mouseReleased);
}

TEST(Input, AFingerIsTrackedInDrawablePixelsUntilTheEndOfTheFrameItWasLiftedIn) {
    InputState input;
    apply(input, {finger(SDL_EVENT_FINGER_DOWN, 7, 0.25f, 0.5f, 5)}, kRetina);
    EXPECT_TRUE(input.touches[7].held && input.touches[7].pressed && input.actions.at(0).ns == 5);
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
    EXPECT_TRUE(!input.touches[7].held && input.touches[7].released && input.actions.at(0).ns == 9);
    endInputFrame(input);
    EXPECT_TRUE(input.touches.empty()) << "lifted and unknown fingers are forgotten";

    // Down and up within one frame: both the press and the release are kept for the frame.
    apply(input,
          {finger(SDL_EVENT_FINGER_DOWN, 3, 0.1f, 0.1f, 10), finger(SDL_EVENT_FINGER_UP, 3, 0.1f, 0.1f, 20)});
    const TouchPoint touch = input.touches.at(3);
    EXPECT_TRUE(touch.pressed && touch.released && !touch.held);
    ASSERT_EQ(input.actions.size(), 2u);
    EXPECT_TRUE(input.actions[0].ns == 10 && input.actions[1].ns == 20);
    endInputFrame(input);
    EXPECT_TRUE(input.touches.empty());
}

// AZERTY moves letters, not positions: what each US-grid position prints there.
std::uint32_t azerty(std::uint16_t scancode) {
    switch (scancode) {
    case SDL_SCANCODE_Q:
        return 'a';
    case SDL_SCANCODE_A:
        return 'q';
    case SDL_SCANCODE_W:
        return 'z';
    case SDL_SCANCODE_Z:
        return 'w';
    case SDL_SCANCODE_M:
        return ',';
    case SDL_SCANCODE_COMMA:
        return ';';
    default:
        return layoutKeycode(scancode);
    }
}

TEST(Input, EveryDeviceBecomesTheRoundsEventsWithItsDeviceIdAndTime) {
    InputState input;
    SDL_Event pad{SDL_EVENT_GAMEPAD_BUTTON_DOWN};
    pad.gbutton.timestamp = 6'000'000'000ull; // song time 11 s
    pad.gbutton.button = SDL_GAMEPAD_BUTTON_SOUTH;
    pad.gbutton.down = true;
    // On AZERTY the key under US 'q' prints 'a': it still plays the cell of that position.
    const PointerScale scale{1.0f, 1000.0f, 800.0f};
    apply(input,
          {key(SDL_EVENT_KEY_DOWN, 'a', 5'500'000'000ull, false, SDL_SCANCODE_Q),
           key(SDL_EVENT_KEY_DOWN, 'p', 5'600'000'000ull, false, SDL_SCANCODE_P), pad,
           finger(SDL_EVENT_FINGER_DOWN, 9, 0.5f, 0.25f, 5'700'000'000ull),
           finger(SDL_EVENT_FINGER_UP, 9, 0.5f, 0.25f, 5'750'000'000ull)},
          scale);
    GameState game;
    game.playing = game.keyboardGameplay = true;
    game.songTime = 10.0;
    game.songTimeNs = 5'000'000'000ull;
    std::vector<RoundEvent> events = gameplayInputEvents(game, input, 800);
    const auto fields = [](const RoundEvent& e) {
        return std::make_tuple(e.songTimeUs, e.kind, e.device, e.id, e.key, e.x, e.y);
    };
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(fields(events[0]), fields({10'500'000, InputKind::Press, InputDevice::Key, 0, cellOf(0, 2)}));
    EXPECT_EQ(fields(events[2]),
              fields({10'750'000, InputKind::Release, InputDevice::Finger, 9, 0, 500.0f, 600.0f}));
    EXPECT_EQ(fields(events[3]),
              fields({11'000'000, InputKind::Press, InputDevice::Gamepad, 0, SDL_GAMEPAD_BUTTON_SOUTH}));
    endInputFrame(input); // the finger is gone: the mouse counts again
    apply(input, {button(SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_BUTTON_LEFT, 100, 200, 5'250'000'000ull)}, scale);
    events = gameplayInputEvents(game, input, 800);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(fields(events[0]),
              fields({10'250'000, InputKind::Press, InputDevice::Mouse, 0, 0, 100.0f, 600.0f}));
}

TEST(Input, ACellIsLabelledWithWhatThePlayersLayoutPrintsThere) {
    const KeyBindings grid = defaultKeyBindings();
    EXPECT_EQ(cellLabel(grid, cellOf(0, 2), azerty), "A") << "US q's place";
    EXPECT_EQ(cellLabel(grid, cellOf(0, 1), azerty), "Q");
    EXPECT_EQ(cellLabel(grid, cellOf(7, 0), azerty), ";");
    EXPECT_EQ(cellLabel(grid, cellOf(6, 0), azerty), ",");
    KeyBindings spaced = grid;
    spaced.scancodes[0] = SDL_SCANCODE_RETURN;
    EXPECT_EQ(cellLabel(spaced, 0, [](std::uint16_t) { return SDLK_RETURN; }), "Ret");
    EXPECT_EQ(cellLabel(grid, kNoCell), "");
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
