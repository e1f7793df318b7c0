#include "server/web_page.hpp"

#include <algorithm>
#include <map>

using nlohmann::json;

namespace {

constexpr const char* kHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vibrelle leaderboard</title>
<style>
body { font-family: sans-serif; background: #0b0b1a; color: #e8e8ff; margin: 2em auto; max-width: 48em; }
h1 { color: #ff4fd8; }
h2 { color: #4fe3ff; margin-top: 1.5em; }
table { border-collapse: collapse; width: 100%; }
th, td { padding: 0.3em 0.8em; text-align: left; border-bottom: 1px solid #33335a; }
td.number { text-align: right; font-variant-numeric: tabular-nums; }
</style>
</head>
<body>
<h1>Vibrelle leaderboard</h1>
)";

// A detail of a score entry as table text: a string as it is, an integer in decimal.
std::string detailText(const json& entry, const char* key) {
    const auto found = entry.find(key);
    if (found == entry.end()) {
        return "-";
    }
    if (found->is_string()) {
        return found->get<std::string>();
    }
    if (found->is_number_integer()) {
        return found->dump();
    }
    return "-";
}

void appendLevel(std::string& page, const std::string& level, std::vector<const StoredEntry*>& scores,
                 std::size_t perLevel) {
    std::stable_sort(scores.begin(), scores.end(),
                     [](const StoredEntry* a, const StoredEntry* b) { return a->score > b->score; });
    page += "<section>\n<h2>" + htmlEscape(level) + "</h2>\n<table>\n";
    page += "<tr><th>#</th><th>Player</th><th>Score</th><th>Layers</th><th>Combo</th></tr>\n";
    for (std::size_t rank = 0; rank < scores.size() && rank < perLevel; ++rank) {
        const StoredEntry& stored = *scores[rank];
        page += "<tr><td class=\"number\">" + std::to_string(rank + 1) + "</td><td>" +
                htmlEscape(stored.player) + "</td><td class=\"number\">" + std::to_string(stored.score) +
                "</td><td>" + htmlEscape(detailText(stored.entry, "highestLayer")) +
                "</td><td class=\"number\">" + htmlEscape(detailText(stored.entry, "highestCombo")) +
                "</td></tr>\n";
    }
    page += "</table>\n</section>\n";
}

} // namespace

std::string htmlEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string renderLeaderboardPage(const std::vector<StoredEntry>& entries, std::size_t perLevel) {
    std::vector<std::string> order;
    std::map<std::string, std::vector<const StoredEntry*>> byLevel;
    for (const StoredEntry& stored : entries) {
        std::vector<const StoredEntry*>& scores = byLevel[stored.level];
        if (scores.empty()) {
            order.push_back(stored.level);
        }
        scores.push_back(&stored);
    }
    std::string page = kHead;
    if (order.empty()) {
        page += "<p>No scores yet.</p>\n";
    }
    for (const std::string& level : order) {
        appendLevel(page, level, byLevel[level], perLevel);
    }
    page += "</body>\n</html>\n";
    return page;
}
