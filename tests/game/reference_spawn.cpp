#include "reference_spawn.hpp"

#include "game/circles.hpp"

#include <cmath>

void referenceSpawnTick(GameState &game, const RenderState &render, const AudioSystem &audio) {
    game.pendingNotes.clear();
    if (!audio.playing) {
        return;
    }
    for (const LoadedStem &stem : audio.stems) {
        if (!stem.active || !stem.chart.loaded || stem.index < 0 || stem.index > 7) {
            continue;
        }
        for (const MidiNoteEvent &note : stem.chart.notes) {
            if (!note.isNoteOn || note.velocity == 0) {
                continue;
            }
            const double length = stem.chart.audioLength;
            double ahead;
            double due;
            if (audio.looping && length > 0.0) {
                const double position = std::fmod(game.songTime, length);
                ahead = note.time - position;
                if (ahead < -0.001) {
                    ahead += length;
                }
                due = game.songTime + ahead;
            } else {
                due = note.time;
                ahead = due - game.songTime;
            }
            if (!(ahead >= -0.001 && ahead <= 1.0)) {
                continue;
            }
            bool duplicate = false;
            for (const Circle &circle : game.circles) {
                if (circle.active && circle.stemIndex == stem.index && circle.note == note.note &&
                    std::fabs(circle.time - due) < 0.01) {
                    duplicate = true;
                    break;
                }
            }
            if (!duplicate) {
                spawnCircle(game, note, stem.index, render.width, render.height, due);
            }
        }
    }
}
