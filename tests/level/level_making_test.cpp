// Making a player's level from stems on the job's thread: the finished folder, what a cancel and
// each failure leave behind (nothing), and deleting an own level only inside the levels folder.
#include "level/level_making.hpp"

#include "authoring/authoring_support.hpp"
#include "capture.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <future>

using namespace authoringtest;
namespace fs = std::filesystem;

namespace {

// Two short stems a level can be made of, and one file that is no audio.
void writeStems(const fs::path& folder) {
    fs::create_directories(folder);
    std::vector<float> drums(2 * kRate, 0.0f), lead(2 * kRate, 0.0f);
    for (double t : {0.0, 0.5, 1.0, 1.5}) {
        addClick(drums, t);
    }
    for (double t : {0.25, 1.25}) {
        addNote(lead, t, 0.3, 69);
    }
    writeWav(folder / "drums.wav", drums);
    writeWav(folder / "lead.wav", lead);
    std::ofstream(folder / "broken.ogg") << "this is no Ogg Vorbis file";
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

LevelMakingStatus runToTheEnd(LevelMakingRequest request) {
    std::unique_ptr<LevelMaking> job;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    job = startLevelMaking(std::move(request));
    waitForLevelMaking(*job);
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(levelMakingEnded(*job));
    return levelMakingStatus(*job);
}

struct MakingTest : ::testing::Test {
    TempDir scratch;
    const fs::path stems = scratch.path() / "my_song";
    const fs::path levels = scratch.path() / "data" / "levels";
    LevelMakingRequest request() const {
        LevelMakingRequest r;
        r.sourceFolder = stems.string();
        r.levelsFolder = levels.string();
        r.takenNames = {"Shipped Song"};
        return r;
    }
};

TEST_F(MakingTest, AFinishedLevelHasItsOwnFolderAndNoStagingIsLeft) {
    writeStems(stems);
    fs::create_directories(levels / ".making-left-by-a-crash");
    const LevelMakingStatus made = runToTheEnd(request());
    ASSERT_EQ(made.state, MakingState::Done) << made.message;
    EXPECT_EQ(made.title, "My Song") << "the title comes from the folder's name";
    EXPECT_EQ(made.folder, (levels / "My Song").string());
    EXPECT_EQ(made.stems, (std::vector<std::string>{"broken.ogg", "drums.wav", "lead.wav"}));
    EXPECT_EQ(made.done, std::vector<double>(3, 1.0));
    EXPECT_NE(made.message.find("broken.ogg"), std::string::npos) << "the stem left out is named";
    const nlohmann::json manifest = nlohmann::json::parse(readText(levels / "My Song" / "level.json"));
    const nlohmann::json& meta = manifest.at("songMetaData").at(0);
    EXPECT_EQ(meta.at("title"), "My Song");
    EXPECT_GE(meta.at("difficulty").get<int>(), 1);
    EXPECT_NE(meta.at("description").get<std::string>().find("2 stems"), std::string::npos);
    EXPECT_EQ(manifest.at("stems").size(), 2u);
    EXPECT_EQ(entries(levels), std::vector<std::string>{"My Song"}) << "the crash's staging is gone";
    EXPECT_TRUE(fs::exists(stems / "drums.wav")) << "the source is left as it was";
    EXPECT_FALSE(fs::exists(stems / "level.json"));

    // The same name again is refused; a title that makes the same folder name gets the next one.
    LevelMakingRequest again = request();
    again.takenNames.push_back("my song ");
    EXPECT_EQ(runToTheEnd(again).message, "There is already a level called My Song: choose another title.");
    again.title = "My Song!";
    const LevelMakingStatus second = runToTheEnd(again);
    ASSERT_EQ(second.state, MakingState::Done) << second.message;
    EXPECT_EQ(entries(levels), (std::vector<std::string>{"My Song", "My Song 2"}));
}

TEST_F(MakingTest, ACancelLeavesNoFolderBehind) {
    writeStems(stems);
    // The job waits at its free-space check until the test has cancelled it.
    std::promise<void> reached, cancelled;
    std::shared_future<void> go = cancelled.get_future().share();
    LevelMakingRequest r = request();
    r.freeSpace = [&reached, go](const std::string&) {
        reached.set_value();
        go.wait();
        return std::uintmax_t{1} << 40;
    };
    ::testing::internal::CaptureStdout();
    std::unique_ptr<LevelMaking> job = startLevelMaking(std::move(r));
    reached.get_future().wait();
    EXPECT_FALSE(levelMakingEnded(*job));
    cancelLevelMaking(*job);
    cancelled.set_value();
    waitForLevelMaking(*job);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(levelMakingStatus(*job).state, MakingState::Cancelled);
    EXPECT_TRUE(entries(levels).empty());
}

TEST_F(MakingTest, EachFailureSaysWhyAndLeavesNoFolder) {
    writeStems(stems);
    const fs::path quiet = scratch.path() / "quiet";
    fs::create_directories(quiet);
    std::ofstream(quiet / "notes.txt") << "no stems here";
    struct Case {
        std::string folder;
        std::vector<std::string> files;
        bool fullDisk;
        std::string message;
    } cases[] = {
        {(scratch.path() / "gone").string(),
         {},
         false,
         "The folder " + (scratch.path() / "gone").string() + " does not exist."},
        {quiet.string(), {}, false, noAudioMessage(quiet.string())},
        {"",
         {(quiet / "notes.txt").string()},
         false,
         "None of the files is audio: Vibrelle reads WAV, FLAC, Ogg Vorbis and MP3."},
        {"", {(stems / "broken.ogg").string()}, false, "No stem could be read: broken.ogg: "},
        {stems.string(), {}, true, "The disk is full: the stems need "},
    };
    for (const Case& c : cases) {
        LevelMakingRequest r = request();
        r.sourceFolder = c.folder;
        r.files = c.files;
        r.title = "Anything";
        if (c.fullDisk) {
            r.freeSpace = [](const std::string&) { return std::uintmax_t{4096}; };
        }
        const LevelMakingStatus status = runToTheEnd(r);
        EXPECT_EQ(status.state, MakingState::Failed) << c.message;
        EXPECT_EQ(status.message.rfind(c.message, 0), 0u) << status.message;
        EXPECT_TRUE(entries(levels).empty()) << c.message;
    }
}

TEST_F(MakingTest, OnlyAFolderInsideTheLevelsFolderIsDeleted) {
    fs::create_directories(levels / "Mine");
    fs::create_directories(scratch.path() / "shipped" / "level");
    std::string error;
    for (const fs::path& outside :
         {scratch.path() / "shipped" / "level", levels / "Mine" / ".." / "..", levels, levels / "Missing"}) {
        EXPECT_FALSE(deleteOwnLevelFolder(levels.string(), outside.string(), error)) << outside;
    }
    EXPECT_TRUE(fs::exists(scratch.path() / "shipped" / "level"));
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(deleteOwnLevelFolder(levels.string(), (levels / "Mine").string(), error)) << error;
    ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fs::exists(levels / "Mine"));
}

TEST(LevelFolderName, KeepsSafeCharactersOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"My Song", "My Song"},
        {"a/b\\c:d", "a b c d"},
        {"..hidden", "hidden"},
        {"  spaced  out ", "spaced out"},
        {"Café-Noir_2", "Café-Noir_2"},
        {"???", "Level"},
        {std::string(80, 'x'), std::string(64, 'x')},
    };
    for (const auto& [title, folder] : cases) {
        EXPECT_EQ(levelFolderName(title), folder) << title;
    }
}

} // namespace
