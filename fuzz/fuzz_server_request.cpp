// Feeds arbitrary requests to the leaderboard server's request handling: the input is a raw
// target, a newline, and two upload bodies separated by a NUL byte. Checks that the target
// splitting and percent-decoding round-trip, that every name an upload lets through passes the
// name checks, that the server's per-entry merge (by folded player name) agrees with the game's
// document merge where no two spellings fold together, that a board query parses into its bounds,
// and that the web page escapes every name.
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/leaderboard_names.hpp"
#include "server/request_target.hpp"
#include "server/score_entries.hpp"
#include "server/web_page.hpp"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_server_request: %s\n", what);
        __builtin_trap();
    }
}

std::string encode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        encoded += '%';
        encoded += kHex[c >> 4];
        encoded += kHex[c & 0x0F];
    }
    return encoded;
}

using Key = std::pair<std::string, std::string>;

// The stores' rule: an entry replaces the stored one only with a strictly higher score.
void mergeLikeTheStore(std::map<Key, StoredEntry>& stored, const Upload& upload) {
    for (const StoredEntry& entry : upload.entries) {
        auto found = stored.find({entry.level, entry.playerKey});
        if (found == stored.end()) {
            stored.emplace(Key{entry.level, entry.playerKey}, entry);
        } else if (entry.score > found->second.score) {
            found->second = entry;
        }
    }
}

// A document of entries, levels in order of their first entry (as the game's merge expects).
nlohmann::json documentOf(const std::vector<StoredEntry>& entries) {
    nlohmann::json document = {{"levels", nlohmann::json::array()}};
    std::map<std::string, std::size_t> index;
    for (const StoredEntry& entry : entries) {
        const auto found = index.emplace(entry.level, document["levels"].size()).first;
        if (found->second == document["levels"].size()) {
            document["levels"].push_back({{"name", entry.level}, {"scores", nlohmann::json::array()}});
        }
        document["levels"][found->second]["scores"].push_back(entry.entry);
    }
    return document;
}

void checkTarget(const std::string& target) {
    Route route;
    std::string error;
    if (!routeTarget(target, "/api", route, error)) {
        return;
    }
    BoardQuery query;
    if (parseBoardQuery(route.query, query, error)) {
        check(query.limit >= 1 && query.limit <= kMaxBoardLimit && query.offset >= 0 &&
                  query.offset <= kMaxBoardOffset && query.page >= 1,
              "a board query out of its bounds");
    }
    if (route.kind != RouteKind::PlayerScore) {
        return;
    }
    // Whatever the names hold, "/" and "%" included, encoding them again routes to the same names.
    Route again;
    check(
        routeTarget("/api/player/" + encode(route.level) + "/" + encode(route.player), "/api", again, error),
        "an encoded target did not route");
    check(again.kind == RouteKind::PlayerScore && again.level == route.level && again.player == route.player,
          "encoded names did not round-trip");
    std::string reason;
    checkLeaderboardName(route.level, reason);
    check(htmlEscape(route.player).find_first_of("<>\"'") == std::string::npos, "htmlEscape left a special");
}

bool readBody(const std::string& body, Upload& upload) {
    int status = 0;
    std::string error;
    if (!readUpload(body, 64, upload, status, error)) {
        check(status == 400 || status == 413, "a refusal without its status");
        return false;
    }
    std::map<Key, int> seen;
    for (const StoredEntry& entry : upload.entries) {
        std::string reason;
        check(checkLeaderboardName(entry.level, reason) && checkPlayerName(entry.player, reason),
              "an entry with a bad name was taken");
        check(entry.playerKey == foldPlayerName(entry.player), "an entry keyed by another name");
        check(entry.score >= 0 && entry.entry["score"] == entry.score, "a score out of range was taken");
        std::size_t extra = 0;
        for (auto it = entry.entry.begin(); it != entry.entry.end(); ++it) {
            const std::string& key = it.key();
            if (key != "player" && key != "score" && key != "time" && key != "highestLayer" &&
                key != "highestCombo") {
                extra += serializeLeaderboard(nlohmann::json{{key, *it}}, -1).size() - 1;
            }
        }
        check(extra <= kMaxExtraKeyBytes, "unknown keys past their room were kept");
        check(++seen[{entry.level, entry.playerKey}] == 1, "one upload kept two entries of a player");
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    checkTarget(input.substr(0, newline));
    if (newline == std::string::npos) {
        return 0;
    }
    const std::string bodies = input.substr(newline + 1);
    const std::size_t split = bodies.find('\0');
    Upload first;
    Upload second;
    if (!readBody(bodies.substr(0, split), first) ||
        (split != std::string::npos && !readBody(bodies.substr(split + 1), second))) {
        return 0;
    }
    std::map<Key, StoredEntry> stored;
    mergeLikeTheStore(stored, first);
    mergeLikeTheStore(stored, second);
    std::vector<LevelPage> levels;
    for (const auto& [key, entry] : stored) {
        if (levels.empty() || levels.back().level != key.first) {
            levels.push_back(LevelPage{key.first, 0, 0, {}});
        }
        levels.back().entries.push_back(entry);
        ++levels.back().total;
    }
    renderLeaderboardPage(levels, "/api");
    if (!levels.empty()) {
        renderRankingPage(levels.front(), 2, "/api");
    }
    // The game matches names exactly: the two merges agree where no two spellings fold together.
    std::map<Key, std::string> spelling;
    for (const Upload* upload : {&first, &second}) {
        for (const StoredEntry& entry : upload->entries) {
            const auto found = spelling.emplace(Key{entry.level, entry.playerKey}, entry.player).first;
            if (found->second != entry.player) {
                return 0;
            }
        }
    }
    nlohmann::json merged = documentOf(first.entries);
    check(mergeLeaderboards(merged, documentOf(second.entries)), "the game's merge refused a document");
    std::size_t count = 0;
    for (const nlohmann::json& level : merged["levels"]) {
        for (const nlohmann::json& entry : level["scores"]) {
            const auto found = stored.find(
                {level["name"].get<std::string>(), foldPlayerName(entry["player"].get<std::string>())});
            check(found != stored.end() && found->second.entry == entry, "the merges disagree");
            ++count;
        }
    }
    check(count == stored.size(), "the merges kept different entries");
    return 0;
}
