// vibrelle-level as an author runs it: on folders of synthetic stems with bad input among them,
// and end to end on a copy of a shipped song's stems, whose level the game's loader must accept
// and the autoplay bot must play through the game's own rules without a miss.
#include "authoring/level_author.hpp"
#include "authoring_support.hpp"
#include "game/game_test_support.hpp"
#include "level/level_manifest.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <sys/wait.h>

using namespace authoringtest;
using namespace gametest;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status = -1;
    std::string out, err;
};

// Runs vibrelle-level with `arguments` (already quoted where needed), its home pointed at a
// temporary folder.
ToolRun runTool(const TempDir& scratch, const std::string& arguments) {
    const fs::path out = scratch.path() / "tool.out", err = scratch.path() / "tool.err";
    const std::string command = "XDG_DATA_HOME='" + scratch.path().string() + "' '" VIBRELLE_LEVEL_TOOL "' " +
                                arguments + " >'" + out.string() + "' 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(out), readText(err)};
}

// The stems of a manifest in level order: (file, midi, instrument).
std::vector<std::vector<std::string>> manifestStems(const fs::path& manifest) {
    std::vector<std::vector<std::string>> stems;
    const nlohmann::json doc = nlohmann::json::parse(readText(manifest));
    for (const auto& stem : doc.at("stems")) {
        stems.push_back({stem.at("file"), stem.at("midi"), stem.at("instrument")});
    }
    return stems;
}

} // namespace

TEST(LevelTool, BadInputIsReportedAndTheRestIsWritten) {
    TempDir scratch;
    const fs::path empty = scratch.path() / "empty";
    fs::create_directories(empty);
    std::ofstream(empty / "notes.txt") << "not a stem";

    const fs::path mixed = scratch.path() / "mixed";
    fs::create_directories(mixed);
    std::ofstream(mixed / "drums.ogg") << "this is no Ogg Vorbis file";
    std::vector<float> lead(2 * kRate, 0.0f);
    for (double t : {0.2, 0.7, 1.2}) {
        addClick(lead, t);
    }
    writeWav(mixed / "lead.wav", lead);
    writeWav(mixed / "quiet_pad.wav", std::vector<float>(2 * kRate, 0.0f));
    writeWav(mixed / "b\xff"
                     "ss.wav",
             lead); // a name level.json cannot hold

    const struct {
        const char* name;
        std::string arguments;
        int status;
        const char* errorText; // in standard error
    } cases[] = {
        {"an empty folder", "new '" + empty.string() + "'", 1, "no stem audio files"},
        {"a missing folder", "new '" + (scratch.path() / "nowhere").string() + "'", 1, "not a folder"},
        {"no command", "'" + mixed.string() + "'", 1, "Usage: vibrelle-level new DIR"},
        {"a kind for no stem", "new '" + mixed.string() + "' --kind bass=drums", 1,
         "--kind bass: no such stem"},
        {"an unreadable stem", "new '" + mixed.string() + "' --bpm 100 --kind lead=drums", 0,
         "skipping drums.ogg"},
        {"a stem name that is not UTF-8", "new '" + mixed.string() + "' --force --bpm 100 --kind lead=drums",
         0, "the file name is not UTF-8"},
        {"a second run", "new '" + mixed.string() + "'", 1,
         "already has level.json, lead.mid, quiet_pad.mid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = runTool(scratch, c.arguments);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE(run.err.find(c.errorText), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(empty / "level.json"));

    // The readable stems made the level: the override turned the lead into drums (first), the
    // silent pad got an empty chart.
    const auto stems = manifestStems(mixed / "level.json");
    ASSERT_EQ(stems.size(), 2u);
    EXPECT_EQ(stems[0], (std::vector<std::string>{"lead.wav", "lead.mid", "drums (auto-charted)"}));
    EXPECT_EQ(stems[1], (std::vector<std::string>{"quiet_pad.wav", "quiet_pad.mid", "pad (auto-charted)"}));
    EXPECT_FALSE(fs::exists(mixed / "drums.mid"));
    MidiChart silent;
    bool loaded = false;
    stdoutOf([&] { loaded = loadMidiChart(silent, (mixed / "quiet_pad.mid").string()); });
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(silent.notes.empty());
    EXPECT_NEAR(silent.midiBpm, 100.0, 0.01) << "--bpm is the chart's tempo";

    // Titles are written as UTF-8 whatever bytes they came as.
    const ToolRun forced = runTool(scratch, "new '" + mixed.string() +
                                                "' --force --title \"$(printf 'Say \\042hi\\042 \\376')\"");
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.out.find("lead.wav"), std::string::npos);
    EXPECT_NE(forced.out.find("3 notes,    0 holds"), std::string::npos) << forced.out;
    // The entry for levels.json is one flat object without double quotes inside its values.
    const auto parsed = nlohmann::json::parse(forced.out.substr(forced.out.rfind('{')));
    EXPECT_EQ(parsed.at("name"), "Say 'hi' \xEF\xBF\xBD");
    EXPECT_EQ(nlohmann::json::parse(readText(mixed / "level.json"))["songMetaData"][0]["title"],
              "Say \"hi\" \xEF\xBF\xBD");
    EXPECT_EQ(parsed.at("file"), "mixed");
    // level.json alone lists the level: it carries the entry's difficulty and description too.
    const nlohmann::json meta = nlohmann::json::parse(readText(mixed / "level.json"))["songMetaData"][0];
    EXPECT_EQ(meta.at("difficulty"), parsed.at("difficulty"));
    EXPECT_EQ(meta.at("description"), parsed.at("description"));
}

TEST(LevelTool, AShippedSongsStemsBecomeALevelTheBotPlaysWithoutAMiss) {
    TempDir scratch;
    const fs::path song = scratch.path() / "first_light";
    fs::create_directories(song);
    for (const char* stem : {"brushes.ogg", "melody.flac", "pad.ogg"}) {
        fs::copy_file(fs::path(VIBRELLE_ASSETS) / "levels" / "tutorialsong" / stem, song / stem);
    }
    const ToolRun run = runTool(scratch, "new '" + song.string() + "'");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Tempo 84 BPM (estimated)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"file\":\"first_light\""), std::string::npos) << run.out;
    const auto stems = manifestStems(song / "level.json");
    ASSERT_EQ(stems.size(), 3u);
    EXPECT_EQ(stems[0][0], "brushes.ogg") << "rhythm first";

    AudioSystem audio;
    RenderState render;
    bool loaded = false;
    const std::string loadErrors = stderrOf([&] {
        stdoutOf([&] {
            loaded = audioInit(audio, AudioBackend::NullDriver) &&
                     loadLevelFromManifest((song / "level.json").string(), audio, render);
        });
    });
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loadErrors, "");
    ASSERT_EQ(audio.stems.size(), 3u);
    size_t charted = 0;
    for (const LoadedStem& stem : audio.stems) {
        EXPECT_TRUE(stem.chart.loaded) << stem.name;
        charted += stem.chart.notes.size();
        EXPECT_NEAR(stem.chart.midiBpm, audio.bpm, 0.01) << "no rescaling";
    }
    EXPECT_GT(charted, 100u);

    // Three passes of the 23-second loop, starting from the first stem as a round does.
    audio.playing = true;
    audio.stems[0].active = true;
    GameState game = playingGame();
    game.totalLayers = static_cast<int>(audio.stems.size());
    const std::string log = stdoutOf([&] { stderrOf([&] { playWithBot(audio, game, 70.0); }); });
    EXPECT_EQ(log.find("Miss registered"), std::string::npos);
    EXPECT_EQ(game.missStreak, 0u);
    EXPECT_EQ(game.activeLayers, 3) << "the run of hits brought in every stem";
    EXPECT_GT(game.highestCombo, 150);
    audio.playing = false;
    audioShutdown(audio);
}

// The progress a caller on another thread sees: each stem from 0 to 1, rising, several times on a
// long stem; and a cancel stops the work between two reports, with no level.json written.
TEST(LevelAuthor, ReportsEachStemsProgressAndStopsOnCancel) {
    TempDir scratch;
    std::vector<float> lead(30 * kRate, 0.0f), drums(2 * kRate, 0.0f);
    for (int beat = 0; beat < 60; ++beat) {
        addNote(lead, beat * 0.5, 0.2, 60 + beat % 12);
    }
    addClick(drums, 0.5);
    writeWav(scratch.path() / "drums.wav", drums);
    writeWav(scratch.path() / "lead.wav", lead);

    AuthorProgress progress;
    std::vector<std::vector<double>> reports(2);
    progress.onStem = [&](size_t stem, double done) { reports.at(stem).push_back(done); };
    AuthorOptions options;
    options.directory = scratch.path().string();
    options.progress = &progress;
    AuthorResult result;
    std::ostringstream out, err;
    ASSERT_TRUE(authorLevel(options, result, out, err)) << err.str();
    for (const std::vector<double>& stem : reports) {
        ASSERT_FALSE(stem.empty());
        EXPECT_EQ(stem.front(), 0.0);
        EXPECT_EQ(stem.back(), 1.0);
        EXPECT_TRUE(std::is_sorted(stem.begin(), stem.end()));
    }
    EXPECT_GT(reports[1].size(), 8u) << "the long stem's bar moves while it is charted";

    fs::remove(scratch.path() / "level.json");
    options.force = true;
    reports.assign(2, {});
    progress.onStem = [&](size_t stem, double done) {
        reports.at(stem).push_back(done);
        progress.cancel = stem == 1 && done > 0.3;
    };
    EXPECT_FALSE(authorLevel(options, result, out, err));
    EXPECT_TRUE(result.cancelled);
    EXPECT_NE(err.str().find("vibrelle-level: cancelled\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(scratch.path() / "level.json"));
    EXPECT_LT(reports[1].back(), 0.6) << "stopped soon after the cancel";
}
