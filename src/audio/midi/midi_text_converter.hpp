#pragma once
// Turns a text rendering of MIDI bytes into the bytes themselves. The MIDI file reader uses it for
// every stream that does not begin with the letter 'M'.
//
// The text is read line by line; tokens are separated by blanks, tabs and line ends. By the first
// character of a token:
//   ; # /        comment to the end of the line
//   +c           the character's code ('+' alone is a blank)
//   "text"       the characters between the quotes
//   v123         a MIDI variable-length quantity
//   t120         a tempo in BPM as 3 bytes of microseconds per quarter note
//   p0.5         a pitch-bend value -1..1 as two 7-bit bytes, least significant first
//   [4][u]'123   a decimal number ("'" marks it; prefix: byte count 1,2,3,4,8 and u = LSB first)
//   0101,1100    a binary byte (any word with a comma or of 3 or more characters)
//   7f           a hexadecimal byte (words of 1 or 2 characters)
#include <iosfwd>
#include <string>

struct MidiTextConverter {
    int line = 0; // number of the line last converted (from 1); the failing line after a failure

    // Appends the converted bytes of `input` to `output`. Stops at the first line with a bad token,
    // writes the reason to standard error and returns false; the bytes converted before the bad
    // token stay in `output`. Memory use is bounded by the size of the input.
    bool convert(std::istream &input, std::string &output);
};
