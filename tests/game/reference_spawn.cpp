#include "reference_spawn.hpp"

#include "game/circles.hpp"

#include <algorithm>
#include <cmath>

void referenceSpawnTick(GameState& game, std::int32_t width, std::int32_t height, const AudioSystem& audio) {
    game.pendingNotes.clear();
    for (const LoadedStem& stem : audio.stems) {
        if (!audio.playing || !stem.active || !stem.chart.loaded || stem.index < 0 || stem.index > 7) {
            continue;
        }
        const double length = stem.chart.audioLength;
        const bool wraps = audio.looping && length > 0.0;
        for (const MidiNoteEvent& note : stem.chart.notes) {
            if (!note.isNoteOn || note.velocity == 0) {
                continue;
            }
            // Seconds until the note sounds: in a loop, its next pass counting from 1 ms ago.
            double ahead = note.time - (wraps ? std::fmod(game.songTime, length) : game.songTime);
            if (wraps && ahead < -0.001) {
                ahead += length;
            }
            const double due = wraps ? game.songTime + ahead : note.time;
            const bool duplicate =
                std::any_of(game.circles.begin(), game.circles.end(), [&](const Circle& c) {
                    return c.active && c.stemIndex == stem.index && c.note == note.note &&
                           std::fabs(c.time - due) < 0.01;
                });
            if (ahead >= -0.001 && ahead <= 1.0 && !duplicate) {
                spawnCircle(game, note, stem.index, width, height, due);
            }
        }
    }
}
