#include "base/utf8.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>

std::size_t utf8SequenceAt(std::string_view text, std::size_t at, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
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
        return 0; // a continuation byte, or 0xF8..0xFF
    }
    if (length > text.size() - at) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past the last code point are all refused.
    const bool wellFormed =
        codePoint >= minimum && codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
    return wellFormed ? length : 0;
}

bool isValidUtf8(std::string_view text) {
    char32_t codePoint = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceAt(text, at, codePoint);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

std::string withEachBadByteReplaced(std::string_view text) {
    std::string valid;
    char32_t codePoint = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceAt(text, at, codePoint);
        if (length == 0) {
            valid += "\xEF\xBF\xBD"; // U+FFFD for a byte that starts no character
            ++at;
        } else {
            valid.append(text, at, length);
            at += length;
        }
    }
    return valid;
}

std::string withUtf8Replacements(const std::string& text) {
    const std::string quoted =
        nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return nlohmann::json::parse(quoted).get<std::string>();
}

std::string cutToCharacters(std::string_view text, std::size_t maxBytes) {
    char32_t codePoint = 0;
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t length = std::max<std::size_t>(utf8SequenceAt(text, end, codePoint), 1);
        if (end + length > maxBytes) {
            break;
        }
        end += length;
    }
    return std::string(text.substr(0, end));
}
