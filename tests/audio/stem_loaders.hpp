#pragma once
// One stem at a time, as the tests load them: the level loader decodes all of a level's stems at
// once (decodeStemFiles) and adds them (addDecodedStem); this does both for a single file.
#include "audio/audio_system.hpp"

#include <string>

// Loads and decodes the audio file at path (backslashes become '/', double quotes are dropped)
// and appends it as a new inactive stem at layer volume 1. Returns false, with the reason on
// stderr, when the file is missing, too large, empty or not decodable, or when its audio would take
// the stems over audio.limits.maxLevelBytes; nothing is added then. Main thread.
inline bool loadStem(AudioSystem& audio, const std::string& path) {
    std::vector<DecodedStem> decoded = decodeStemFiles(audio, {path}, 1);
    return addDecodedStem(audio, decoded[0]);
}
