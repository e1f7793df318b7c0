// The text rendering of MIDI bytes: every token kind and every refusal.
#include "audio/midi/midi_text_converter.hpp"
#include "midi_bytes.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace midibytes;

namespace {

struct Converted {
    bool ok = false;
    Bytes bytes;
    std::string errors;
};

Converted convert(const std::string& text) {
    std::istringstream in(text);
    std::string out;
    MidiTextConverter converter;
    bool ok = false;
    const std::string errors = errorsOf([&] { ok = converter.convert(in, out); });
    return {ok, Bytes(out.begin(), out.end()), errors};
}

} // namespace

TEST(MidiText, EveryTokenKindConverts) {
    const struct {
        const char* input;
        Bytes bytes;
    } cases[] = {
        // Hexadecimal, binary (with an optional comma between nibbles) and character bytes.
        {"4d 5 fF A0", {0x4D, 0x05, 0xFF, 0xA0}},
        {"101 11111111 1,1 10,0 0,1111 1111,0", {5, 0xFF, 0x11, 0x20, 0x0F, 0xF0}},
        {"+a +  +\" +;", {'a', ' ', '"', ';'}},
        // Quoted text keeps its blanks; comments end the line; blank lines and CR LF are nothing.
        {"\"MThd\" 01 \"a b\"02\n; 03\n04 # 05\n06 / 07\n\"open ended",
         {'M', 'T', 'h', 'd', 1, 'a', ' ', 'b', 2, 4, 6, 'o', 'p', 'e', 'n', ' ', 'e', 'n', 'd', 'e', 'd'}},
        {"\t01\r\n\r\n  02  ", {1, 2}},
        // Variable-length quantities.
        {"v0 v127 v128 v16383 v16384 v268435455",
         {0x00, 0x7F, 0x81, 0x00, 0xFF, 0x7F, 0x81, 0x80, 0x00, 0xFF, 0xFF, 0xFF, 0x7F}},
        {"v4294967295", {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
        // Tempos in BPM become microseconds per quarter note; 16 777 215 us is the largest.
        {"t120 t-60 t+90 t.5e3", {0x07, 0xA1, 0x20, 0x0F, 0x42, 0x40, 0x0A, 0x2C, 0x2B, 0x01, 0xD4, 0xC0}},
        {"t3.5762788", {0xFF, 0xFF, 0xFF}},
        // Pitch bends are clamped seven-bit pairs, least significant first.
        {"p0 p1 p-1 p5 p-7 p0.5", {0x00, 0x40, 0x7F, 0x7F, 0x00, 0x00, 0x7F, 0x7F, 0x00, 0x00, 0x7F, 0x5F}},
        // Decimal numbers in every width and order.
        {"'0 '255 '-1 '-128", {0x00, 0xFF, 0xFF, 0x80}},
        {"1'300 2'258 2u'258 u2'258 3'65536 4'-2 4U'1",
         {0x2C, 0x01, 0x02, 0x02, 0x01, 0x02, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFE, 0x01, 0x00,
          0x00, 0x00}},
        {"'1.5 4u'-2.0", {0x3F, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0}},
        {"8'0.25 8u'0.25", {0x3F, 0xD0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xD0, 0x3F}},
        // Far beyond 64 bits the low bytes are still those of the true number (10^20 = 0x56BC75E2D63100000).
        {"4'100000000000000000000", {0x63, 0x10, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const Converted converted = convert(c.input);
        EXPECT_TRUE(converted.ok) << converted.errors;
        EXPECT_EQ(converted.bytes, c.bytes);
    }
}

TEST(MidiText, NumberTokensReportTheirLine) {
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{"v", "vx1"}, "'v' needs to be followed immediately by a decimal digit"},
        {{"v4294967296"}, "'v' number is larger than 4294967295"},
        {{"t", "tx", "t+inf", "t1e999", "t-nan"},
         "'t' needs to be followed immediately by a floating-point number"},
        {{"t0", "t-0.0", "t3", "t1e300"}, "'t' tempo must give 1 to 16777215 microseconds per quarter note"},
        {{"p", "pq", "p+nan", "p-inf"}, "'p' needs to be followed immediately by a floating-point number"},
    };
    for (const auto& [inputs, reason] : cases) {
        for (const char* input : inputs) {
            SCOPED_TRACE(input);
            const Converted c = convert(std::string("; first line\n") + input);
            EXPECT_FALSE(c.ok);
            EXPECT_EQ(c.errors, "Error on line: 2: " + reason + "\n");
            EXPECT_TRUE(c.bytes.empty());
        }
    }
}

// Conversion stops at the bad token; the bytes of the lines and tokens before it are kept.
TEST(MidiText, WordTokensNameTheTokenAndTheReason) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"+ab"}, "character byte word is too long -- specify only one character"},
        {{"g", "-1", "zz"}, "Invalid character in hexadecimal number."},
        {{"102"}, "Invalid character in binary number (character is 2)"},
        {{",01"}, "cannot start binary number with a comma"},
        {{"01,"}, "cannot end binary number with a comma"},
        {{"1,0,1"}, "extra comma in binary number"},
        {{"101010101"}, "too many digits in binary number"},
        {{"11111,1"}, "too many digits to left of comma"},
        {{"1,11111"}, "too many digits to right of comma"},
        {{"''1", "'1'"}, "extra quote in decimal number"},
        {{"'--1"}, "cannot have more than two minus signs in number"},
        {{"'1-", "-'1"}, "minus sign must immediately follow quote mark"},
        {{"5'1", "0'1"}, "cannot have numbers before quote in decimal number"},
        {{"24'1"}, "invalid byte specificaton before quote in decimal number"},
        {{".'1"}, "cannot have decimal marker before quote"},
        {{"'1.2.3"}, "extra period in decimal number"},
        {{"'1u"}, "cannot have endian specified after quote"},
        {{"uU'1"}, "extra \"u\" in decimal number"},
        {{"'", "4'-."}, "there must be a decimal number after the quote"},
        {{"2'1.5"}, "floating-point numbers can be only 4 or 8 bytes"},
        {{"8'1"}, "only floating-point numbers can use 8 bytes"},
        {{"3'-1"}, "negative decimal numbers cannot be stored in 3 bytes"},
        {{"'256", "'99999999999999999999999"}, "Decimal number out of range from 0 to 255"},
        {{"'-129"}, "Decimal number out of range from -128 to 127"},
        {{"4'1e5"}, "Invalid character in decimal number (character number 3)"},
        {{"x'1"}, "Invalid character in decimal number (character number 0)"},
    };
    for (const auto& [tokens, reason] : cases) {
        for (const char* token : tokens) {
            SCOPED_TRACE(token);
            const Converted c = convert(std::string("01 02\n00 ") + token + " 01\n05");
            EXPECT_FALSE(c.ok);
            EXPECT_EQ(c.errors, std::string("Error on line 2 at token: ") + token + "\n" + reason + "\n");
            EXPECT_EQ(c.bytes, (Bytes{1, 2, 0}));
        }
    }
}
