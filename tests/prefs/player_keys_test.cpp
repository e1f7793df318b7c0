// The player keys in prefs.json: one entry per server, earlier names keep their keys, names
// compare folded, and a malformed key is never stored or handed out.
#include "prefs/player_keys.hpp"

#include <gtest/gtest.h>

using nlohmann::json;

TEST(PlayerKeys, KeepsAKeyPerNameAcrossRenamesAndComparesNamesFolded) {
    const std::string url = "https://scores.example/api", a = "AAAAAAAAAAAAAAAAAAAAAA",
                      b = "bbbbbbbbbbbbbbbbbbbbbb";
    json prefs = {{"playerName", "Ann"},
                  {"playerKeys", {{"http://other/api", {{"name", "Ann"}, {"key", b}}}}}};
    prefs = prefsWithPlayerKey(prefs, url, "Ann", a);
    prefs = prefsWithPlayerKey(prefs, url, "Bob", b);
    EXPECT_EQ(prefs["playerKeys"][url],
              json::parse(R"({"name": "Bob", "key": ")" + b +
                          R"(", "earlierNames": [{"name": "Ann", "key": ")" + a + R"("}]})"));
    const struct {
        const char* name;
        std::string key;
    } lookups[] = {{"Bob", b}, {"BOB", b}, {"ann", a}, {"Cy", ""}};
    for (const auto& lookup : lookups) {
        EXPECT_EQ(storedPlayerKey(prefs, url, lookup.name), lookup.key) << lookup.name;
    }
    EXPECT_EQ(storedPlayerKey(prefs, "http://other/api", "ann"), b) << "each server has its own";
    EXPECT_EQ(prefs["playerName"], "Ann") << "other settings stay";

    // Back to an earlier name with a new key: it becomes the current pair, listed once.
    prefs = prefsWithPlayerKey(prefs, url, "ANN", b);
    EXPECT_EQ(prefs["playerKeys"][url]["earlierNames"],
              json::parse(R"([{"name": "Bob", "key": ")" + b + R"("}])"));

    for (const std::string bad : {"short", "AAAAAAAAAAAAAAAAAAAAA=", "AAAAAAAAAAAAAAAAAAAAAAA", ""}) {
        EXPECT_EQ(prefsWithPlayerKey(prefs, url, "Dee", bad), prefs) << bad;
    }
    json tampered = prefs;
    tampered["playerKeys"][url]["key"] = "not a key";
    EXPECT_EQ(storedPlayerKey(tampered, url, "ANN"), "");
    for (const char* text : {"null", "[]", R"({"playerKeys": 5})", R"({"playerKeys": {"x": 1}})"}) {
        EXPECT_EQ(storedPlayerKey(json::parse(text), "x", "Ann"), "") << text;
    }
}
