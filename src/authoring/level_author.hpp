#pragma once
// Making a level package from a folder of stems: every stem audio file gets a chart (.mid) next to
// it, the folder gets a level.json that lists the stems rhythm first (drums, bass, then pads and
// chord parts, then melodic lines; by file name within each group), and an entry for
// levels/levels.json is produced for the author to paste. This is the `vibrelle-level new` command.
#include "authoring/playability.hpp"
#include "authoring/stem_analysis.hpp"

#include <atomic>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

// Following and stopping authorLevel from another thread. The caller owns it and keeps it alive
// for the whole call.
struct AuthorProgress {
    // Set from any thread to stop: authorLevel returns false ("cancelled") at its next check,
    // which comes at least every few milliseconds of work, and writes nothing after it.
    std::atomic<bool> cancel{false};
    // Called on authorLevel's thread as stem `stem` (an index into findStemFiles's list) is read and
    // analysed, with the share of that stem done (0..1; 1 once it is finished or left out). Each
    // stem is reported at its start and end and several times a second in between. May be empty.
    std::function<void(std::size_t stem, double done)> onStem;
};

struct AuthorOptions {
    std::string directory;                               // the folder of stems; the level is written there
    double bpm = 0.0;                                    // the song's tempo; 0: estimate it
    std::string title;                                   // empty: made from the folder's name
    std::vector<std::pair<std::string, StemKind>> kinds; // overrides: file name (with or without extension)
    bool force = false;                                  // replace an existing level.json and charts
    AuthorProgress* progress = nullptr;                  // progress and cancel, or none
};

// One charted stem, in level order.
struct AuthoredStem {
    std::string file;  // audio file name in the folder
    std::string chart; // chart file name written beside it
    StemKind kind = StemKind::Melodic;
    double seconds = 0.0;
    int detected = 0; // onsets found before the playability pass
    int notes = 0;    // circles written
    int holds = 0;    // of which holds
};

struct AuthorResult {
    double bpm = 0.0;
    bool bpmEstimated = false;
    std::vector<AuthoredStem> stems;
    std::vector<std::string> skipped; // stems that could not be read, "file: reason"
    PlayabilityReport playability;
    std::string levelsEntry;   // one flat JSON object for levels/levels.json
    double audioSeconds = 0.0; // audio charted
    double elapsedSeconds = 0.0;
    bool cancelled = false;  // stopped through AuthorProgress::cancel
    int difficulty = 1;      // the game's difficulty, as written into level.json and the entry
    std::string description; // the level's description, likewise
    std::string title;       // the level's name in level.json
};

// True when `path` names stem audio by its extension: .wav, .flac, .ogg or .mp3, any case.
bool isStemAudioPath(const std::string& path);

// The file names in `directory` that are stem audio (.wav, .flac, .ogg, .mp3, any case), sorted.
std::vector<std::string> findStemFiles(const std::string& directory);

// A level title from a folder name: separators become spaces, words start with a capital.
std::string titleFromFolder(const std::string& folder);

// The game's difficulty (1..5) of a level with `circles` circles per loop of `loopSeconds`.
int difficultyFor(int circles, double loopSeconds);

// Does the whole job. Progress and summary lines go to `out`, problems to `err` (each line
// starting with "vibrelle-level: "). A stem that cannot be read is reported and left out, and the
// level is made of the others. False, with nothing written, when the folder is missing or holds
// no stem, no stem can be read, an override names no stem, or (without `force`) level.json or a
// chart would be replaced; false also when writing fails, and when options.progress asks to
// cancel ("vibrelle-level: cancelled", result.cancelled; charts already written are not removed).
// level.json's songMetaData[0] carries the title, tempo and loop length, and the difficulty and
// description of the levels.json entry, so that the folder alone lists the level.
bool authorLevel(const AuthorOptions& options, AuthorResult& result, std::ostream& out, std::ostream& err);
