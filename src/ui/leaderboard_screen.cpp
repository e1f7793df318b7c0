#include "ui/leaderboard_screen.hpp"

#include "base/utf8.hpp"
#include "game/game_state.hpp"
#include "leaderboard/leaderboard_client.hpp"
#include "leaderboard/leaderboard_document.hpp"
#include "leaderboard/leaderboard_names.hpp"
#include "level/level_list.hpp"
#include "replay/replay_store.hpp"
#include "ui/ui_system.hpp"
#include "ui/ui_trace.hpp"
#include "ui/widgets.hpp"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <set>

namespace {

std::vector<LeaderboardLevel> shownLevels; // main thread
std::uint64_t shownBoard = 0;              // counts the boards shown (main thread)

// The stored replays of the chosen level's rows (one path per row, "" for a row that is not the
// player's own or has no replay) and which rows are other players' verified ones, whose replays
// can be downloaded; looked up again only when another board arrives, another level is chosen, the
// player's name changes or the screen is entered: not in every frame.
struct OwnReplays {
    bool valid = false;
    std::uint64_t board = 0;
    int level = -1;
    std::string player;
    std::vector<std::string> paths;
    std::vector<bool> downloadable;
};
OwnReplays ownReplays; // main thread

// The replay download: the one under way (main thread), and its outcome once the request thread
// hands it over (under downloadMutex). An outcome is watched only when it arrives during the same
// visit of the screen that asked for it: a player who left meanwhile is not pulled into a replay.
struct DownloadUnderWay {
    bool running = false;
    std::string level, player;
    std::uint64_t visit = 0;
};
DownloadUnderWay downloading;   // main thread
std::uint64_t screenVisits = 0; // counts the screen's entries (main thread)
std::string downloadNotice;     // why the last download failed, or "" (main thread)
std::mutex downloadMutex;
bool downloadArrived = false;
ReplayDownload arrivedDownload;

// What the last fetch brought, waiting for the main thread.
std::mutex receivedMutex;
std::vector<LeaderboardLevel> receivedLevels;
bool received = false;

std::int32_t wholeNumber(const nlohmann::json& entry, const char* key) {
    const auto it = entry.find(key);
    if (it == entry.end() || !it->is_number()) {
        return 0;
    }
    const double value = std::trunc(it->get<double>());
    if (!std::isfinite(value)) {
        return 0;
    }
    return static_cast<std::int32_t>(
        std::clamp(value, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                   static_cast<double>(std::numeric_limits<std::int32_t>::max())));
}

bool readRow(const nlohmann::json& entry, LeaderboardRow& row) {
    if (!entry.is_object()) {
        return false;
    }
    const auto player = entry.find("player");
    const auto score = entry.find("score");
    if (player == entry.end() || !player->is_string() || score == entry.end()) {
        return false;
    }
    const std::optional<std::int32_t> value = storedScore(*score);
    if (!value) {
        return false;
    }
    row.player = player->get<std::string>();
    row.score = *value;
    row.time = wholeNumber(entry, "time");
    row.combo = wholeNumber(entry, "highestCombo");
    const auto layer = entry.find("highestLayer");
    row.layer = layer != entry.end() && layer->is_string() ? layer->get<std::string>() : "0/0";
    row.verified = isVerifiedEntry(entry);
    return true;
}

void pushFont(ImFont* font) { ImGui::PushFont(font, font != nullptr ? font->LegacySize : 0.0f); }

} // namespace

std::vector<LeaderboardLevel> parseLeaderboardForDisplay(const nlohmann::json& document) {
    std::vector<LeaderboardLevel> levels;
    if (!document.is_object()) {
        return levels;
    }
    const auto list = document.find("levels");
    if (list == document.end() || !list->is_array()) {
        return levels;
    }
    for (const nlohmann::json& entry : *list) {
        if (!entry.is_object()) {
            continue;
        }
        const auto name = entry.find("name");
        if (name == entry.end() || !name->is_string()) {
            continue;
        }
        LeaderboardLevel level;
        level.name = name->get<std::string>();
        const auto scores = entry.find("scores");
        if (scores != entry.end() && scores->is_array()) {
            for (const nlohmann::json& score : *scores) {
                LeaderboardRow row;
                if (readRow(score, row)) {
                    level.rows.push_back(std::move(row));
                }
            }
        }
        // Sorted once, here: a sort in every frame would let equal scores trade places. Verified rows
        // first, as the server ranks them, so that the merged own rows fall in where it would put them.
        std::stable_sort(level.rows.begin(), level.rows.end(),
                         [](const LeaderboardRow& a, const LeaderboardRow& b) {
                             return a.verified != b.verified ? a.verified : a.score > b.score;
                         });
        levels.push_back(std::move(level));
    }
    return levels;
}

std::string formatSongTime(std::int32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", seconds / 60, seconds % 60);
    return text;
}

void receiveLeaderboard(const nlohmann::json& document) {
    std::vector<LeaderboardLevel> levels = parseLeaderboardForDisplay(document);
    std::lock_guard<std::mutex> lock(receivedMutex);
    receivedLevels = std::move(levels);
    received = true;
}

const std::vector<LeaderboardLevel>& shownLeaderboardLevels() {
    std::lock_guard<std::mutex> lock(receivedMutex);
    if (received) {
        ++shownBoard;
        shownLevels = std::move(receivedLevels);
        receivedLevels.clear();
        received = false;
    }
    return shownLevels;
}

std::vector<std::string> leaderboardLevelNames(const std::vector<LevelListEntry>& levelList) {
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (const LevelListEntry& entry : levelList) {
        if (seen.insert(entry.name).second) {
            names.push_back(entry.name);
        }
    }
    return names;
}

void receiveReplayDownload(const ReplayDownload& download) {
    std::lock_guard<std::mutex> lock(downloadMutex);
    arrivedDownload = download;
    downloadArrived = true;
}

void leaderboardScreenEnter(const std::vector<LevelListEntry>& levelList) {
    ownReplays.valid = false; // rounds played since may have saved or pruned replays
    ++screenVisits;
    downloadNotice.clear();
    fetchLeaderboardAsync(leaderboardLevelNames(levelList), receiveLeaderboard);
}

std::string leaderboardScreenNotice() {
    std::string notice = leaderboardOwnershipNotice();
    if (!downloadNotice.empty()) {
        notice = notice.empty() ? downloadNotice : notice + "\n" + downloadNotice;
    }
    return notice;
}

// The replay path of each row of `level` (the chosen one, `index`), refreshed as OwnReplays says.
static const OwnReplays& rowReplays(const ScreenContext& context, const LeaderboardLevel& level, int index) {
    std::string player;
    {
        std::lock_guard<std::mutex> lock(*context.gameMutex);
        player = withUtf8Replacements(context.game->playerName); // as the file stores the name
    }
    if (ownReplays.valid && ownReplays.board == shownBoard && ownReplays.level == index &&
        ownReplays.player == player) {
        return ownReplays;
    }
    ownReplays = OwnReplays{true, shownBoard, index, player, {}, {}};
    const std::string own = foldPlayerName(player);
    for (const LeaderboardRow& row : level.rows) {
        std::string path;
        if (row.player == player && !player.empty() && context.findOwnReplay) {
            path = context.findOwnReplay(ReplayEntry{level.name, row.score, row.time, row.combo});
        }
        ownReplays.paths.push_back(std::move(path));
        // The server compares names folded: a row under another spelling of the name is the player's too.
        ownReplays.downloadable.push_back(row.verified && foldPlayerName(row.player) != own);
    }
    return ownReplays;
}

// The outcome of a finished download, taken on the main thread: the path to watch, or "" (none
// arrived, it failed and downloadNotice says why, or it was asked for on an earlier visit).
static std::string takeArrivedDownload() {
    ReplayDownload arrived;
    {
        std::lock_guard<std::mutex> lock(downloadMutex);
        if (!downloadArrived) {
            return std::string();
        }
        downloadArrived = false;
        arrived = std::move(arrivedDownload);
    }
    const bool sameVisit = downloading.visit == screenVisits;
    downloading = DownloadUnderWay{};
    if (!sameVisit) {
        return std::string();
    }
    downloadNotice = arrived.ok ? std::string() : arrived.error;
    return arrived.ok ? arrived.path : std::string();
}

// A check mark drawn as two strokes in a square of the text's height (the fonts carry no such glyph).
static void drawCheckMark() {
    const float size = ImGui::GetTextLineHeight();
    const ImVec2 at = ImGui::GetCursorScreenPos();
    const ImVec2 points[] = {ImVec2(at.x + 0.12f * size, at.y + 0.55f * size),
                             ImVec2(at.x + 0.40f * size, at.y + 0.82f * size),
                             ImVec2(at.x + 0.88f * size, at.y + 0.22f * size)};
    ImGui::GetWindowDrawList()->AddPolyline(points, 3, ImGui::GetColorU32(ImVec4(0.3f, 1.0f, 0.55f, 1.0f)),
                                            ImDrawFlags_None, std::max(2.0f, 0.12f * size));
    ImGui::Dummy(ImVec2(size, size));
}

// What a click in the table asks for: a stored replay to watch, or a row's replay to download.
struct TableClick {
    std::string watch;
    std::string download; // the row's player
};

// A Watch button traced as "##watch_<rank>" (the row's ID is pushed); disabled when `enabled` is not.
static bool watchButton(std::size_t rank, const char* label, bool enabled) {
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.2f, 0.25f, 0.45f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.3f, 0.4f, 0.7f, 1.0f));
    ImGui::BeginDisabled(!enabled);
    const bool clicked = ImGui::SmallButton(label);
    ImGui::EndDisabled();
    ImGui::PopStyleColor(2);
    const std::string traceId = "##watch_" + std::to_string(rank);
    uiTraceLastItem(traceId.c_str());
    return clicked;
}

// Draws the table; answers the click on a row's Watch button, if any.
static TableClick drawScoresTable(const LeaderboardLevel& level, const OwnReplays& replays) {
    TableClick click;
    const std::vector<std::string>& paths = replays.paths;
    const float s = gUI.uiScale;
    ImGui::PushStyleColor(ImGuiCol_TableHeaderBg, ImVec4(0.2f, 0.2f, 0.3f, 0.8f));
    ImGui::PushStyleColor(ImGuiCol_TableRowBg, ImVec4(0.1f, 0.1f, 0.15f, 0.4f));
    ImGui::PushStyleColor(ImGuiCol_TableRowBgAlt, ImVec4(0.15f, 0.15f, 0.2f, 0.4f));
    ImGui::PushStyleVar(ImGuiStyleVar_CellPadding, ImVec2(12.0f * s, 8.0f * s));
    if (ImGui::BeginTable("ScoresTable", 8,
                          ImGuiTableFlags_SizingFixedFit | ImGuiTableFlags_BordersInnerV |
                              ImGuiTableFlags_RowBg)) {
        ImGui::TableSetupColumn("#", ImGuiTableColumnFlags_WidthFixed, 40.0f * s);
        ImGui::TableSetupColumn("##verified", ImGuiTableColumnFlags_WidthFixed, ImGui::GetTextLineHeight());
        ImGui::TableSetupColumn("Player", ImGuiTableColumnFlags_WidthStretch);
        ImGui::TableSetupColumn("Score");
        ImGui::TableSetupColumn("Time");
        ImGui::TableSetupColumn("Layer");
        ImGui::TableSetupColumn("Combo");
        ImGui::TableSetupColumn("Replay");
        ImGui::TableHeadersRow();
        const ImVec4 medals[] = {ImVec4(1.0f, 0.84f, 0.0f, 1.0f), ImVec4(0.75f, 0.75f, 0.75f, 1.0f),
                                 ImVec4(0.8f, 0.5f, 0.2f, 1.0f)};
        for (size_t i = 0; i < level.rows.size(); ++i) {
            const LeaderboardRow& row = level.rows[i];
            ImGui::PushID(static_cast<int>(i));
            ImGui::TableNextRow();
            ImGui::TableSetColumnIndex(0);
            ImGui::TextColored(i < 3 ? medals[i] : ImVec4(0.7f, 0.7f, 0.7f, 1.0f), "%d.",
                               static_cast<int>(i + 1));
            if (row.verified) {
                ImGui::TableSetColumnIndex(1);
                drawCheckMark();
                // The hovered row is known from the last frame's layout (row 0 is the header).
                if (ImGui::TableGetHoveredRow() == static_cast<int>(i) + 1) {
                    ImGui::SetTooltip("%s", kVerifiedTooltip);
                }
            }
            ImGui::TableSetColumnIndex(2);
            ImGui::TextUnformatted(row.player.c_str()); // a name from a file or a server: text only
            ImGui::TableSetColumnIndex(3);
            ImGui::TextColored(ImVec4(0.0f, 1.0f, 0.5f, 1.0f), "%d", row.score);
            ImGui::TableSetColumnIndex(4);
            ImGui::TextUnformatted(formatSongTime(row.time).c_str());
            ImGui::TableSetColumnIndex(5);
            ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.5f, 0.8f, 1.0f, 1.0f));
            ImGui::TextUnformatted(row.layer.c_str());
            ImGui::PopStyleColor();
            ImGui::TableSetColumnIndex(6);
            ImGui::TextColored(ImVec4(1.0f, 0.8f, 0.0f, 1.0f), "%d", row.combo);
            if (i < paths.size() && !paths[i].empty()) {
                ImGui::TableSetColumnIndex(7);
                if (watchButton(i + 1, "Watch##watch", true)) {
                    click.watch = paths[i];
                }
            } else if (i < replays.downloadable.size() && replays.downloadable[i]) {
                ImGui::TableSetColumnIndex(7);
                const bool thisOne = downloading.running && downloading.level == level.name &&
                                     downloading.player == row.player;
                const std::string label = std::string(thisOne ? kDownloadingLabel : "Watch") + "##watch";
                if (watchButton(i + 1, label.c_str(), !downloading.running)) {
                    click.download = row.player;
                }
            }
            ImGui::PopID();
        }
        ImGui::EndTable();
    }
    ImGui::PopStyleVar();
    ImGui::PopStyleColor(3);
    return click;
}

void drawLeaderboardScreen(const ScreenContext& context) {
    const std::vector<LeaderboardLevel>& levels = shownLeaderboardLevels();
    const float s = gUI.uiScale;
    drawTitleAndPlacePanel("LEADERBOARD", 0.3f, 0.8f, 0.75f, 60.0f, 40.0f);
    bool back = false;
    std::string watch = takeArrivedDownload();
    std::string download; // a row's player whose replay is asked for
    std::string downloadLevel;
    if (ImGui::Begin("##LeaderboardPanel", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                         ImGuiWindowFlags_NoBackground)) {
        std::string notice = leaderboardScreenNotice();
        if (context.watchNotice != nullptr && !context.watchNotice->empty()) {
            notice = notice.empty() ? *context.watchNotice : notice + "\n" + *context.watchNotice;
        }
        if (!notice.empty()) {
            ImGui::PushTextWrapPos(0.0f);
            ImGui::TextColored(ImVec4(1.0f, 0.5f, 0.4f, 1.0f), "%s", notice.c_str());
            ImGui::PopTextWrapPos();
            uiTraceLastItem("leaderboard_notice");
            ImGui::Dummy(ImVec2(0.0f, 10.0f * s));
        }
        pushFont(gUI.fonts.buttonFont);
        ImGui::TextUnformatted("Select Level:");
        ImGui::PopFont();
        uiTraceLastItem("leaderboard_heading");
        ImGui::Dummy(ImVec2(0.0f, 10.0f * s));

        ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 8.0f);
        ImGui::PushStyleColor(ImGuiCol_FrameBg, ImVec4(0.15f, 0.15f, 0.2f, 0.9f));
        ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.2f, 0.2f, 0.3f, 0.9f));
        ImGui::SetNextItemWidth(-1.0f);
        if (!levels.empty() && gUI.leaderboardLevel >= static_cast<int>(levels.size())) {
            gUI.leaderboardLevel = 0;
        }
        const char* preview = levels.empty() ? "No levels found"
                                             : levels[static_cast<size_t>(gUI.leaderboardLevel)].name.c_str();
        if (ImGui::BeginCombo("##LeaderboardLevelSelect", preview)) {
            for (int i = 0; i < static_cast<int>(levels.size()); ++i) {
                ImGui::PushID(i);
                const bool chosen = i == gUI.leaderboardLevel;
                if (ImGui::Selectable("##level", chosen)) {
                    gUI.leaderboardLevel = i;
                }
                ImGui::SameLine(0.0f, 0.0f);
                ImGui::TextUnformatted(levels[static_cast<size_t>(i)].name.c_str());
                if (chosen) {
                    ImGui::SetItemDefaultFocus();
                }
                ImGui::PopID();
            }
            ImGui::EndCombo();
        }
        uiTraceLastItem("leaderboard_level");
        ImGui::PopStyleColor(2);
        ImGui::PopStyleVar();
        ImGui::Dummy(ImVec2(0.0f, 20.0f * s));

        const float remaining = ImGui::GetContentRegionAvail().y;
        ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12.0f);
        ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.05f, 0.05f, 0.1f, 0.85f));
        ImGui::PushStyleColor(ImGuiCol_Border, ImVec4(0.3f, 0.3f, 0.5f, 0.5f));
        if (ImGui::BeginChild("ScoresList",
                              ImVec2(0.0f, std::max(60.0f * s, remaining - 125.2f * s - 60.0f * s)),
                              ImGuiChildFlags_Borders)) {
            const ImVec2 at = ImGui::GetWindowPos(), extent = ImGui::GetWindowSize();
            uiTraceRect("leaderboard_scores", at.x, at.y, at.x + extent.x, at.y + extent.y);
            if (levels.empty()) {
                const char* text = "No leaderboard data available.";
                const ImVec2 size = ImGui::CalcTextSize(text);
                const ImVec2 area = ImGui::GetContentRegionAvail();
                ImGui::SetCursorPos(ImVec2((area.x - size.x) / 2.0f, (area.y - size.y) / 2.0f));
                ImGui::TextColored(ImVec4(0.6f, 0.6f, 0.6f, 1.0f), "%s", text);
            } else {
                const LeaderboardLevel& level = levels[static_cast<size_t>(gUI.leaderboardLevel)];
                const TableClick click =
                    drawScoresTable(level, rowReplays(context, level, gUI.leaderboardLevel));
                if (!click.watch.empty()) {
                    watch = click.watch;
                }
                download = click.download;
                downloadLevel = level.name;
            }
        }
        ImGui::EndChild();
        ImGui::PopStyleColor(2);
        ImGui::PopStyleVar();

        const float gap = ImGui::GetContentRegionAvail().y - 125.2f * s - 10.0f * s;
        if (gap > 0.0f) {
            ImGui::Dummy(ImVec2(0.0f, gap));
        }
        const ImVec2 size(std::min(400.0f * s, ImGui::GetContentRegionAvail().x), 125.2f * s);
        const RowButton row[] = {{"##back", "Back"}};
        back = drawButtonRow(row, 1, size, 0.0f) == 0;
    }
    ImGui::End();
    if (back) {
        goToScreen(context, UIScreen::MainMenu);
    } else if (!watch.empty() && context.watchReplayFile) {
        context.watchReplayFile(watch);
    } else if (!download.empty() && context.downloadReplay && !downloading.running) {
        downloading = DownloadUnderWay{true, downloadLevel, download, screenVisits};
        downloadNotice.clear();
        context.downloadReplay(downloadLevel, download);
    }
}
