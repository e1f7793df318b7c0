#include "server/score_entries.hpp"

#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/leaderboard_names.hpp"

#include <cmath>
#include <exception>
#include <limits>
#include <map>
#include <optional>
#include <utility>

using nlohmann::json;

namespace {

// Thrown by the parser callback to stop a body that nests too deeply.
struct TooDeep {};

constexpr const char* kKnownKeys[] = {"player", "score", "time", "highestLayer", "highestCombo"};

bool validName(const json& value) {
    std::string reason;
    return value.is_string() && checkLeaderboardName(value.get_ref<const std::string&>(), reason);
}

bool isKnownKey(const std::string& key) {
    for (const char* known : kKnownKeys) {
        if (key == known) {
            return true;
        }
    }
    return false;
}

bool isCount(const json& value) {
    return value.is_number_integer() &&
           (value.is_number_unsigned()
                ? value.get<std::uint64_t>() <= std::numeric_limits<std::int32_t>::max()
                : value.get<std::int64_t>() >= 0 &&
                      value.get<std::int64_t>() <= std::numeric_limits<std::int32_t>::max());
}

// An element of the reply's "errors": the names where they are valid, and why.
json skippedEntry(const json* level, const json* player, const std::string& why) {
    json error = json::object();
    if (level != nullptr && validName(*level)) {
        error["level"] = *level;
    }
    if (player != nullptr && validName(*player)) {
        error["player"] = *player;
    }
    error["error"] = why;
    return error;
}

// Takes off a kept entry's malformed details and the unknown keys past the room they get; the
// count of keys dropped.
std::size_t trimEntry(json& entry) {
    std::size_t dropped = 0;
    std::size_t room = kMaxExtraKeyBytes;
    bool full = false;
    for (auto it = entry.begin(); it != entry.end();) {
        const std::string& key = it.key();
        bool keep = true;
        if (key == "verified" || key == "suspect") {
            keep = false; // the server's to decide, never the uploader's
        } else if (key == "time" || key == "highestCombo") {
            keep = isCount(*it);
        } else if (key == "highestLayer") {
            keep = validName(*it) && it->get_ref<const std::string&>().size() <= kMaxLayerTextBytes;
        } else if (!isKnownKey(key)) {
            // nlohmann's objects iterate in byte order of the keys: the cut is the same for every
            // spelling of one entry.
            const std::size_t cost =
                serializeLeaderboard(json{{key, *it}}, -1).size() - 1; // {..} less 1: a comma
            keep = !full && cost <= room;
            full = !keep;
            room -= keep ? cost : 0;
        }
        if (keep) {
            ++it;
        } else {
            it = entry.erase(it);
            ++dropped;
        }
    }
    return dropped;
}

// The score entry as kept, or false with the reason when it is not one.
bool readEntry(const std::string& level, const json& element, StoredEntry& stored, std::string& why) {
    if (!element.is_object()) {
        why = "the score entry is not an object";
        return false;
    }
    const auto player = element.find("player");
    std::string reason;
    if (player == element.end() || !player->is_string()) {
        why = "the score entry has no player name";
        return false;
    }
    if (!checkPlayerName(player->get_ref<const std::string&>(), reason)) {
        why = "the player name " + reason;
        return false;
    }
    const auto score = element.find("score");
    if (score == element.end() || !uploadScore(*score, stored.score)) {
        why = "the score is missing or not a number from 0 to 2147483647";
        return false;
    }
    const auto replay = element.find("replay");
    if (replay != element.end() && (!replay->is_string() || replay->get_ref<const std::string&>().empty())) {
        why = "the replay is not a text, or an empty one";
        return false;
    }
    stored.level = level;
    stored.player = player->get<std::string>();
    stored.playerKey = foldPlayerName(stored.player);
    stored.entry = element;
    stored.entry["score"] = stored.score;
    if (replay != element.end()) {
        stored.replay = replay->get<std::string>();
        stored.entry.erase("replay");
    }
    return true;
}

// The score entries of a document's levels, and how many of them carry a "replay".
std::pair<std::size_t, std::size_t> countEntries(const json& levels) {
    std::size_t count = 0;
    std::size_t replays = 0;
    for (const json& level : levels) {
        if (level.is_object()) {
            const auto scores = level.find("scores");
            if (scores != level.end() && scores->is_array()) {
                count += scores->size();
                for (const json& element : *scores) {
                    replays += element.is_object() && element.contains("replay") ? 1 : 0;
                }
            }
        }
    }
    return {count, replays};
}

} // namespace

bool uploadScore(const json& value, std::int32_t& score) {
    constexpr auto highest = std::numeric_limits<std::int32_t>::max();
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (!std::isfinite(number) || number <= -1.0 || number >= static_cast<double>(highest) + 1.0) {
            return false;
        }
    } else if (value.is_number_integer() && !value.is_number_unsigned()) {
        const std::int64_t number = value.get<std::int64_t>();
        if (number < 0 || number > highest) {
            return false;
        }
    } else if (value.is_number_unsigned()) {
        if (value.get<std::uint64_t>() > static_cast<std::uint64_t>(highest)) {
            return false;
        }
    } else {
        return false; // booleans, strings, null, containers
    }
    // In range now, so the document rules' conversion (truncation toward zero) is exact.
    const std::optional<std::int32_t> converted = storedScore(value);
    if (!converted) {
        return false;
    }
    score = *converted;
    return true;
}

bool readUpload(std::string_view body, std::size_t maxEntries, Upload& upload, int& status,
                std::string& error) {
    upload = Upload{};
    status = 400;
    json document;
    try {
        const json::parser_callback_t depthCheck = [](int depth, json::parse_event_t, json&) {
            if (depth >= kMaxUploadDepth) {
                throw TooDeep{};
            }
            return true;
        };
        document = json::parse(body.begin(), body.end(), depthCheck, true, false);
    } catch (const TooDeep&) {
        error = "the body nests deeper than " + std::to_string(kMaxUploadDepth) + " levels";
        return false;
    } catch (const std::exception& e) {
        error = std::string("the body is not JSON: ") + e.what();
        return false;
    }
    const auto levels = document.is_object() ? document.find("levels") : document.end();
    if (!document.is_object() || levels == document.end() || !levels->is_array()) {
        error = "the body is not a leaderboard document (an object with a \"levels\" array)";
        return false;
    }
    const auto [count, replays] = countEntries(*levels);
    if (count > maxEntries) {
        status = 413;
        error = "the upload has more than " + std::to_string(maxEntries) + " score entries";
        return false;
    }
    if (replays > kMaxUploadReplays) {
        status = 413;
        error = "the upload carries more than " + std::to_string(kMaxUploadReplays) + " replays";
        return false;
    }
    std::map<std::pair<std::string, std::string>, std::size_t> taken;
    const auto skip = [&upload](const json* level, const json* player, const std::string& why) {
        ++upload.skipped;
        upload.errors.push_back(skippedEntry(level, player, why));
    };
    for (const json& level : *levels) {
        const auto scores = level.is_object() ? level.find("scores") : level.end();
        if (!level.is_object() || scores == level.end() || !scores->is_array()) {
            const auto name = level.is_object() ? level.find("name") : level.end();
            skip(name == level.end() ? nullptr : &*name, nullptr,
                 "the level entry is not an object with a \"scores\" array");
            continue;
        }
        const auto name = level.find("name");
        std::string reason;
        if (name == level.end() || !name->is_string() ||
            !checkLeaderboardName(name->get_ref<const std::string&>(), reason)) {
            const std::string why =
                reason.empty() ? "the level entry has no name" : "the level name " + reason;
            for (const json& element : *scores) {
                const auto player = element.is_object() ? element.find("player") : element.end();
                skip(nullptr, player == element.end() ? nullptr : &*player, why);
            }
            continue;
        }
        for (const json& element : *scores) {
            StoredEntry stored;
            std::string why;
            if (!readEntry(name->get<std::string>(), element, stored, why)) {
                const auto player = element.is_object() ? element.find("player") : element.end();
                skip(&*name, player == element.end() ? nullptr : &*player, why);
                continue;
            }
            auto key = std::make_pair(stored.level, stored.playerKey);
            const auto found = taken.find(key);
            if (found == taken.end()) {
                taken.emplace(std::move(key), upload.entries.size());
                upload.entries.push_back(std::move(stored));
            } else if (upload.entries[found->second].score < stored.score) {
                upload.entries[found->second] = std::move(stored);
            }
        }
    }
    // Only the entries kept are trimmed, so that a dropped key is counted once.
    for (StoredEntry& stored : upload.entries) {
        upload.droppedKeys += trimEntry(stored.entry);
    }
    status = 200;
    return true;
}

json documentOfPages(std::vector<LevelPage> levels, bool withOffset) {
    json document = {{"levels", json::array()}};
    for (LevelPage& page : levels) {
        json level = {{"name", page.level}, {"total", page.total}, {"scores", json::array()}};
        if (withOffset) {
            level["offset"] = page.offset;
        }
        json& scores = level["scores"];
        scores.get_ref<json::array_t&>().reserve(page.entries.size());
        for (StoredEntry& stored : page.entries) {
            stored.entry.erase("suspect");
            stored.entry["verified"] = rankedVerified(stored);
            scores.push_back(std::move(stored.entry));
        }
        document["levels"].push_back(std::move(level));
    }
    return document;
}
