// What the rest of the game asks of a stem's audio whichever way it was loaded (decoded whole or
// streamed), and the level start's first-sound notice.
#include "audio/audio_system.hpp"
#include "base/log.hpp"

#include <SDL3/SDL.h>

std::uint64_t stemFrames(const LoadedStem& stem) {
    return stem.source ? stem.source->frameCount() : stem.stream ? stem.stream->frameCount() : 0;
}

double stemLength(const LoadedStem& stem) {
    return stem.source ? stem.source->getLength() : stem.stream ? stem.stream->getLength() : 0.0;
}

bool stemHasAudio(const LoadedStem& stem) { return stem.source || stem.stream; }

void expectLevelStart(AudioSystem& audio, const std::string& name, std::uint64_t requestNs) {
    audio.startingLevel = name;
    audio.startRequestNs = requestNs;
}

bool noticeLevelStart(AudioSystem& audio) {
    if (audio.startingLevel.empty() || !audio.engine || !audio.playing) {
        return false;
    }
    const std::uint64_t first = audio.engine->firstSoundNs(audio.voiceGroup);
    if (first == 0) {
        return false;
    }
    const std::uint64_t ms = first > audio.startRequestNs ? (first - audio.startRequestNs) / 1000000 : 0;
    logMessage("Level started: %s, first sound after %d ms", audio.startingLevel.c_str(),
               static_cast<int>(ms));
    audio.startingLevel.clear();
    return true;
}
