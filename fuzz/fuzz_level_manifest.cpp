// Feeds arbitrary text to the level manifest parser and checks what the loader relies on in
// whatever it accepts: entries with a file, in start order, and a usable tempo. Nothing is decoded.
#include "level/level_manifest.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The parser explains every refusal on stderr; keep the fuzzer's own output readable.
    if (!std::getenv("VIBRELLE_FUZZ_VERBOSE")) {
        std::cerr.setstate(std::ios::badbit);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    LevelDefinition level;
    const bool ok = parseLevelManifestText(text, "levels/fuzz/level.json", level);
    if (ok != !level.stems.empty()) {
        __builtin_trap();
    }
    if (!ok) {
        return 0;
    }
    // The loader joins every path to the manifest's folder and scales the charts by the tempo.
    if (!std::isfinite(level.bpm) || level.bpm <= 0.0f) {
        __builtin_trap();
    }
    for (std::size_t i = 0; i < level.stems.size(); ++i) {
        const Stem& stem = level.stems[i];
        if (stem.file.empty() || (i > 0 && level.stems[i - 1].startOrder > stem.startOrder)) {
            __builtin_trap();
        }
    }
    return 0;
}
