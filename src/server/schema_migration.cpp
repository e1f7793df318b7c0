#include "server/schema_migration.hpp"

#include "leaderboard/leaderboard_names.hpp"

#include <algorithm>
#include <map>

std::vector<LegacyRow> mergeLegacyLevel(std::vector<LegacyRow> rows, MigrationCounts& counts) {
    std::sort(rows.begin(), rows.end(), [](const LegacyRow& a, const LegacyRow& b) { return a.id < b.id; });
    std::map<std::string, std::size_t> best; // folded name -> index in `rows`
    std::vector<char> kept(rows.size(), 0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        LegacyRow& row = rows[i];
        ++counts.read;
        row.playerKey = foldPlayerName(row.player);
        const auto [found, inserted] = best.emplace(row.playerKey, i);
        if (inserted) {
            kept[i] = 1;
            continue;
        }
        ++counts.merged;
        // Rows come in id order, so an equal score keeps the earlier row.
        if (row.score > rows[found->second].score) {
            kept[found->second] = 0;
            kept[i] = 1;
            found->second = i;
        }
    }
    std::vector<LegacyRow> result;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string reason;
        if (kept[i] && !checkPlayerName(rows[i].player, reason)) {
            ++counts.unclaimable;
        }
        if (kept[i]) {
            result.push_back(std::move(rows[i]));
        }
    }
    return result;
}

std::string migrationSummary(const MigrationCounts& counts) {
    return "Migrated " + std::to_string(counts.read) +
           " score entries to folded player names: " + std::to_string(counts.merged) + " merged, " +
           std::to_string(counts.unclaimable) + " kept with names that no longer pass the name rules";
}
