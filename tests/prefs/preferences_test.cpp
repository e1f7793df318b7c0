#include "prefs/preferences.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using nlohmann::json;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

// Every test gets its own data folder: SDL puts the preferences under $XDG_DATA_HOME/Kvo/Vibrelle.
class Prefs : public ::testing::Test {
protected:
    void SetUp() override {
        home = std::filesystem::temp_directory_path() /
               ("vibrelle_prefs_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home);
        // SDL keeps its own copy of the environment once it has read it: set both.
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        SDL_SetEnvironmentVariable(SDL_GetEnvironment(), "XDG_DATA_HOME", home.c_str(), true);
        path = getPrefsPath();
    }
    void TearDown() override { std::filesystem::remove_all(home); }

    void write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    json stored() const {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return json::parse(text.str());
    }
    template <typename F> auto logged(F call, std::string& out, std::string& err) {
        CaptureStdout();
        CaptureStderr();
        auto result = call();
        out = GetCapturedStdout();
        err = GetCapturedStderr();
        return result;
    }

    std::filesystem::path home;
    std::string path;
};

TEST_F(Prefs, LivesInTheUsersDataFolder) {
    EXPECT_EQ(path, (home / "Kvo" / "Vibrelle" / "prefs.json").string());
}

TEST_F(Prefs, WithoutAFileTheDefaultsHoldAndSayWhy) {
    std::string out, err;
    EXPECT_EQ(logged([] { return loadPlayerName("Player"); }, out, err), "Player");
    EXPECT_EQ(out, "No prefs file found \xE2\x80\x93 using default player name (Player)\n");
    EXPECT_TRUE(logged([] { return loadKeyboardGameplay(true); }, out, err));
    EXPECT_EQ(out, "No prefs file found \xE2\x80\x93 using default keyboard gameplay setting (enabled)\n");
    EXPECT_FLOAT_EQ(logged([] { return loadMusicVolume(1.0f); }, out, err), 1.0f);
    EXPECT_EQ(out, "No prefs file found \xE2\x80\x93 using default music volume (100%)\n");
    EXPECT_EQ(logged([] { return loadAudioOffsetMs(0); }, out, err), 0);
    EXPECT_EQ(out, "No prefs file found \xE2\x80\x93 using default audio offset (0 ms)\n");
}

TEST_F(Prefs, ValuesOfTheWrongShapeReadAsAbsent) {
    const struct {
        const char* file;
        const char* name;
        bool keyboard;
        float volume;
        int offsetMs;
    } cases[] = {
        {R"({"keyboardGameplay": false, "audioOffsetMs": -40})", "Player", false, 1.0f, -40},
        {R"({"playerName": "", "musicVolume": 0.35, "audioOffsetMs": 12.6})", "Player", true, 0.35f, 13},
        {R"({"playerName": 5, "keyboardGameplay": "yes", "musicVolume": "loud", "audioOffsetMs": "late"})",
         "Player", true, 1.0f, 0},
        {R"({"playerName": "Zoë", "keyboardGameplay": true, "musicVolume": 7, "audioOffsetMs": 9000})", "Zoë",
         true, 1.0f, 300},
        {R"({"musicVolume": -1, "audioOffsetMs": -1e300})", "Player", true, 0.0f, -300},
        {"[1, 2, 3]", "Player", true, 1.0f, 0},
        {"42", "Player", true, 1.0f, 0},
    };
    for (const auto& c : cases) {
        write(c.file);
        EXPECT_EQ(loadPlayerName("Player"), c.name) << c.file;
        EXPECT_EQ(loadKeyboardGameplay(true), c.keyboard) << c.file;
        EXPECT_FLOAT_EQ(loadMusicVolume(1.0f), c.volume) << c.file;
        EXPECT_EQ(loadAudioOffsetMs(0), c.offsetMs) << c.file;
    }
}

TEST_F(Prefs, EachSaveChangesOnlyItsOwnKey) {
    write(R"({"keyboardGameplay": false, "futureSetting": {"x": 1}, "playerName": 5})");
    std::string out, err;
    logged(
        [] {
            savePlayerName("Ann");
            return 0;
        },
        out, err);
    EXPECT_EQ(out, "Player name saved to " + path + "\n");
    logged(
        [] {
            saveMusicVolume(0.42f);
            return 0;
        },
        out, err);
    EXPECT_EQ(out, "Music volume saved to " + path + ": 42%\n");
    logged(
        [] {
            saveAudioOffsetMs(-25);
            return 0;
        },
        out, err);
    EXPECT_EQ(out, "Audio offset saved to " + path + ": -25 ms\n");
    const json saved = stored();
    EXPECT_EQ(saved,
              json::parse(R"({"keyboardGameplay": false, "futureSetting": {"x": 1}, "playerName": "Ann",
                                     "musicVolume": 0.42, "audioOffsetMs": -25})"));
    // Four-space indentation, non-ASCII written as UTF-8.
    savePlayerName("Zoë");
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("\n    \"playerName\": \"Zoë\""), std::string::npos) << text.str();

    for (int toggle = 0; toggle < 2; ++toggle) {
        logged(
            [toggle] {
                saveKeyboardGameplay(toggle == 1);
                return 0;
            },
            out, err);
    }
    EXPECT_EQ(out, "Keyboard gameplay setting saved to " + path + ": enabled\n");
    EXPECT_TRUE(loadKeyboardGameplay(false));
}

TEST_F(Prefs, AnUnreadableFileIsReportedAndReplacedByTheKeyBeingSaved) {
    // A file nested a million deep parses, but saving it would overflow the stack.
    const std::string deep = "{\"x\": " + std::string(1000000, '[') + std::string(1000000, ']') + "}";
    for (const std::string& file : {std::string("{not json"), std::string("[\"an\", \"array\"]"), deep}) {
        write(file);
        std::string out, err;
        EXPECT_EQ(logged([] { return loadPlayerName("Player"); }, out, err), "Player");
        logged(
            [] {
                saveKeyboardGameplay(false);
                return 0;
            },
            out, err);
        EXPECT_EQ(stored(), json::parse(R"({"keyboardGameplay": false})")) << file.substr(0, 20);
        if (file[0] == '{') {
            EXPECT_EQ(err.rfind("Failed to parse existing prefs when saving keyboard gameplay: ", 0), 0u)
                << err;
        }
    }
}

TEST_F(Prefs, NamesAreCutAtACharacterAndNeverStoredAsBrokenText) {
    const std::string sixtyTwo(62, 'a');
    EXPECT_EQ(storablePlayerName(sixtyTwo + "é"), sixtyTwo) << "a two-byte character at byte 63 goes whole";
    EXPECT_EQ(storablePlayerName(sixtyTwo + "b" + "é"), sixtyTwo + "b");
    EXPECT_EQ(storablePlayerName("Ann\xFF"), "Ann\xEF\xBF\xBD") << "a byte that is not UTF-8 is replaced";
    // Neither are overlong forms, surrogates and code points past U+10FFFF: each of their bytes goes.
    for (const std::string bad :
         {"\xC0\x91", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF0\x80\x80\xAF", "\xF4\x90\x80\x80"}) {
        std::string replaced;
        for (std::size_t i = 0; i < bad.size(); ++i) {
            replaced += "\xEF\xBF\xBD";
        }
        EXPECT_EQ(storablePlayerName("a" + bad), "a" + replaced) << testing::PrintToString(bad);
    }
    EXPECT_EQ(cutToCharacters("\xE2\x82\xAC\xE2\x82\xAC", 4), "\xE2\x82\xAC");
    savePlayerName(std::string(70, 'x') + "\xC3");
    EXPECT_EQ(loadPlayerName("Player"), std::string(63, 'x'));
}

TEST_F(Prefs, ASaveThatCannotBeWrittenIsReportedAndTheGameGoesOn) {
    std::filesystem::create_directories(path); // root ignores file modes, not a folder in the way
    std::string out, err;
    logged(
        [] {
            savePlayerName("Ann");
            return 0;
        },
        out, err);
    EXPECT_EQ(err.rfind("Failed to save prefs file: ", 0), 0u) << err;
    EXPECT_EQ(out, "");
    EXPECT_EQ(logged([] { return loadPlayerName("Player"); }, out, err), "Player");
}

// A save killed at any moment leaves the old file or the new one, whole.
TEST_F(Prefs, AKilledSaveLeavesAWholeFile) {
    savePlayerName("start");
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay(300, 6000);
    for (int round = 0; round < 15; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Quiet, and saving ever new names until the parent kills it.
            std::freopen("/dev/null", "w", stdout);
            for (int i = 0;; ++i) {
                savePlayerName("child " + std::to_string(i) + std::string(200, 'z'));
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        json document;
        ASSERT_NO_THROW(document = stored()) << "round " << round;
        ASSERT_TRUE(document.contains("playerName"));
    }
}

} // namespace
