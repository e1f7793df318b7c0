// The level content tools simulate play with their own copy of the rules (they run without the
// game): the numbers in tools/content/simulate.py must be the ones in game/game_rules.hpp, or the
// content checks pass charts that the game judges differently.
#include "game/game_rules.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

TEST(RulesTable, TheContentSimulatorUsesTheGamesNumbers) {
    std::ifstream file(VIBRELLE_ASSETS "/../tools/content/simulate.py");
    ASSERT_TRUE(file) << "tools/content/simulate.py";
    // Module-level assignments "NAME = number", maybe followed by a comment.
    std::map<std::string, double> script;
    for (std::string line; std::getline(file, line);) {
        const std::size_t equals = line.find(" = ");
        if (equals == std::string::npos || equals == 0 ||
            line.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_") != equals) {
            continue;
        }
        const char* number = line.c_str() + equals + 3;
        char* end = nullptr;
        const double value = std::strtod(number, &end);
        while (*end == ' ') {
            ++end;
        }
        if (end != number && (*end == '\0' || *end == '#')) {
            script[line.substr(0, equals)] = value;
        }
    }
    const std::pair<const char*, double> rules[] = {
        {"LOOKAHEAD", kSpawnLookAhead},
        {"SPAWN_LATE_LIMIT", kSpawnLateLimit},
        {"DUPLICATE_WINDOW", kDuplicateWindow},
        {"EARLY_PRESS", kEarlyPressLimit},
        {"TAP_LIFETIME", kTapLifetime},
        {"COMBO_PER_LAYER", kComboPerLayer},
        {"MAX_LAYERS", kMaxLayers},
        {"REACH_EXTRA", kPressReach},
        {"TARGET_RADIUS", kTargetRadius},
        {"KEYS_PER_LANE", kKeysPerLane},
        {"LOW_ROW_BELOW", kLowRowBelow},
        {"MIDDLE_ROW_THROUGH", kMiddleRowThrough},
    };
    for (const auto& [name, value] : rules) {
        const auto found = script.find(name);
        ASSERT_NE(found, script.end()) << name << " is missing from simulate.py";
        EXPECT_DOUBLE_EQ(found->second, value) << name;
    }
}
