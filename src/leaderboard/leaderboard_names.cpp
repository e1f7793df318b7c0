#include "leaderboard/leaderboard_names.hpp"

#include <utf8proc.h>

#include <cstdlib>

namespace {

// The code point of the UTF-8 sequence at `text[at]`, and its length in `length`; false when the
// bytes there are not a well-formed sequence.
bool decodeSequence(std::string_view text, std::size_t at, char32_t& codePoint, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        length = 1;
        return true;
    }
    if ((lead & 0xE0) == 0xC0) {
        codePoint = lead & 0x1F;
        length = 2;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        codePoint = lead & 0x0F;
        length = 3;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        codePoint = lead & 0x07;
        length = 4;
        minimum = 0x10000;
    } else {
        return false; // a continuation byte, or 0xF8..0xFF
    }
    if (length > text.size() - at) {
        return false;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return false;
        }
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past the last code point are all refused.
    return codePoint >= minimum && codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

} // namespace

bool isValidUtf8(std::string_view text) {
    char32_t codePoint = 0;
    std::size_t length = 0;
    for (std::size_t at = 0; at < text.size(); at += length) {
        if (!decodeSequence(text, at, codePoint, length)) {
            return false;
        }
    }
    return true;
}

bool checkLeaderboardName(std::string_view name, std::string& reason) {
    reason.clear();
    if (name.empty()) {
        reason = "is empty";
        return false;
    }
    if (name.size() > kMaxLeaderboardNameBytes) {
        reason = "is longer than " + std::to_string(kMaxLeaderboardNameBytes) + " bytes";
        return false;
    }
    char32_t codePoint = 0;
    std::size_t length = 0;
    for (std::size_t at = 0; at < name.size(); at += length) {
        if (!decodeSequence(name, at, codePoint, length)) {
            reason = "is not valid UTF-8";
            return false;
        }
        if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F)) {
            reason = "contains a control character";
            return false;
        }
    }
    return true;
}

bool checkPlayerName(std::string_view name, std::string& reason) {
    if (!checkLeaderboardName(name, reason)) {
        return false;
    }
    char32_t codePoint = 0;
    std::size_t length = 0;
    for (std::size_t at = 0; at < name.size(); at += length) {
        decodeSequence(name, at, codePoint, length); // well-formed: checked above
        const utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(codePoint));
        if (category == UTF8PROC_CATEGORY_CF) {
            reason = "contains a format character";
            return false;
        }
        if (category == UTF8PROC_CATEGORY_CN) {
            reason = "contains an unassigned code point";
            return false;
        }
    }
    return true;
}

std::string foldPlayerName(std::string_view name) {
    std::string reason;
    if (!checkPlayerName(name, reason)) {
        return std::string(name);
    }
    utf8proc_uint8_t* folded = nullptr;
    const utf8proc_ssize_t length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(name.data()), static_cast<utf8proc_ssize_t>(name.size()),
        &folded, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD));
    if (length < 0 || folded == nullptr) {
        std::free(folded);
        return std::string(name); // out of memory: compare as written
    }
    std::string result(reinterpret_cast<const char*>(folded), static_cast<std::size_t>(length));
    std::free(folded);
    return result;
}
