#pragma once
// The move from the first schema (leaderboard_scores: one row per level and player name compared
// as bytes) to the current one (leaderboard_entries: one row per level and folded player name).
// Both stores stream the old rows level by level through mergeLegacyLevel and write what it keeps.
// Pure functions, any thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A row of the old table.
struct LegacyRow {
    std::int64_t id = 0;
    std::string level;
    std::string player;
    std::int32_t score = 0;
    std::string entry;     // the stored JSON text
    std::string playerKey; // filled by mergeLegacyLevel: foldPlayerName(player)
};

// What a migration did, for its log line.
struct MigrationCounts {
    std::size_t read = 0;        // old rows
    std::size_t merged = 0;      // old rows folded into another row of the same level and name
    std::size_t unclaimable = 0; // rows kept whose names fail checkPlayerName
};

// The rows of one level (any order) reduced to one per folded name: the row with the higher score
// is kept whole, and of equal scores the one stored first (lower id). Rows whose names fail
// checkPlayerName stay, under their own bytes as key (the folding leaves such names as they are),
// readable but never claimable, since a claim needs a name that passes. The kept rows come back
// in id order; `counts` is added to.
std::vector<LegacyRow> mergeLegacyLevel(std::vector<LegacyRow> rows, MigrationCounts& counts);

// The log line: "Migrated N score entries to folded player names: M merged, K kept with names
// that no longer pass the name rules".
std::string migrationSummary(const MigrationCounts& counts);
