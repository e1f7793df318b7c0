// The level content tools simulate play with their own copy of the rules (they run without the
// game): the numbers in tools/content/simulate.py must be the ones in game/game_rules.hpp, or the
// content checks pass charts that the game judges differently.
#include "game/game_rules.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

TEST(RulesTable, TheContentSimulatorUsesTheGamesNumbers) {
    std::ifstream file(VIBRELLE_ASSETS "/../tools/content/simulate.py");
    ASSERT_TRUE(file) << "tools/content/simulate.py";
    // Module-level assignments "NAME = number".
    std::map<std::string, double> script;
    const std::regex assignment(R"(^([A-Z_]+) = (-?[0-9.]+)\s*(#.*)?$)");
    for (std::string line; std::getline(file, line);) {
        std::smatch m;
        if (std::regex_match(line, m, assignment)) {
            script[m[1]] = std::stod(m[2]);
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
