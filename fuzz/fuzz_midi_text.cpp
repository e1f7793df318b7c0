// Feeds arbitrary text to the MIDI text converter.
#include "audio/midi/midi_text_converter.hpp"

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::getenv("VIBRELLE_FUZZ_VERBOSE")) {
        std::cerr.setstate(std::ios::badbit);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::string out;
    MidiTextConverter converter;
    converter.convert(in, out);
    // No token makes more than twice its own length in bytes ("8'.1" gives 8), so the output
    // stays bounded by the input.
    if (out.size() > 2 * size) {
        __builtin_trap();
    }
    return 0;
}
