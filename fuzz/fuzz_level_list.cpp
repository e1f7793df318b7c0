// Feeds arbitrary text to the levels.json reader. Every entry it returns must be usable by the
// menu, and on short texts the result must equal what the format's defining patterns give
// (std::regex recurses per character, so it only serves as a reference on short texts).
#include "level/level_list.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kReferenceBytes = 256;

std::string referenceString(const std::string& object, const std::string& key) {
    static std::map<std::string, std::regex> patterns;
    const auto it = patterns.try_emplace(key, "\"" + key + "\"\\s*:\\s*\"([^\"]+)\"").first;
    std::smatch m;
    return std::regex_search(object, m, it->second) ? m[1].str() : std::string();
}

std::int32_t referenceInt(const std::string& object, const std::string& key, std::int32_t fallback) {
    static std::map<std::string, std::regex> patterns;
    const auto it = patterns.try_emplace(key, "\"" + key + "\"\\s*:\\s*(\\d+)").first;
    std::smatch m;
    if (!std::regex_search(object, m, it->second)) {
        return fallback;
    }
    // Too large for an int32 counts as unusable; leading zeros do not count.
    const std::string digits = m[1].str();
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        return 0;
    }
    if (digits.size() - first > 10) {
        return fallback;
    }
    const long long value = std::stoll(digits.substr(first));
    return value <= 2147483647 ? static_cast<std::int32_t>(value) : fallback;
}

std::vector<LevelListEntry> referenceEntries(const std::string& text) {
    static const std::regex object(R"(\{[^}]*\})");
    std::vector<LevelListEntry> entries;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), object); it != std::sregex_iterator();
         ++it) {
        const std::string o = it->str();
        LevelListEntry e{referenceString(o, "name"), referenceString(o, "file"),
                         referenceInt(o, "difficulty", 1), referenceString(o, "description")};
        if (!e.name.empty() && !e.file.empty()) {
            entries.push_back(e);
        }
    }
    return entries;
}

bool same(const LevelListEntry& a, const LevelListEntry& b) {
    return a.name == b.name && a.file == b.file && a.difficulty == b.difficulty &&
           a.description == b.description;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<LevelListEntry> entries;
    if (parseLevelListText(text, entries) != entries.size()) {
        __builtin_trap();
    }
    for (const LevelListEntry& e : entries) {
        // Values stop at the next quote; digits cannot make a negative number.
        if (e.name.empty() || e.file.empty() || e.name.find('"') != std::string::npos ||
            e.file.find('"') != std::string::npos || e.description.find('"') != std::string::npos ||
            e.difficulty < 0) {
            __builtin_trap();
        }
    }
    if (size <= kReferenceBytes) {
        const std::vector<LevelListEntry> expected = referenceEntries(text);
        if (expected.size() != entries.size()) {
            __builtin_trap();
        }
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!same(entries[i], expected[i])) {
                __builtin_trap();
            }
        }
        // The matchers on their own, over the whole text as one object.
        for (const char* key : {"name", "file", "description"}) {
            if (extractJsonString(text, key) != referenceString(text, key)) {
                __builtin_trap();
            }
        }
        if (extractJsonInt(text, "difficulty", -1) != referenceInt(text, "difficulty", -1)) {
            __builtin_trap();
        }
    }
    return 0;
}
