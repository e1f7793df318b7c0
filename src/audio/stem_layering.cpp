#include "audio/stem_layering.hpp"

#include "base/log.hpp"

#include <sstream>

void fadeInStem(AudioSystem& audio, int index, float seconds) {
    if (index < 0 || index >= static_cast<int>(audio.stems.size())) {
        return;
    }
    LoadedStem& stem = audio.stems[static_cast<size_t>(index)];
    if (stem.active) {
        return;
    }
    stem.fadeDuration = seconds;
    stem.active = true;
    stem.fading = true;
    stem.fadeProgress = 0.0f;
    stem.volume = 0.0f;
    // Default stream formatting on purpose: a 1.0 s fade reads "over 1s".
    std::ostringstream line;
    line << "Fading in stem: " << stem.name << " over " << seconds << "s";
    logMessage("%s", line.str().c_str());
}

void deactivateStem(AudioSystem& audio, int index) {
    if (index < 0 || index >= static_cast<int>(audio.stems.size())) {
        return;
    }
    LoadedStem& stem = audio.stems[static_cast<size_t>(index)];
    stem.volume = 0.0f;
    stem.active = false;
    stem.fading = false;
    stem.fadeProgress = 0.0f;
    if (stem.voice != 0 && audio.engine && audio.engine->isValidVoiceHandle(stem.voice)) {
        audio.engine->setVolume(stem.voice, 0.0f);
    }
    logMessage("Deactivated stem: %s", stem.name.c_str());
}

void activateFirstStem(AudioSystem& audio) {
    if (audio.stems.empty()) {
        return;
    }
    fadeInStem(audio, 0, 1.0f);
    logMessage("Activated first stem");
}
