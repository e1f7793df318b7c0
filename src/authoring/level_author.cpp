#include "authoring/level_author.hpp"

#include "authoring/chart_writer.hpp"
#include "authoring/stem_audio.hpp"
#include "authoring/tempo.hpp"
#include "base/json_text.hpp"
#include "base/utf8.hpp"
#include "game/game_rules.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <set>

namespace fs = std::filesystem;

namespace {

// The game plays at most this many stems of a level.
constexpr size_t kPlayedStems = 8;
// Stems whose lengths differ by more than this do not loop together (seconds).
constexpr double kLengthTolerance = 0.01;

struct Look {
    float color[3];
    float base, peak, lerpSpeed;
};

// Colours and background animation by kind; stems of one kind take the colours in turn.
const std::vector<Look>& looksFor(StemKind kind) {
    static const std::map<StemKind, std::vector<Look>> looks = {
        {StemKind::Drums,
         {{{1.0f, 0.22f, 0.62f}, 1.0f, 2.6f, 26.0f}, {{1.0f, 0.42f, 0.18f}, 1.0f, 2.3f, 28.0f}}},
        {StemKind::Bass,
         {{{0.2f, 0.42f, 1.0f}, 1.0f, 2.2f, 16.0f}, {{0.36f, 0.3f, 0.9f}, 1.0f, 2.1f, 16.0f}}},
        {StemKind::Pad, {{{0.2f, 1.0f, 0.6f}, 1.2f, 1.6f, 5.0f}, {{0.5f, 0.95f, 0.8f}, 1.2f, 1.6f, 6.0f}}},
        {StemKind::Melodic,
         {{{1.0f, 0.76f, 0.1f}, 1.0f, 2.0f, 18.0f},
          {{0.0f, 0.9f, 1.0f}, 0.9f, 1.7f, 30.0f},
          {{0.68f, 0.3f, 1.0f}, 1.0f, 1.9f, 12.0f},
          {{0.92f, 0.88f, 1.0f}, 1.0f, 1.8f, 9.0f}}},
    };
    return looks.at(kind);
}

// A melodic stem that mostly sounds chords is part of the harmony, not a lead.
constexpr double kHarmonicChordShare = 0.5;

// Rhythm first: drums, bass, the harmony (pads and chord parts), then the melodic lines.
int levelRank(StemKind kind, double chordShare) {
    switch (kind) {
    case StemKind::Drums:
        return 0;
    case StemKind::Bass:
        return 1;
    case StemKind::Pad:
        return 2;
    case StemKind::Melodic:
        return chordShare >= kHarmonicChordShare ? 2 : 3;
    }
    return 3;
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The game reads the level list with fixed pattern shapes that end a value at its first double
// quote and decode no escapes; keep both out.
std::string listSafe(std::string text) {
    std::replace(text.begin(), text.end(), '"', '\'');
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

struct Analysed {
    std::string file;
    StemKind kind = StemKind::Melodic;
    StemAnalysis analysis;
};

// True (and the cancel reported) once the caller has asked to stop.
bool cancelled(const AuthorOptions& options, AuthorResult& result, std::ostream& err) {
    if (options.progress == nullptr || !options.progress->cancel.load()) {
        return false;
    }
    err << "vibrelle-level: cancelled" << std::endl;
    result.cancelled = true;
    return true;
}

// Reading is about a fifth of a stem's time, the analysis the rest.
constexpr double kReadShare = 0.2;

bool writeText(const fs::path& path, const std::string& text, std::ostream& err) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.flush();
    if (!file) {
        err << "vibrelle-level: cannot write " << path.string() << std::endl;
        return false;
    }
    return true;
}

} // namespace

bool isStemAudioPath(const std::string& path) {
    static const std::set<std::string> extensions = {".wav", ".flac", ".ogg", ".mp3"};
    return extensions.count(lowerCase(fs::path(path).extension().string())) > 0;
}

std::vector<std::string> findStemFiles(const std::string& directory) {
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError) && isStemAudioPath(it->path().string())) {
            files.push_back(it->path().filename().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string titleFromFolder(const std::string& folder) {
    std::string title;
    bool startOfWord = true;
    for (char c : folder) {
        if (c == '_' || c == '-' || c == ' ' || c == '.') {
            if (!title.empty() && title.back() != ' ') {
                title += ' ';
            }
            startOfWord = true;
            continue;
        }
        title += startOfWord ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        startOfWord = false;
    }
    while (!title.empty() && title.back() == ' ') {
        title.pop_back();
    }
    return title.empty() ? "New Level" : title;
}

int difficultyFor(int circles, double loopSeconds) {
    const double rate = loopSeconds > 0.0 ? circles / loopSeconds : 0.0;
    if (rate < 2.0) {
        return 1;
    }
    if (rate < 3.5) {
        return 2;
    }
    if (rate < 5.0) {
        return 3;
    }
    return rate < 7.0 ? 4 : 5;
}

bool authorLevel(const AuthorOptions& options, AuthorResult& result, std::ostream& out, std::ostream& err) {
    const auto started = std::chrono::steady_clock::now();
    result = AuthorResult{};
    const fs::path dir = options.directory;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        err << "vibrelle-level: not a folder: " << options.directory << std::endl;
        return false;
    }
    const std::vector<std::string> files = findStemFiles(options.directory);
    if (files.empty()) {
        err << "vibrelle-level: no stem audio files (.wav, .flac, .ogg, .mp3) in " << options.directory
            << std::endl;
        return false;
    }

    // Kinds, with the overrides checked against the files.
    std::map<std::string, StemKind> kinds;
    for (const std::string& file : files) {
        kinds[file] = classifyStemName(file);
    }
    for (const auto& [name, kind] : options.kinds) {
        bool used = false;
        for (const std::string& file : files) {
            if (file == name || fs::path(file).stem().string() == name) {
                kinds[file] = kind;
                used = true;
            }
        }
        if (!used) {
            err << "vibrelle-level: --kind " << name << ": no such stem in " << options.directory
                << std::endl;
            return false;
        }
    }

    // Chart names: the stem's name with .mid, or its whole file name when two stems share a name.
    std::map<std::string, std::string> charts;
    std::map<std::string, int> stemNames;
    for (const std::string& file : files) {
        ++stemNames[fs::path(file).stem().string()];
    }
    for (const std::string& file : files) {
        const std::string stem = fs::path(file).stem().string();
        charts[file] = (stemNames[stem] > 1 ? file : stem) + ".mid";
    }
    if (!options.force) {
        std::vector<std::string> existing;
        if (fs::exists(dir / "level.json", ec)) {
            existing.push_back("level.json");
        }
        for (const std::string& file : files) {
            if (fs::exists(dir / charts[file], ec)) {
                existing.push_back(charts[file]);
            }
        }
        if (!existing.empty()) {
            std::string list;
            for (const std::string& name : existing) {
                list += (list.empty() ? "" : ", ") + name;
            }
            err << "vibrelle-level: " << options.directory << " already has " << list
                << "; use --force to replace them" << std::endl;
            return false;
        }
    }

    // Analysis, one stem at a time: only its notes and onset curve are kept.
    std::vector<Analysed> analysed;
    AuthorProgress* const progress = options.progress;
    for (size_t i = 0; i < files.size(); ++i) {
        if (cancelled(options, result, err)) {
            return false;
        }
        const std::string& file = files[i];
        // Each step's share, scaled into the stem's bar; the answer carries the cancel back down.
        const auto stepProgress = [&](double from, double span) -> StepProgress {
            if (progress == nullptr) {
                return {};
            }
            return [progress, i, from, span](double done) {
                if (progress->onStem) {
                    progress->onStem(i, from + span * std::clamp(done, 0.0, 1.0));
                }
                return !progress->cancel.load();
            };
        };
        if (progress != nullptr && progress->onStem) {
            progress->onStem(i, 0.0);
        }
        const StemKind kind = kinds[file];
        out << "[" << (i + 1) << "/" << files.size() << "] " << file << " (" << stemKindName(kind) << ")"
            << std::endl;
        StemAudio audio;
        std::string error;
        Analysed stem;
        stem.file = file;
        stem.kind = kind;
        // JSON text is UTF-8: a file name that is not cannot be written into level.json so that
        // the game finds the file again.
        if (!isValidUtf8(file)) {
            error = "the file name is not UTF-8, which level.json cannot name; rename the file";
        }
        const bool read =
            error.empty() &&
            readStemAudio((dir / file).string(), audio, error, stepProgress(0.0, kReadShare)) &&
            analyzeStem(audio, kind, stem.analysis, error, stepProgress(kReadShare, 1.0 - kReadShare));
        if (cancelled(options, result, err)) {
            return false;
        }
        if (progress != nullptr && progress->onStem) {
            progress->onStem(i, 1.0);
        }
        if (!read) {
            err << "vibrelle-level: skipping " << file << ": " << error << std::endl;
            result.skipped.push_back(file + ": " + error);
            continue;
        }
        result.audioSeconds += stem.analysis.seconds;
        analysed.push_back(std::move(stem));
    }
    if (analysed.empty()) {
        err << "vibrelle-level: no stem could be read; nothing was written" << std::endl;
        return false;
    }
    std::stable_sort(analysed.begin(), analysed.end(), [](const Analysed& a, const Analysed& b) {
        return levelRank(a.kind, a.analysis.chordShare) < levelRank(b.kind, b.analysis.chordShare);
    });

    const double loopSeconds = analysed.front().analysis.seconds;
    for (const Analysed& stem : analysed) {
        if (std::fabs(stem.analysis.seconds - loopSeconds) > kLengthTolerance) {
            err << "vibrelle-level: warning: " << stem.file << " is " << stem.analysis.seconds
                << " s long and " << analysed.front().file << " " << loopSeconds
                << " s; stems loop together only when their lengths are equal" << std::endl;
        }
    }
    if (analysed.size() > kPlayedStems) {
        err << "vibrelle-level: warning: the game plays the first " << kPlayedStems << " stems of a level; "
            << analysed.size() - kPlayedStems << " more are listed but never heard" << std::endl;
    }

    if (options.bpm > 0.0) {
        result.bpm = options.bpm;
    } else {
        std::vector<const std::vector<float>*> curves;
        for (const Analysed& stem : analysed) {
            curves.push_back(&stem.analysis.onsetCurve);
        }
        result.bpm = estimateTempo(curves, analysed.front().analysis.frameRate);
        result.bpmEstimated = true;
    }

    PlayabilityRules rules;
    rules.loopSeconds = loopSeconds;
    rules.maxCircles = kMaxCircles;
    std::vector<std::vector<DetectedNote>> detected;
    for (const Analysed& stem : analysed) {
        detected.push_back(stem.analysis.notes);
    }
    const std::vector<std::vector<ChartNote>> placed = makePlayable(detected, rules, &result.playability);

    if (cancelled(options, result, err)) {
        return false;
    }
    fs::path folder = fs::absolute(dir).lexically_normal();
    if (folder.filename().empty()) {
        folder = folder.parent_path(); // the path ended in '/'
    }
    const std::string folderName = folder.filename().string();
    const std::string title =
        withUtf8Replacements(options.title.empty() ? titleFromFolder(folderName) : options.title);
    nlohmann::ordered_json stems = nlohmann::ordered_json::array();
    std::map<StemKind, size_t> looksUsed;
    int circles = 0;
    for (size_t i = 0; i < analysed.size(); ++i) {
        const Analysed& stem = analysed[i];
        AuthoredStem authored;
        authored.file = stem.file;
        authored.chart = charts[stem.file];
        authored.kind = stem.kind;
        authored.seconds = stem.analysis.seconds;
        authored.detected = static_cast<int>(stem.analysis.notes.size());
        authored.notes = static_cast<int>(placed[i].size());
        for (const ChartNote& note : placed[i]) {
            authored.holds += note.hold ? 1 : 0;
        }
        circles += authored.notes;
        std::string error;
        const std::string name = title + " " + fs::path(stem.file).stem().string();
        if (!writeChartMidi((dir / authored.chart).string(), placed[i], result.bpm, name, error)) {
            err << "vibrelle-level: " << error << std::endl;
            return false;
        }
        const std::vector<Look>& looks = looksFor(stem.kind);
        const Look& look = looks[looksUsed[stem.kind]++ % looks.size()];
        nlohmann::ordered_json entry;
        entry["file"] = stem.file;
        entry["midi"] = authored.chart;
        entry["startOrder"] = i;
        entry["playsNotes"] = true;
        entry["instrument"] = std::string(stemKindName(stem.kind)) + " (auto-charted)";
        entry["animation"] = {{"base", look.base}, {"peak", look.peak}, {"lerpSpeed", look.lerpSpeed}};
        entry["color"] = {look.color[0], look.color[1], look.color[2]};
        stems.push_back(entry);
        result.stems.push_back(authored);
    }
    const double bpm = std::round(result.bpm * 100.0) / 100.0;
    char description[160];
    std::snprintf(description, sizeof description, "Auto-charted from %zu stems at %.0f BPM.",
                  analysed.size(), result.bpm);
    result.title = title;
    result.difficulty = difficultyFor(circles, loopSeconds);
    result.description = description;
    nlohmann::ordered_json manifest;
    manifest["songMetaData"] =
        nlohmann::ordered_json::array({{{"title", title},
                                        {"artist", ""},
                                        {"bpm", bpm},
                                        {"loopSeconds", std::round(loopSeconds * 1000.0) / 1000.0},
                                        {"difficulty", result.difficulty},
                                        {"description", result.description}}});
    manifest["stems"] = stems;
    if (!writeText(dir / "level.json", manifest.dump(2) + "\n", err)) {
        return false;
    }

    nlohmann::ordered_json listed;
    listed["name"] = listSafe(title);
    listed["file"] = listSafe(folderName);
    listed["difficulty"] = result.difficulty;
    listed["description"] = result.description;
    result.levelsEntry = listed.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);

    for (const AuthoredStem& stem : result.stems) {
        char line[512];
        std::snprintf(line, sizeof line, "%-24s %-8s %5d notes, %4d holds  (%d onsets found)  -> %s",
                      stem.file.c_str(), stemKindName(stem.kind), stem.notes, stem.holds, stem.detected,
                      stem.chart.c_str());
        out << line << std::endl;
    }
    const PlayabilityReport& p = result.playability;
    out << "Tempo " << bpm << " BPM" << (result.bpmEstimated ? " (estimated)" : "")
        << "; left out for playability: " << p.thinned << " too close on one stem, " << p.crowded
        << " with no clear place on screen, " << p.overLimit << " over the circle limit" << std::endl;
    result.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char speed[160];
    std::snprintf(speed, sizeof speed, "Charted %.1f s of audio in %.1f s (%.0f s of audio per second)",
                  result.audioSeconds, result.elapsedSeconds,
                  result.audioSeconds / std::max(result.elapsedSeconds, 1e-6));
    out << speed << std::endl;
    out << "Wrote " << (dir / "level.json").string() << ". Entry for levels/levels.json:" << std::endl;
    out << result.levelsEntry << std::endl;
    return true;
}
