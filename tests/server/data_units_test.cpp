// The pure parts of the server's data handling: the player-key header, keys and their hashes,
// and the board's query parameters.
#include "server/player_keys.hpp"
#include "server/request_target.hpp"

#include <gtest/gtest.h>

#include <set>

TEST(DataUnits, PlayerKeyHeaderIsNoneNewAKeyOrInvalid) {
    const std::string key = "Ab0-_Ab0-_Ab0-_Ab0-_Aw"; // 22 characters, last one carrying 2 zero bits
    const struct {
        std::optional<std::string_view> value;
        PlayerKeyKind kind;
    } cases[] = {
        {std::nullopt, PlayerKeyKind::None},
        {"new", PlayerKeyKind::New},
        {key, PlayerKeyKind::Key},
        {"", PlayerKeyKind::Invalid},
        {"New", PlayerKeyKind::Invalid},
        {key.substr(0, 21), PlayerKeyKind::Invalid},
        {key + "A", PlayerKeyKind::Invalid},
        {"Ab0-_Ab0-_Ab0-_Ab0-_AB", PlayerKeyKind::Invalid}, // bits past the 16 bytes
        {"Ab0-_Ab0-_Ab0-_Ab0-_A=", PlayerKeyKind::Invalid},
        {"Ab0+/Ab0-_Ab0-_Ab0-_Aw", PlayerKeyKind::Invalid}, // base64, not base64url
        {std::string_view("Ab0-_Ab0-_Ab0-_Ab0-_A\0", 22), PlayerKeyKind::Invalid},
    };
    for (const auto& c : cases) {
        const PlayerKeyHeader header = parsePlayerKeyHeader(c.value);
        EXPECT_EQ(header.kind, c.kind) << (c.value ? std::string(*c.value) : "(none)");
        EXPECT_EQ(header.key, c.kind == PlayerKeyKind::Key ? key : "");
    }
}

TEST(DataUnits, FreshKeysParseAreDistinctAndHashAsSha256) {
    std::set<std::string> keys;
    for (int i = 0; i < 200; ++i) {
        std::string key;
        ASSERT_TRUE(makePlayerKey(key));
        EXPECT_EQ(parsePlayerKeyHeader(key).kind, PlayerKeyKind::Key) << key;
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), 200u);
    EXPECT_EQ(hashPlayerKey("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(DataUnits, BoardQueriesAreReadStrictly) {
    BoardQuery query;
    std::string error;
    ASSERT_TRUE(parseBoardQuery("", query, error));
    EXPECT_EQ(query.level, "");
    EXPECT_EQ(query.limit, 100u);
    ASSERT_TRUE(
        parseBoardQuery("x=1&&level=Low%2FHigh+1%2B1&offset=0000250&limit=7&page=3&x=2", query, error))
        << error;
    EXPECT_EQ(query.level, "Low/High 1+1");
    EXPECT_EQ(query.offset, 250);
    EXPECT_EQ(query.limit, 7u);
    EXPECT_EQ(query.page, 3);
    for (const char* bad : {"level=a&offset=", "level=a&offset=1000000001", "level=a&offset=99999999999",
                            "level=a&limit=0", "level=a&limit=+1", "level=a&page=0", "level=a&level=b",
                            "level", "level=%2", "%6Cevel=a&level=b", "limit=5"}) {
        EXPECT_FALSE(parseBoardQuery(bad, query, error)) << bad;
    }
}
