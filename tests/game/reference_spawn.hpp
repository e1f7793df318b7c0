#pragma once
// The spawn step written the plain way: every note of every charted active stem on every tick,
// each candidate compared with every live circle. The fast spawnTick must spawn exactly what this
// does; the property test and the tick benchmark both use it.
#include "audio/audio_system.hpp"
#include "game/game_state.hpp"
#include "render/render_system.hpp"

void referenceSpawnTick(GameState& game, const RenderState& render, const AudioSystem& audio);
