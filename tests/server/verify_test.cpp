// A server that has the shipped levels runs uploaded rounds again: a person's round is stored
// verified, and each forgery of it is refused with its reason; entries it cannot run again are
// stored unverified, or refused under --verified-only.
#include "replay/simulated_round.hpp"
#include "replay_entry.hpp"
#include "server_fixture.hpp"

#include <filesystem>

using namespace servertest;
using nlohmann::json;

namespace {

// The shipped levels, copied once for the suite, and Neon Drive as the server reads it.
struct ShippedLevels {
    TempDir dir;
    std::string folder = dir.file("levels");
    CheckedLevel neon;
    ShippedLevels() {
        std::filesystem::copy(VIBRELLE_ASSETS "/levels", folder, std::filesystem::copy_options::recursive);
        std::string error;
        EXPECT_TRUE(readCheckedLevel(folder + "/neon_drive", "Neon Drive", neon, error)) << error;
    }
};
const ShippedLevels& shipped() {
    static const ShippedLevels levels;
    return levels;
}

class ServerVerify : public ServerCase {
protected:
    json post(const json& document) {
        return json::parse(request(server->port(), "POST", "/api/leaderboard", document.dump()).body, nullptr,
                           false);
    }
    // The reply's one error, checked to hold `reason`; the entry counted as refused.
    void expectRefused(const json& document, const std::string& reason) {
        const json reply = post(document);
        EXPECT_EQ(std::make_tuple(reply["accepted"], reply["skipped"]), std::make_tuple(json(0), json(1)))
            << reply;
        EXPECT_NE(reply["errors"][0].value("error", "").find(reason), std::string::npos) << reason << "\n"
                                                                                         << reply;
    }
};

} // namespace

TEST_P(ServerVerify, APersonsRoundIsVerifiedAndEachForgeryOfItIsRefused) {
    start({"--levels", shipped().folder});
    const Replay genuine = simulatedRound(shipped().neon, 20.0);
    const auto forged = [&](void (*edit)(Replay&)) {
        Replay replay = genuine;
        edit(replay);
        return upload("Neon Drive", {entryOf("eve", replay)});
    };
    // (A bot's replay and one played too fast are refused before any run: ServerReplays; a round
    // that runs again to another result in every way: ReplayVerify.)
    const std::pair<json, std::string> forgeries[] = {
        {forged([](Replay& r) { ++r.result.score; }),
         "came to a score of " + std::to_string(genuine.result.score)},
        {forged([](Replay& r) { r.levelHash[0] = r.levelHash[0] == 'a' ? 'b' : 'a'; }),
         "another version of the level"},
    };
    for (const auto& [document, reason] : forgeries) {
        expectRefused(document, reason);
    }
    EXPECT_EQ(scoreOf("Neon Drive", "eve"), 0);
    // The genuine round ranks verified; one whose every press is exactly on its note is stored but
    // flagged suspect, and ranks among the unverified however high its score.
    const Replay exact = simulatedRound(shipped().neon, 40.0, 1, 0.0, 1000);
    ASSERT_GT(exact.result.score, genuine.result.score);
    for (const auto& [player, replay] : {std::make_pair("ann", genuine), std::make_pair("max", exact)}) {
        const json reply = post(upload("Neon Drive", {entryOf(player, replay)}));
        EXPECT_EQ(std::make_tuple(reply["accepted"], reply["verified"]), std::make_tuple(json(1), json(1)))
            << reply;
    }
    const json board = json::parse(get("/api/leaderboard?level=Neon%20Drive").body)["levels"][0]["scores"];
    ASSERT_EQ(board.size(), 2u) << board;
    EXPECT_EQ(std::make_tuple(board[0]["player"], board[0]["score"], board[0]["verified"]),
              std::make_tuple(json("ann"), json(genuine.result.score), json(true)));
    EXPECT_EQ(std::make_tuple(board[1]["player"], board[1]["verified"]),
              std::make_tuple(json("max"), json(false)));
}

TEST_P(ServerVerify, WhatCannotBeRunAgainIsUnverifiedOrRefusedUnderVerifiedOnly) {
    Replay unknownLevel = simulatedRound(shipped().neon, 5.0);
    unknownLevel.levelName = "Somewhere Else";
    const json documents[] = {upload("Neon Drive", {entry("bob", 5)}),
                              upload("Somewhere Else", {entryOf("cid", unknownLevel)})};
    start({"--levels", shipped().folder});
    for (const json& document : documents) {
        const json reply = post(document);
        EXPECT_EQ(std::make_tuple(reply["accepted"], reply["verified"]), std::make_tuple(json(1), json(0)))
            << reply;
    }
    start({"--levels", shipped().folder, "--verified-only"});
    expectRefused(documents[0], "only verified rounds, and this one was not verified: it carries no replay");
    expectRefused(documents[1], "not verified: the server does not have the level");
    const json reply = post(upload("Neon Drive", {entryOf("ann", simulatedRound(shipped().neon, 5.0))}));
    EXPECT_EQ(std::make_tuple(reply["accepted"], reply["verified"]), std::make_tuple(json(1), json(1)))
        << reply;
}

INSTANTIATE_TEST_SUITE_P(Sqlite, ServerVerify, testing::Values(Backend::Sqlite));
