#include "server/web_page.hpp"

#include "base/percent_encoding.hpp"

#include <algorithm>

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
h1, h1 a { color: #ff4fd8; }
a { color: #4fe3ff; }
h2 { color: #4fe3ff; margin-top: 1.5em; }
table { border-collapse: collapse; width: 100%; }
th, td { padding: 0.3em 0.8em; text-align: left; border-bottom: 1px solid #33335a; }
td.number { text-align: right; font-variant-numeric: tabular-nums; }
.verified { color: #7dff9a; }
</style>
</head>
<body>
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

// The table of `entries`, ranks from `firstRank`; replay links under `prefix`.
void appendTable(std::string& page, const std::vector<StoredEntry>& entries, std::int64_t firstRank,
                 const std::string& prefix) {
    page += "<table>\n<tr><th>#</th><th>Player</th><th>Score</th><th>Layers</th><th>Combo</th>"
            "<th>Replay</th></tr>\n";
    std::int64_t rank = firstRank;
    for (const StoredEntry& stored : entries) {
        const bool verified = rankedVerified(stored);
        page += "<tr><td class=\"number\">" + std::to_string(rank++) + "</td><td>" +
                htmlEscape(stored.player) +
                (verified ? " <span class=\"verified\" title=\"verified\">\u2713</span>" : "") +
                "</td><td class=\"number\">" + std::to_string(stored.score) + "</td><td>" +
                htmlEscape(detailText(stored.entry, "highestLayer")) + "</td><td class=\"number\">" +
                htmlEscape(detailText(stored.entry, "highestCombo")) + "</td><td>";
        if (verified) {
            page += "<a href=\"" + prefix + "/replay?level=" + percentEncode(stored.level) +
                    "&amp;player=" + percentEncode(stored.player) + "\" download>Download</a>";
        }
        page += "</td></tr>\n";
    }
    page += "</table>\n";
}

std::string rankingLink(const std::string& level, std::int64_t pageNumber, const std::string& text) {
    return "<a href=\"/?level=" + percentEncode(level) + "&amp;page=" + std::to_string(pageNumber) + "\">" +
           text + "</a>";
}

std::string entriesText(std::int64_t total) {
    return std::to_string(total) + (total == 1 ? " entry" : " entries");
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

std::string renderLeaderboardPage(const std::vector<LevelPage>& levels, const std::string& prefix) {
    std::string page = kHead;
    page += "<h1>Vibrelle leaderboard</h1>\n";
    if (levels.empty()) {
        page += "<p>No scores yet.</p>\n";
    }
    for (const LevelPage& level : levels) {
        page += "<section>\n<h2>" + htmlEscape(level.level) + "</h2>\n";
        appendTable(page, level.entries, 1, prefix);
        page += "<p>" + entriesText(level.total) + " · " + rankingLink(level.level, 1, "Full ranking") +
                "</p>\n</section>\n";
    }
    page += "</body>\n</html>\n";
    return page;
}

std::string renderRankingPage(const LevelPage& level, std::int64_t pageNumber, const std::string& prefix) {
    std::string page = kHead;
    page += "<h1><a href=\"/\">Vibrelle leaderboard</a></h1>\n<section>\n<h2>" + htmlEscape(level.level) +
            "</h2>\n";
    if (level.entries.empty()) {
        page += "<p>No entries on this page (" + entriesText(level.total) + ").</p>\n";
    } else {
        const std::int64_t first = level.offset + 1;
        const std::int64_t last = level.offset + static_cast<std::int64_t>(level.entries.size());
        page += "<p>Ranks " + std::to_string(first) + " to " + std::to_string(last) + " of " +
                entriesText(level.total) + ".</p>\n";
        appendTable(page, level.entries, first, prefix);
    }
    page += "<p>";
    const auto pageSize = static_cast<std::int64_t>(kRankingPageSize);
    const std::int64_t pages = (level.total + pageSize - 1) / pageSize;
    if (pageNumber > 1) {
        page +=
            rankingLink(level.level, std::min(pageNumber - 1, std::max<std::int64_t>(pages, 1)), "Previous") +
            " ";
    }
    if (pageNumber < pages) {
        page += rankingLink(level.level, pageNumber + 1, "Next") + " ";
    }
    page += "<a href=\"/\">All levels</a></p>\n</section>\n</body>\n</html>\n";
    return page;
}

std::string renderRefusalPage(const std::string& reason) {
    return std::string(kHead) + "<h1><a href=\"/\">Vibrelle leaderboard</a></h1>\n<p>" + htmlEscape(reason) +
           "</p>\n</body>\n</html>\n";
}
