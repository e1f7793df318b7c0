#include "audio/midi/midi_text_converter.hpp"

#include "base/log.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Appends the low `count` bytes of `value`, most significant first unless `lsbFirst`.
void putBytes(std::string& out, uint64_t value, int count, bool lsbFirst) {
    for (int i = 0; i < count; ++i) {
        const int shift = lsbFirst ? 8 * i : 8 * (count - 1 - i);
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

// ---- Number tokens: v, t, p ----

void putVariableLength(std::string& out, uint64_t value) {
    uint8_t groups[10];
    int count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 0) {
        --count;
        out.push_back(static_cast<char>(count > 0 ? (groups[count] | 0x80) : groups[count]));
    }
}

bool convertVariableLength(const std::string& token, int line, std::string& out) {
    if (token.size() < 2 || !isDigit(token[1])) {
        logError(stderr, "Error on line: %d: 'v' needs to be followed immediately by a decimal digit", line);
        return false;
    }
    uint64_t value = 0;
    for (size_t i = 1; i < token.size() && isDigit(token[i]); ++i) {
        value = value * 10 + static_cast<uint64_t>(token[i] - '0');
        if (value > 0xFFFFFFFFu) {
            logError(stderr, "Error on line: %d: 'v' number is larger than 4294967295", line);
            return false;
        }
    }
    putVariableLength(out, value);
    return true;
}

// The number after the 't' or 'p' of `token`; false unless it starts like a number and is finite.
bool tokenNumber(const std::string& token, double& number) {
    if (token.size() < 2) {
        return false;
    }
    const char c = token[1];
    if (!isDigit(c) && c != '.' && c != '-' && c != '+') {
        return false;
    }
    number = std::strtod(token.c_str() + 1, nullptr);
    return std::isfinite(number);
}

bool convertTempo(const std::string& token, int line, std::string& out) {
    double bpm = 0.0;
    if (!tokenNumber(token, bpm)) {
        logError(stderr, "Error on line: %d: 't' needs to be followed immediately by a floating-point number",
                 line);
        return false;
    }
    // Three bytes hold 1..16777215 microseconds per quarter note; a BPM of 0 has no tempo at all.
    const double microseconds = bpm == 0.0 ? HUGE_VAL : std::round(60000000.0 / std::fabs(bpm));
    if (!(microseconds >= 1.0 && microseconds <= 16777215.0)) {
        logError(stderr, "Error on line: %d: 't' tempo must give 1 to 16777215 microseconds per quarter note",
                 line);
        return false;
    }
    putBytes(out, static_cast<uint64_t>(microseconds), 3, false);
    return true;
}

bool convertPitchBend(const std::string& token, int line, std::string& out) {
    double number = 0.0;
    if (!tokenNumber(token, number)) {
        logError(stderr, "Error on line: %d: 'p' needs to be followed immediately by a floating-point number",
                 line);
        return false;
    }
    number = std::min(1.0, std::max(-1.0, number));
    const int value = static_cast<int>(std::round((number + 1.0) * 8191.5));
    out.push_back(static_cast<char>(value & 0x7F));
    out.push_back(static_cast<char>((value >> 7) & 0x7F));
    return true;
}

// ---- Word tokens: decimal, binary, hexadecimal ----
// Each answers an empty string on success, else the reason.

std::string convertDecimal(const std::string& word, std::string& out) {
    const size_t quote = word.find('\'');
    if (quote == std::string::npos) {
        return "there must be a quote to signify a decimal number";
    }
    int byteCount = 0;
    bool lsbFirst = false;
    for (size_t i = 0; i < quote; ++i) {
        const char c = word[i];
        if (c == 'u' || c == 'U') {
            if (lsbFirst) {
                return "extra \"u\" in decimal number";
            }
            lsbFirst = true;
        } else if (c == '1' || c == '2' || c == '3' || c == '4' || c == '8') {
            if (byteCount != 0) {
                return std::string("invalid byte specificaton before quote in ") + "decimal number";
            }
            byteCount = c - '0';
        } else if (isDigit(c)) {
            return "cannot have numbers before quote in decimal number";
        } else if (c == '.') {
            return "cannot have decimal marker before quote";
        } else if (c == '-') {
            return "minus sign must immediately follow quote mark";
        } else {
            return "Invalid character in decimal number (character number " + std::to_string(i) + ")";
        }
    }

    bool negative = false;
    bool floating = false;
    int digits = 0;
    for (size_t i = quote + 1; i < word.size(); ++i) {
        const char c = word[i];
        if (c == '\'') {
            return "extra quote in decimal number";
        } else if (c == '-') {
            if (negative) {
                return "cannot have more than two minus signs in number";
            }
            if (i != quote + 1) {
                return "minus sign must immediately follow quote mark";
            }
            negative = true;
        } else if (c == '.') {
            if (floating) {
                return "extra period in decimal number";
            }
            floating = true;
        } else if (isDigit(c)) {
            ++digits;
        } else if (c == 'u' || c == 'U') {
            return "cannot have endian specified after quote";
        } else {
            return "Invalid character in decimal number (character number " + std::to_string(i) + ")";
        }
    }
    if (digits == 0) {
        return "there must be a decimal number after the quote";
    }

    const char* text = word.c_str() + quote + 1;
    if (floating) {
        if (byteCount == 0 || byteCount == 4) {
            const float value = std::strtof(text, nullptr);
            uint32_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            putBytes(out, bits, 4, lsbFirst);
        } else if (byteCount == 8) {
            const double value = std::strtod(text, nullptr);
            uint64_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            putBytes(out, bits, 8, lsbFirst);
        } else {
            return "floating-point numbers can be only 4 or 8 bytes";
        }
        return {};
    }

    // Integers: the magnitude modulo 2^64 gives the right low bytes however long the number is;
    // `huge` remembers that it went past what any range check allows.
    uint64_t magnitude = 0;
    bool huge = false;
    for (const char* p = negative ? text + 1 : text; *p; ++p) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
        huge = huge || magnitude > 0xFFFFFFFFu;
    }
    const uint64_t value = negative ? (~magnitude + 1) : magnitude;
    switch (byteCount) {
    case 0:
        if (negative) {
            if (huge || magnitude > 128) {
                return "Decimal number out of range from -128 to 127";
            }
        } else if (huge || magnitude > 255) {
            return "Decimal number out of range from 0 to 255";
        }
        putBytes(out, value, 1, lsbFirst);
        return {};
    case 1:
    case 2:
    case 4:
        putBytes(out, value, byteCount, lsbFirst);
        return {};
    case 3:
        if (negative) {
            return "negative decimal numbers cannot be stored in 3 bytes";
        }
        putBytes(out, value, 3, lsbFirst);
        return {};
    case 8:
        return "only floating-point numbers can use 8 bytes";
    default:
        return "invalid byte count specification for decimal number";
    }
}

std::string convertBinary(const std::string& word, std::string& out) {
    if (word.front() == ',') {
        return "cannot start binary number with a comma";
    }
    if (word.back() == ',') {
        return "cannot end binary number with a comma";
    }
    size_t comma = std::string::npos;
    for (size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if (c == ',') {
            if (comma != std::string::npos) {
                return "extra comma in binary number";
            }
            comma = i;
        } else if (c != '0' && c != '1') {
            return std::string("Invalid character in binary number (character is ") + c + ")";
        }
    }
    auto bits = [&](size_t from, size_t to) {
        unsigned value = 0;
        for (size_t i = from; i < to; ++i) {
            value = (value << 1) | static_cast<unsigned>(word[i] - '0');
        }
        return value;
    };
    unsigned value = 0;
    if (comma == std::string::npos) {
        if (word.size() > 8) {
            return "too many digits in binary number";
        }
        value = bits(0, word.size());
    } else {
        if (comma > 4) {
            return "too many digits to left of comma";
        }
        if (word.size() - comma - 1 > 4) {
            return "too many digits to right of comma";
        }
        value = (bits(0, comma) << 4) | bits(comma + 1, word.size());
    }
    out.push_back(static_cast<char>(value));
    return {};
}

std::string convertHex(const std::string& word, std::string& out) {
    unsigned value = 0;
    for (char c : word) {
        unsigned digit = 0;
        if (isDigit(c)) {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return "Invalid character in hexadecimal number.";
        }
        value = value * 16 + digit;
        if (value > 0xFF) {
            return "Size of hexadecimal number is too large.  Max is ff.";
        }
    }
    out.push_back(static_cast<char>(value));
    return {};
}

bool convertWord(const std::string& word, int line, std::string& out) {
    std::string reason;
    if (word[0] == '+') {
        if (word.size() > 2) {
            reason = "character byte word is too long -- specify only one character";
        } else {
            out.push_back(word.size() == 2 ? word[1] : ' ');
        }
    } else if (word.find('\'') != std::string::npos) {
        reason = convertDecimal(word, out);
    } else if (word.find(',') != std::string::npos || word.size() >= 3) {
        reason = convertBinary(word, out);
    } else {
        reason = convertHex(word, out);
    }
    if (reason.empty()) {
        return true;
    }
    logError(stderr, "Error on line %d at token: %s", line, word.c_str());
    logError(stderr, "%s", reason.c_str());
    return false;
}

// ---- Lines ----

bool convertLine(const std::string& text, int line, std::string& out) {
    size_t i = 0;
    while (i < text.size()) {
        if (isBlank(text[i])) {
            ++i;
            continue;
        }
        const char first = text[i];
        if (first == ';' || first == '#' || first == '/') {
            return true;
        }
        if (first == '"') {
            // Quoted text may hold blanks; an unclosed quote runs to the end of the line.
            const size_t close = text.find('"', i + 1);
            const size_t end = close == std::string::npos ? text.size() : close;
            out.append(text, i + 1, end - i - 1);
            i = close == std::string::npos ? text.size() : close + 1;
            continue;
        }
        size_t end = i;
        while (end < text.size() && !isBlank(text[end])) {
            ++end;
        }
        const std::string token = text.substr(i, end - i);
        i = end;
        bool ok = true;
        if (first == 'v') {
            ok = convertVariableLength(token, line, out);
        } else if (first == 't') {
            ok = convertTempo(token, line, out);
        } else if (first == 'p') {
            ok = convertPitchBend(token, line, out);
        } else {
            ok = convertWord(token, line, out);
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

} // namespace

bool MidiTextConverter::convert(std::istream& input, std::string& output) {
    line = 0;
    std::string text;
    while (std::getline(input, text)) {
        ++line;
        if (!convertLine(text, line, output)) {
            return false;
        }
    }
    return true;
}
