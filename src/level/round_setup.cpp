#include "level/round_setup.hpp"

#include <algorithm>

double levelLoopLength(const AudioSystem& audio) {
    double loop = 0.0;
    for (const LoadedStem& stem : audio.stems) {
        const double length = stemHasAudio(stem) ? stemLength(stem) : stem.chart.audioLength;
        loop = std::max(loop, std::max(length, stem.chart.audioLength));
    }
    return loop;
}

RoundSetup roundSetupOf(const AudioSystem& audio, std::int32_t width, std::int32_t height) {
    RoundSetup setup;
    setup.looping = audio.looping;
    setup.width = width;
    setup.height = height;
    for (const LoadedStem& stem : audio.stems) {
        RoundStem round;
        round.name = stem.name;
        if (stem.chart.loaded) {
            round.notes = stem.chart.notes;
        }
        setup.stems.push_back(std::move(round));
    }
    setup.loopLength = levelLoopLength(audio);
    return setup;
}
