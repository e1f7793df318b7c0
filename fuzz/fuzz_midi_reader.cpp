// Feeds arbitrary bytes to the MIDI file reader (binary files and, for data not starting with
// 'M', the text form) and runs the chart loader's sequence on whatever it accepts.
#include "audio/midi/midi_file.hpp"

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader explains every refusal on stderr; keep the fuzzer's own output readable.
    if (!std::getenv("VIBRELLE_FUZZ_VERBOSE")) {
        std::cerr.setstate(std::ios::badbit);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    MidiFile midi;
    if (!midi.read(in)) {
        return 0;
    }
    midi.doTimeAnalysis();
    midi.linkNotePairs();
    midi.joinTracks();
    if (midi.getTrackCount() != 1) {
        __builtin_trap();
    }
    // The accessors the chart uses, on every event; times must never run backwards.
    double last = 0.0;
    int sum = 0;
    for (int i = 0; i < midi.getEventCount(0); ++i) {
        const SmfEvent& e = midi.getEvent(0, i);
        if (e.seconds < last) {
            __builtin_trap();
        }
        last = e.seconds;
        sum += eventChannel(e) + controllerNumber(e) + controllerValue(e) + keyNumber(e) + velocity(e);
        sum += isNoteOn(e) + isNoteOff(e) + isController(e) + isTempo(e);
        if (isTempo(e) && tempoBpm(e) == 0.0) {
            __builtin_trap();
        }
        if (durationSeconds(e) < 0.0) {
            __builtin_trap();
        }
    }
    return sum == 42 ? 0 : 0;
}
