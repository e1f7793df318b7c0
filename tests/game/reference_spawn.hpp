#pragma once
// The spawn step the plain way (every note, every circle, every tick): what spawnTick must match.
#include "audio/audio_system.hpp"
#include "game/game_state.hpp"
#include "render/render_system.hpp"

void referenceSpawnTick(GameState& game, std::int32_t width, std::int32_t height, const AudioSystem& audio);
