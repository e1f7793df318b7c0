#include "base/utf8.hpp"
#include "prefs/preferences.hpp"

#include "capture.hpp"
#include "temp_dir.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using nlohmann::json;

namespace {

// Every test gets its own data folder: SDL puts the preferences under $XDG_DATA_HOME/Kvo/Vibrelle.
class Prefs : public ::testing::Test {
protected:
    void SetUp() override {
        // SDL keeps its own copy of the environment once it has read it: set both.
        setenv("XDG_DATA_HOME", home.path().c_str(), 1);
        SDL_SetEnvironmentVariable(SDL_GetEnvironment(), "XDG_DATA_HOME", home.path().c_str(), true);
        path = getPrefsPath();
    }
    void write(const std::string& text) { writeText(path, text); }
    std::string text() const { return readText(path); }

    TempDir home;
    std::string path;
};

TEST_F(Prefs, WithoutAFileTheDefaultsHoldAndSayWhy) {
    EXPECT_EQ(path, (home.path() / "Kvo" / "Vibrelle" / "prefs.json").string());
    const std::string none = "No prefs file found \xE2\x80\x93 using default ";
    std::string name;
    bool keyboard = true;
    float volume = 0.0f;
    int offset = 0;
    unsigned frames = 0;
    float scale = 0.0f;
    EXPECT_EQ(printedBy([&] { name = loadPlayerName("Ann"); }).out, none + "player name (Ann)\n");
    EXPECT_EQ(printedBy([&] { keyboard = loadKeyboardGameplay(false); }).out,
              none + "keyboard gameplay setting (disabled)\n");
    EXPECT_EQ(printedBy([&] { volume = loadMusicVolume(0.5f); }).out, none + "music volume (50%)\n");
    EXPECT_EQ(printedBy([&] { offset = loadAudioOffsetMs(-12); }).out, none + "audio offset (-12 ms)\n");
    EXPECT_EQ(printedBy([&] { frames = loadAudioPeriodFrames(1024); }).out,
              none + "audio buffer (1024 frames)\n");
    EXPECT_EQ(printedBy([&] { scale = loadUiScale(1.0f); }).out, none + "UI scale (100%)\n");
    EXPECT_EQ(name, "Ann");
    EXPECT_FALSE(keyboard);
    EXPECT_FLOAT_EQ(volume, 0.5f);
    EXPECT_EQ(offset, -12);
    EXPECT_EQ(frames, 1024u);
    EXPECT_FLOAT_EQ(scale, 1.0f);
}

// Values of the wrong type read as absent; numbers are clamped to their ranges and offsets rounded.
TEST_F(Prefs, ValuesOfTheWrongShapeReadAsAbsent) {
    // file, then the name, keyboard setting, volume and offset read from it
    const std::tuple<const char*, const char*, bool, float, int> cases[] = {
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
    for (const auto& [file, name, keyboard, volume, offsetMs] : cases) {
        SCOPED_TRACE(file);
        write(file);
        EXPECT_EQ(loadPlayerName("Player"), name);
        EXPECT_EQ(loadKeyboardGameplay(true), keyboard);
        EXPECT_FLOAT_EQ(loadMusicVolume(1.0f), volume);
        EXPECT_EQ(loadAudioOffsetMs(0), offsetMs);
    }
}

TEST_F(Prefs, EachSaveChangesOnlyItsOwnKey) {
    write(R"({"keyboardGameplay": false, "futureSetting": {"x": 1}, "playerName": 5})");
    EXPECT_EQ(printedBy([] { savePlayerName("Ann"); }).out, "Player name saved to " + path + "\n");
    EXPECT_EQ(printedBy([] { saveMusicVolume(0.42f); }).out, "Music volume saved to " + path + ": 42%\n");
    EXPECT_EQ(printedBy([] { saveAudioOffsetMs(-25); }).out, "Audio offset saved to " + path + ": -25 ms\n");
    EXPECT_EQ(printedBy([] { saveAudioPeriodFrames(2048); }).out,
              "Audio buffer saved to " + path + ": 2048 frames\n");
    EXPECT_EQ(printedBy([] { saveUiScale(1.234f); }).out, "UI scale saved to " + path + ": 123%\n");
    EXPECT_EQ(json::parse(text()),
              json::parse(R"({"keyboardGameplay": false, "futureSetting": {"x": 1}, "playerName": "Ann",
                                     "musicVolume": 0.42, "audioOffsetMs": -25, "audioPeriodFrames": 2048,
                                     "uiScale": 1.23})"));
    // Four-space indentation, non-ASCII written as UTF-8.
    printedBy([] { savePlayerName("Zoë"); });
    EXPECT_NE(text().find("\n    \"playerName\": \"Zoë\""), std::string::npos) << text();

    // Out-of-range values are stored at their limits; a volume that is not a number as full.
    EXPECT_EQ(printedBy([] { saveMusicVolume(std::nanf("")); }).out,
              "Music volume saved to " + path + ": 100%\n");
    printedBy([] { saveMusicVolume(-3.0f); });
    printedBy([] { saveAudioOffsetMs(1000000); });
    printedBy([] { saveAudioPeriodFrames(1); });
    printedBy([] { saveUiScale(NAN); });
    EXPECT_EQ(json::parse(text())["musicVolume"], 0.0);
    EXPECT_EQ(json::parse(text())["audioOffsetMs"], kAudioOffsetMaxMs);
    EXPECT_EQ(loadAudioPeriodFrames(1024), 64u);
    EXPECT_FLOAT_EQ(loadUiScale(0.9f), 1.0f) << "a scale that is not a number is stored as 100 %";

    printedBy([] { saveKeyboardGameplay(false); });
    EXPECT_EQ(printedBy([] { saveKeyboardGameplay(true); }).out,
              "Keyboard gameplay setting saved to " + path + ": enabled\n");
    EXPECT_TRUE(loadKeyboardGameplay(false));
}

TEST_F(Prefs, AnUnreadableFileIsReportedAndReplacedByTheKeyBeingSaved) {
    // A file nested a million deep parses, but saving it would overflow the stack.
    const std::string deep = "{\"x\": " + std::string(1000000, '[') + std::string(1000000, ']') + "}";
    for (const std::string& file : {std::string("{not json"), std::string("[\"an\", \"array\"]"), deep}) {
        SCOPED_TRACE(file.substr(0, 20));
        write(file);
        std::string name;
        printedBy([&] { name = loadPlayerName("Player"); });
        EXPECT_EQ(name, "Player");
        const std::string err = printedBy([] { saveKeyboardGameplay(false); }).err;
        EXPECT_EQ(json::parse(text()), json::parse(R"({"keyboardGameplay": false})"));
        if (file[0] == '{') {
            EXPECT_EQ(err.rfind("Failed to parse existing prefs when saving keyboard gameplay: ", 0), 0u)
                << err;
        }
    }
}

TEST_F(Prefs, NamesAreCutAtACharacterAndNeverStoredAsBrokenText) {
    const std::string sixtyThree(63, 'a');
    EXPECT_EQ(storablePlayerName(sixtyThree + "é"), sixtyThree)
        << "a two-byte character at byte 64 goes whole";
    EXPECT_EQ(storablePlayerName(sixtyThree + "b" + "é"), sixtyThree + "b");
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
    printedBy([] { savePlayerName(std::string(70, 'x') + "\xC3"); });
    EXPECT_EQ(loadPlayerName("Player"), std::string(kMaxNameBytes, 'x'));
}

TEST_F(Prefs, ASaveThatCannotBeWrittenIsReportedAndTheGameGoesOn) {
    std::filesystem::create_directories(path); // root ignores file modes, not a folder in the way
    const Printed log = printedBy([] { savePlayerName("Ann"); });
    EXPECT_EQ(log.err.rfind("Failed to save prefs file: ", 0), 0u) << log.err;
    EXPECT_EQ(log.out, "");
    std::string name;
    printedBy([&] { name = loadPlayerName("Player"); });
    EXPECT_EQ(name, "Player");
}

// The audio buffer: a whole number of frames within the device's range, else the default.
TEST_F(Prefs, TheAudioBufferIsAWholeNumberOfFramesInRange) {
    const std::pair<const char*, unsigned> cases[] = {
        {R"({"audioPeriodFrames": 256})", 256},    {R"({"audioPeriodFrames": 8192})", 8192},
        {R"({"audioPeriodFrames": 63})", 1024},    {R"({"audioPeriodFrames": 8193})", 1024},
        {R"({"audioPeriodFrames": -512})", 1024},  {R"({"audioPeriodFrames": 512.5})", 1024},
        {R"({"audioPeriodFrames": "512"})", 1024}, {R"({"audioPeriodFrames": 1e30})", 1024},
    };
    for (const auto& [file, expected] : cases) {
        write(file);
        EXPECT_EQ(loadAudioPeriodFrames(1024), expected) << file;
    }
}

TEST_F(Prefs, TheUiScaleIsAFactorFrom80To150Percent) {
    const std::pair<const char*, float> cases[] = {
        {R"({"uiScale": 1.25})", 1.25f}, {R"({"uiScale": 0.5})", 0.8f},  {R"({"uiScale": 9})", 1.5f},
        {R"({"uiScale": "1.2"})", 1.0f}, {R"({"uiScale": null})", 1.0f}, {R"({"uiScale": 1e400})", 1.0f},
    };
    for (const auto& [file, expected] : cases) {
        write(file);
        EXPECT_FLOAT_EQ(loadUiScale(1.0f), expected) << file;
    }
}

// A save killed at any moment leaves the old file or the new one, whole.
TEST_F(Prefs, AKilledSaveLeavesAWholeFile) {
    printedBy([] { savePlayerName("start"); });
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
        ASSERT_EQ(waitpid(child, nullptr, 0), child);
        json document;
        ASSERT_NO_THROW(document = json::parse(text())) << "round " << round;
        ASSERT_TRUE(document.contains("playerName"));
    }
}

// The key bindings: scancode numbers in cell order, kept beside the other keys.
TEST_F(Prefs, KeyBindingsAreSavedAndReadBackBesideTheOtherKeys) {
    write(R"({"futureSetting": [1]})");
    const Printed quiet =
        printedBy([] { EXPECT_EQ(loadKeyBindings().scancodes, defaultKeyBindings().scancodes); });
    EXPECT_EQ(quiet.out + quiet.err, "") << "no bindings stored: the default grid, silently";
    KeyBindings bindings = defaultKeyBindings();
    std::swap(bindings.scancodes[0], bindings.scancodes[23]);
    bindings.scancodes[5] = 19; // P
    EXPECT_EQ(printedBy([&] { saveKeyBindings(bindings); }).out, "Key bindings saved to " + path + "\n");
    EXPECT_EQ(loadKeyBindings().scancodes, bindings.scancodes);
    const json document = json::parse(text());
    EXPECT_EQ(document["futureSetting"], json::parse("[1]"));
    EXPECT_EQ(document["keyBindings"][5], 19);
}

TEST_F(Prefs, KeyBindingsThatCannotBeAGridFallBackToTheDefaultWithAMessage) {
    const std::string grid =
        "29, 4, 20, 27, 22, 26, 6, 7, 8, 25, 9, 21, 5, 10, 23, 17, 11, 28, 16, 13, 24, 54, 14";
    const std::pair<std::string, const char*> cases[] = {
        {"[" + grid + ", 999]", "Key binding 999 is not a free key or is used twice: using the default grid"},
        {"[" + grid + ", 29]", "Key binding 29 is not a free key or is used twice: using the default grid"},
        {"[" + grid + ", \"q\"]", "Key bindings are not a list of key numbers: using the default grid"},
        {"\"zaqxsw\"", "Key bindings are not a list of key numbers: using the default grid"},
    };
    for (const auto& [stored, message] : cases) {
        write(R"({"keyBindings": )" + stored + "}");
        KeyBindings bindings;
        const std::string err = printedBy([&] { bindings = loadKeyBindings(); }).err;
        EXPECT_EQ(err, std::string(message) + "\n") << stored;
        EXPECT_EQ(bindings.scancodes, defaultKeyBindings().scancodes);
    }
}

} // namespace
