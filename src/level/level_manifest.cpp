#include "level/level_manifest.hpp"

#include "base/file_io.hpp"
#include "base/json_text.hpp"
#include "base/log.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>

using nlohmann::json;

namespace {

// Builds one stem from the defaults and the keys present. Throws the JSON library's type error
// when a key holds something that does not convert.
Stem readStem(const json& entry) {
    Stem stem;
    if (!entry.is_object()) {
        throw json::type_error::create(
            302, "stem entry must be an object, but is " + std::string(entry.type_name()), &entry);
    }
    if (auto it = entry.find("file"); it != entry.end()) {
        stem.file = it->get<std::string>();
    }
    if (auto it = entry.find("midi"); it != entry.end()) {
        stem.midi = it->get<std::string>();
    }
    if (auto it = entry.find("startOrder"); it != entry.end()) {
        // Read wide and clamped: converting 1e12 straight to 32 bits is undefined.
        const double order = it->get<double>();
        stem.startOrder = order <= INT32_MIN   ? INT32_MIN
                          : order >= INT32_MAX ? INT32_MAX
                                               : static_cast<std::int32_t>(order);
    }
    if (auto it = entry.find("playsNotes"); it != entry.end()) {
        stem.playsNotes = it->get<bool>();
    }
    if (auto it = entry.find("instrument"); it != entry.end()) {
        stem.instrument = it->get<std::string>();
    }
    if (auto it = entry.find("animation"); it != entry.end()) {
        const json& animation = *it;
        if (!animation.is_object()) {
            throw json::type_error::create(
                302, "animation must be an object, but is " + std::string(animation.type_name()), &animation);
        }
        stem.animationBase = animation.value("base", stem.animationBase);
        stem.animationPeak = animation.value("peak", stem.animationPeak);
        stem.animationLerpSpeed = animation.value("lerpSpeed", stem.animationLerpSpeed);
    }
    if (auto it = entry.find("color"); it != entry.end() && it->is_array() && it->size() == 3) {
        stem.colorR = (*it)[0].get<float>();
        stem.colorG = (*it)[1].get<float>();
        stem.colorB = (*it)[2].get<float>();
    }
    return stem;
}

// The tempo lives in the first "songMetaData" element when there is one, else in the root.
// Anything but a positive finite number is reported and replaced by 120, so that a bad value
// never reaches the chart scaling.
float readBpm(const json& root, const std::string& path) {
    const json* holder = &root;
    if (auto it = root.find("songMetaData"); it != root.end() && it->is_array() && !it->empty()) {
        if ((*it)[0].is_object()) {
            holder = &(*it)[0];
        }
    }
    auto it = holder->find("bpm");
    if (it == holder->end()) {
        return 120.0f;
    }
    if (it->is_number()) {
        const float bpm = it->get<float>();
        if (std::isfinite(bpm) && bpm > 0.0f) {
            return bpm;
        }
    }
    logError(stderr, "Invalid bpm in level JSON %s: %s (using 120)", path.c_str(), it->dump().c_str());
    return 120.0f;
}

// The song's title, from the first "songMetaData" element; "" when there is none.
std::string readTitle(const json& root) {
    if (auto it = root.find("songMetaData");
        it != root.end() && it->is_array() && !it->empty() && (*it)[0].is_object()) {
        if (auto title = (*it)[0].find("title"); title != (*it)[0].end() && title->is_string()) {
            return title->get<std::string>();
        }
    }
    return std::string();
}

} // namespace

bool parseLevelManifestText(const std::string& text, const std::string& path, LevelDefinition& level) {
    json root;
    std::string error;
    if (!parseJsonText(text, root, error)) {
        logError(stderr, "JSON parse error in %s: %s", path.c_str(), error.c_str());
        return false;
    }
    if (!root.is_object() || !root.contains("stems") || !root["stems"].is_array()) {
        logError(stderr, "Invalid level JSON: missing 'stems' array");
        return false;
    }
    level.stems.clear();
    for (const json& entry : root["stems"]) {
        try {
            Stem stem = readStem(entry);
            if (!stem.file.empty()) {
                level.stems.push_back(std::move(stem));
            }
        } catch (const json::exception& e) {
            logError(stderr, "Error reading stem entry: %s", e.what());
        }
    }
    std::stable_sort(level.stems.begin(), level.stems.end(),
                     [](const Stem& a, const Stem& b) { return a.startOrder < b.startOrder; });
    level.bpm = readBpm(root, path);
    level.title = readTitle(root);
    return !level.stems.empty();
}

bool parseLevelManifest(const std::string& path, LevelDefinition& level) {
    // Plain file reading, not SDL's: the replay library reads manifests for the level hash in
    // programs that have no SDL (the replay checker, the leaderboard server).
    std::string text;
    if (!readWholeFile(path, text) || text.empty()) {
        logError(stderr, "Failed to read level JSON: %s", path.c_str());
        return false;
    }
    return parseLevelManifestText(text, path, level);
}
