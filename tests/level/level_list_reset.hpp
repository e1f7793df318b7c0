#pragma once
// Forgets the process-wide level list, so that the next load reads its file again.
#include "level/level_list.hpp"

inline void resetLevelListForTesting() {
    levelList.clear();
    levelListLoaded = false;
}
