#include "level/round_setup.hpp"

#include <algorithm>

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
        const double length = stem.source ? stem.source->getLength() : stem.chart.audioLength;
        setup.loopLength = std::max(setup.loopLength, std::max(length, stem.chart.audioLength));
        setup.stems.push_back(std::move(round));
    }
    return setup;
}
