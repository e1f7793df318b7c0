#pragma once
// The leaderboard server's web page: plain HTML, no JavaScript, every text escaped.
#include "server/score_entries.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// `text` with &, <, >, " and ' replaced by character references, for HTML text and attributes.
std::string htmlEscape(std::string_view text);

// Entries a level's ranking shows per page.
constexpr std::size_t kRankingPageSize = 50;

// The board: one table per level (in the order given) with the entries given (the best ones, in
// rank order): rank, player, score, layers ("highestLayer") and combo ("highestCombo"), the
// level's total, and a link to its full ranking (/?level=NAME&page=1). A detail that is missing or
// of another type shows as "-". A ranked-verified entry's player has a check mark (title
// "verified") and its row a link to download its replay (<prefix>/replay?level=L&player=P, with
// `prefix` the API's, "" for the root).
std::string renderLeaderboardPage(const std::vector<LevelPage>& levels, const std::string& prefix);

// Page `pageNumber` (from 1) of one level's ranking, `page` holding its entries from rank
// (pageNumber - 1) * kRankingPageSize on: the table as above, which ranks it shows of the total,
// links to the previous and next pages where there are such, and back to the board.
std::string renderRankingPage(const LevelPage& page, std::int64_t pageNumber, const std::string& prefix);

// A page saying why a request for a page was refused.
std::string renderRefusalPage(const std::string& reason);
