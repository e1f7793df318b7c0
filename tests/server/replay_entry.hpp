#pragma once
// A score entry as the game uploads it with its round's replay.
#include "replay/replay_file.hpp"
#include "replay/replay_upload.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace servertest {

// The bytes of `replay`'s file.
inline std::string fileBytes(const Replay& replay) {
    std::string bytes, error;
    EXPECT_TRUE(encodeReplay(replay, bytes, error)) << error;
    return bytes;
}

// `player`'s entry with `replay`'s result, and the replay packed as the game sends it.
inline nlohmann::json entryOf(const std::string& player, const Replay& replay) {
    std::string text, error;
    EXPECT_TRUE(packReplay(fileBytes(replay), text, error)) << error;
    const ReplayResult& r = replay.result;
    return {{"player", player},
            {"score", r.score},
            {"highestLayer", std::to_string(r.highestLayer) + "/" + std::to_string(r.totalLayers)},
            {"highestCombo", r.highestCombo},
            {"replay", text}};
}

} // namespace servertest
