// The keyboard grid: stored bindings and what a key's label reads.
#include "game/key_grid.hpp"

#include <gtest/gtest.h>

TEST(KeyGrid, StoredBindingsThatCannotBeAGridFallBackToTheDefaultWithAMessage) {
    const KeyBindings grid = defaultKeyBindings();
    std::vector<std::int64_t> stored(grid.scancodes.begin(), grid.scancodes.end());
    std::swap(stored[0], stored[1]);
    KeyBindings bindings;
    std::string message;
    ASSERT_TRUE(keyBindingsFrom(stored, bindings, message));
    EXPECT_EQ(cellForScancode(bindings, defaultKeyBindings().scancodes[0]), 1u);
    EXPECT_EQ(cellForScancode(bindings, 19), kNoCell) << "P plays no cell";

    const struct {
        std::size_t cell;
        std::int64_t scancode;
    } broken[] = {{3, 1000}, {3, -4}, {3, 44 /* Space */}, {3, stored[5]}};
    for (const auto& b : broken) {
        std::vector<std::int64_t> bad = stored;
        bad[b.cell] = b.scancode;
        EXPECT_FALSE(keyBindingsFrom(bad, bindings, message)) << b.scancode;
        EXPECT_EQ(bindings.scancodes, defaultKeyBindings().scancodes);
        EXPECT_NE(message.find("using the default grid"), std::string::npos);
    }
    EXPECT_FALSE(keyBindingsFrom({4, 5}, bindings, message));
    EXPECT_EQ(message, "Key bindings need 24 keys, found 2: using the default grid");
}

TEST(KeyGrid, ALabelIsTheKeysCapitalOrAShortName) {
    const struct {
        std::uint32_t keycode;
        const char* name;
        const char* label;
    } cases[] = {{'q', "Q", "Q"},         {',', ",", ","},         {0xE9, "\xC3\xA9", "\xC3\x89"},
                 {0x17C, "", "\xC5\xBB"}, {0x3C9, "", "\xCE\xA9"}, {0x439, "", "\xD0\x99"},
                 {' ', "Space", "Spc"},   {'\t', "Tab", "Tab"},    {0x40000039, "CapsLock", "Cap"},
                 {0x40000039, "", "?"}};
    for (const auto& c : cases) {
        EXPECT_EQ(keyLabelText(c.keycode, c.name), c.label) << c.keycode;
    }
}

// From the default grid (Z on cell 0, A on cell 1): the cell and key, whether it is bound, the cell
// that takes cell 0's old key, and what the player is told.
TEST(KeyGrid, BindingAKeyTakesAFreeKeySwapsAUsedOneAndRefusesReservedOnes) {
    const std::string no = ": it cannot play a cell";
    const struct {
        std::uint32_t cell, scancode;
        const char* name;
        bool bound;
        std::uint32_t swapped;
        std::string message;
    } cases[] = {
        {0, 19, "P", true, kNoCell, ""},
        {0, 4, "A", true, 1, ""},
        {0, 41, "Escape", false, kNoCell, "Escape goes back in the menus and pauses a round" + no},
        {0, 44, "Space", false, kNoCell, "Space starts and stops the song" + no},
        {0, 69, "F12", false, kNoCell, "F12 shows and hides the interface" + no},
        {0, 70, "PrintScreen", false, kNoCell, "PrintScreen takes a screenshot" + no},
        {0, 47, "[", false, kNoCell, "[ marks where a practice loop starts" + no},
        {0, 48, "]", false, kNoCell, "] marks where a practice loop ends" + no},
        {0, 0, "", false, kNoCell, "That key cannot play a cell"},
        {24, 19, "P", false, kNoCell, "P cannot play a cell"},
    };
    for (const auto& c : cases) {
        KeyBindings bindings = defaultKeyBindings(), expected = bindings;
        std::string message = "stale";
        EXPECT_EQ(bindKey(bindings, c.cell, c.scancode, c.name, message), c.bound) << c.name;
        EXPECT_EQ(message, c.message);
        if (isCell(c.swapped)) {
            expected.scancodes[c.swapped] = expected.scancodes[c.cell];
        }
        if (c.bound) {
            expected.scancodes[c.cell] = static_cast<std::uint16_t>(c.scancode);
        }
        EXPECT_EQ(bindings.scancodes, expected.scancodes) << c.name;
    }
}
