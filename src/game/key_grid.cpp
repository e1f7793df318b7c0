#include "game/key_grid.hpp"

#include "base/utf8.hpp"

#include <algorithm>
#include <set>

const char kUsGridCharacters[kGridCells + 1] = "zaqxswcdevfrbgtnhymju,ki";

std::uint32_t cellForNote(std::int32_t note, std::int32_t velocity) {
    std::int32_t lane = 0;
    if (note >= 0 && note < kKeyLaneCount * kKeysPerLane) {
        lane = note / kKeysPerLane;
    } else {
        // Key numbers outside 0..127 only come from hand-made charts; keep the lane index
        // non-negative for negative numbers too.
        lane = ((note % kKeyLaneCount) + kKeyLaneCount) % kKeyLaneCount;
    }
    const std::int32_t row = velocity < kLowRowBelow ? 0 : (velocity <= kMiddleRowThrough ? 1 : 2);
    return cellOf(lane, row);
}

std::array<std::string, kGridCells> usCellLabels() {
    std::array<std::string, kGridCells> labels;
    for (std::size_t cell = 0; cell < labels.size(); ++cell) {
        const char c = kUsGridCharacters[cell];
        labels[cell] = std::string(1, c == ',' ? c : static_cast<char>(c - 'a' + 'A'));
    }
    return labels;
}

std::uint32_t cellForUsKeycode(std::uint32_t keycode) {
    for (std::int32_t cell = 0; cell < kGridCells; ++cell) {
        if (keycode == static_cast<unsigned char>(kUsGridCharacters[cell])) {
            return static_cast<std::uint32_t>(cell);
        }
    }
    return kNoCell;
}

// SDL scancode numbers (USB HID usages, which SDL keeps): the letters run from 4 (A) to 29 (Z).
namespace {
constexpr std::uint16_t kScancodeA = 4;
constexpr std::uint16_t kScancodeComma = 54;
constexpr std::uint16_t kScancodeEscape = 41;
constexpr std::uint16_t kScancodeSpace = 44;
constexpr std::uint16_t kScancodeF12 = 69;
constexpr std::uint16_t kScancodePrintScreen = 70;
constexpr std::uint16_t kScancodeLeftBracket = 47;
constexpr std::uint16_t kScancodeRightBracket = 48;
constexpr std::int64_t kFirstKeyScancode = 4;
constexpr std::int64_t kLastScancode = 511;
} // namespace

KeyBindings defaultKeyBindings() {
    KeyBindings bindings;
    for (std::int32_t cell = 0; cell < kGridCells; ++cell) {
        const char c = kUsGridCharacters[cell];
        bindings.scancodes[static_cast<std::size_t>(cell)] =
            c == ',' ? kScancodeComma : static_cast<std::uint16_t>(kScancodeA + (c - 'a'));
    }
    return bindings;
}

std::uint32_t cellForScancode(const KeyBindings& bindings, std::uint32_t scancode) {
    const auto found = std::find(bindings.scancodes.begin(), bindings.scancodes.end(), scancode);
    return found == bindings.scancodes.end() ? kNoCell
                                             : static_cast<std::uint32_t>(found - bindings.scancodes.begin());
}

namespace {

// What a reserved key does instead of playing a cell; null for every other key.
const char* reservedKeyUse(std::uint32_t scancode) {
    switch (scancode) {
    case kScancodeEscape:
        return "goes back in the menus and pauses a round";
    case kScancodeSpace:
        return "starts and stops the song";
    case kScancodeF12:
        return "shows and hides the interface";
    case kScancodePrintScreen:
        return "takes a screenshot";
    case kScancodeLeftBracket:
        return "marks where a practice loop starts";
    case kScancodeRightBracket:
        return "marks where a practice loop ends";
    default:
        return nullptr;
    }
}

} // namespace

bool isReservedScancode(std::uint32_t scancode) { return reservedKeyUse(scancode) != nullptr; }

bool bindKey(KeyBindings& bindings, std::uint32_t cell, std::uint32_t scancode, const std::string& keyName,
             std::string& message) {
    message.clear();
    if (!isCell(cell) || scancode < kFirstKeyScancode || scancode > kLastScancode) {
        message = (keyName.empty() ? std::string("That key") : keyName) + " cannot play a cell";
        return false;
    }
    if (const char* use = reservedKeyUse(scancode)) {
        message = keyName + " " + use + ": it cannot play a cell";
        return false;
    }
    const std::uint32_t holder = cellForScancode(bindings, scancode);
    if (isCell(holder)) {
        bindings.scancodes[holder] = bindings.scancodes[cell];
    }
    bindings.scancodes[cell] = static_cast<std::uint16_t>(scancode);
    return true;
}

bool keyBindingsFrom(const std::vector<std::int64_t>& stored, KeyBindings& bindings, std::string& message) {
    bindings = defaultKeyBindings();
    if (stored.size() != static_cast<std::size_t>(kGridCells)) {
        message = "Key bindings need " + std::to_string(kGridCells) + " keys, found " +
                  std::to_string(stored.size()) + ": using the default grid";
        return false;
    }
    std::set<std::int64_t> seen;
    for (const std::int64_t scancode : stored) {
        if (scancode < kFirstKeyScancode || scancode > kLastScancode ||
            isReservedScancode(static_cast<std::uint32_t>(scancode)) || !seen.insert(scancode).second) {
            message = "Key binding " + std::to_string(scancode) +
                      " is not a free key or is used twice: using the default grid";
            return false;
        }
    }
    for (std::size_t cell = 0; cell < stored.size(); ++cell) {
        bindings.scancodes[cell] = static_cast<std::uint16_t>(stored[cell]);
    }
    return true;
}

namespace {

// The capital of a small letter of Latin-1, Latin Extended-A, Greek or Cyrillic; others as they are.
char32_t upperCase(char32_t c) {
    if ((c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
        (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F)) {
        return c - 32;
    }
    if (c >= 0x450 && c <= 0x45F) {
        return c - 80;
    }
    if (c == 0xFF) {
        return 0x178;
    }
    // Latin Extended-A pairs capitals and smalls: even then odd, but odd then even from U+0139 to
    // U+0148 and from U+0179 to U+017E.
    const bool oddCapital = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c >= 0x100 && c <= 0x17F && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F &&
        (c % 2 == 0) == oddCapital) {
        return c - 1;
    }
    return c;
}

std::string utf8Of(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

bool printable(std::uint32_t keycode) {
    return keycode > 0x20 && keycode != 0x7F && !(keycode >= 0x80 && keycode < 0xA0) && keycode < 0x110000 &&
           !(keycode >= 0xD800 && keycode < 0xE000);
}

} // namespace

std::string keyLabelText(std::uint32_t keycode, const std::string& keyName) {
    if (printable(keycode)) {
        return utf8Of(upperCase(static_cast<char32_t>(keycode)));
    }
    if (keycode == 0x20) {
        return "Spc";
    }
    if (keyName.empty()) {
        return "?";
    }
    // Three characters of the name, not three bytes.
    std::string cut;
    std::size_t at = 0;
    for (int n = 0; n < 3 && at < keyName.size(); ++n) {
        char32_t c = 0;
        const std::size_t length = utf8SequenceAt(keyName, at, c);
        if (length == 0) {
            break;
        }
        cut += keyName.substr(at, length);
        at += length;
    }
    return cut.empty() ? "?" : cut;
}
