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

bool validName(const json& value) {
    std::string reason;
    return value.is_string() && checkLeaderboardName(value.get_ref<const std::string&>(), reason);
}

// The score entry as kept, or false when it is not one.
bool readEntry(const std::string& level, const json& element, StoredEntry& stored) {
    if (!element.is_object()) {
        return false;
    }
    const auto player = element.find("player");
    const auto score = element.find("score");
    if (player == element.end() || !validName(*player) || score == element.end() ||
        !uploadScore(*score, stored.score)) {
        return false;
    }
    stored.level = level;
    stored.player = player->get<std::string>();
    stored.entry = element;
    stored.entry["score"] = stored.score;
    return serializeLeaderboard(stored.entry, -1).size() <= kMaxEntryBytes;
}

std::size_t countEntries(const json& levels) {
    std::size_t count = 0;
    for (const json& level : levels) {
        if (level.is_object()) {
            const auto scores = level.find("scores");
            if (scores != level.end() && scores->is_array()) {
                count += scores->size();
            }
        }
    }
    return count;
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
    if (countEntries(*levels) > maxEntries) {
        status = 413;
        error = "the upload has more than " + std::to_string(maxEntries) + " score entries";
        return false;
    }
    std::map<std::pair<std::string, std::string>, std::size_t> taken;
    for (const json& level : *levels) {
        const auto scores = level.is_object() ? level.find("scores") : level.end();
        if (!level.is_object() || scores == level.end() || !scores->is_array()) {
            ++upload.skipped;
            continue;
        }
        const auto name = level.find("name");
        if (name == level.end() || !validName(*name)) {
            upload.skipped += scores->size();
            continue;
        }
        for (const json& element : *scores) {
            StoredEntry stored;
            if (!readEntry(name->get<std::string>(), element, stored)) {
                ++upload.skipped;
                continue;
            }
            auto key = std::make_pair(stored.level, stored.player);
            const auto found = taken.find(key);
            if (found == taken.end()) {
                taken.emplace(std::move(key), upload.entries.size());
                upload.entries.push_back(std::move(stored));
            } else if (upload.entries[found->second].score < stored.score) {
                upload.entries[found->second] = std::move(stored);
            }
        }
    }
    status = 200;
    return true;
}

json documentOfEntries(const std::vector<StoredEntry>& entries) {
    json document = {{"levels", json::array()}};
    json& levels = document["levels"];
    std::map<std::string, std::size_t> levelIndex;
    for (const StoredEntry& stored : entries) {
        auto found = levelIndex.find(stored.level);
        if (found == levelIndex.end()) {
            found = levelIndex.emplace(stored.level, levels.size()).first;
            levels.push_back({{"name", stored.level}, {"scores", json::array()}});
        }
        levels[found->second]["scores"].push_back(stored.entry);
    }
    return document;
}
