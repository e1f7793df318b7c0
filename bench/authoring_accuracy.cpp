// Accuracy of the auto-charter against known answers: the shipped levels were rendered from
// performance MIDI files, so their true onsets and pitches are known.
//
//   bench_authoring_accuracy TRUTH_DIR LEVEL_DIR [LEVEL_DIR...]
//
// Each LEVEL_DIR holds a song's stems and the level that `vibrelle-level new` wrote there;
// TRUTH_DIR/<folder name>/<stem>.perf.mid is the performance MIDI of each stem (written by
// tools/authoring_accuracy.py). For every stem it compares the raw detections (before the
// playability pass) and the written chart with the truth, counting a match within 50 ms (true
// onsets within 30 ms of each other count as one, times folded onto the loop), and prints
// Markdown tables: precision, recall and F1 per stem and per kind, pitch accuracy on matched
// notes of pitched stems, and hold detection on pad stems.
#include "audio/midi_chart.hpp"
#include "authoring/stem_analysis.hpp"
#include "authoring/stem_audio.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr double kMatchWindow = 0.05;
constexpr double kMergeTruth = 0.03;

struct TruthOnset {
    double time = 0.0;
    std::set<int> keys;
    double longest = 0.0; // longest note that starts here (seconds)
};

struct Found {
    double time = 0.0;
    int key = 0;
    bool hold = false;
    double duration = 0.0;
};

struct Counts {
    int truth = 0, found = 0, matched = 0;
    int pitchChecked = 0, pitchRight = 0;
    void add(const Counts& o) {
        truth += o.truth;
        found += o.found;
        matched += o.matched;
        pitchChecked += o.pitchChecked;
        pitchRight += o.pitchRight;
    }
    double precision() const { return found ? double(matched) / found : 0.0; }
    double recall() const { return truth ? double(matched) / truth : 0.0; }
    double f1() const {
        const double p = precision(), r = recall();
        return p + r > 0 ? 2 * p * r / (p + r) : 0.0;
    }
};

// Loads a chart with the game's loader, whose progress lines are not wanted in the tables.
bool loadChart(const std::string& path, MidiChart& chart) {
    std::cout.flush();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    const bool ok = loadMidiChart(chart, path);
    std::fflush(stdout);
    if (saved >= 0) {
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
    return ok;
}

std::vector<TruthOnset> readTruth(const std::string& path, double loop) {
    MidiChart chart;
    if (!loadChart(path, chart)) {
        return {};
    }
    std::vector<std::pair<double, const MidiNoteEvent*>> ons;
    for (const MidiNoteEvent& n : chart.notes) {
        if (n.isNoteOn) {
            ons.emplace_back(std::fmod(n.time, loop), &n);
        }
    }
    std::sort(ons.begin(), ons.end(), [](auto& a, auto& b) { return a.first < b.first; });
    std::vector<TruthOnset> out;
    for (auto& [t, n] : ons) {
        if (out.empty() || t - out.back().time > kMergeTruth) {
            out.push_back(TruthOnset{t, {}, 0.0});
        }
        out.back().keys.insert(n->note);
        out.back().longest = std::max(out.back().longest, n->duration);
    }
    // A group at the very end of the loop is the same as one at its start.
    if (out.size() > 1 && out.front().time + loop - out.back().time <= kMergeTruth) {
        out.front().keys.insert(out.back().keys.begin(), out.back().keys.end());
        out.pop_back();
    }
    return out;
}

double loopDistance(double a, double b, double loop) {
    const double d = std::fabs(a - b);
    return std::min(d, loop - d);
}

// One-to-one matching, closest pairs first. Returns for each found note the truth index or -1.
std::vector<int> match(const std::vector<TruthOnset>& truth, const std::vector<Found>& found, double loop) {
    std::vector<std::tuple<double, size_t, size_t>> pairs;
    for (size_t f = 0; f < found.size(); ++f) {
        for (size_t t = 0; t < truth.size(); ++t) {
            const double d = loopDistance(found[f].time, truth[t].time, loop);
            if (d <= kMatchWindow) {
                pairs.emplace_back(d, f, t);
            }
        }
    }
    std::sort(pairs.begin(), pairs.end());
    std::vector<int> of(found.size(), -1);
    std::vector<bool> used(truth.size(), false);
    for (auto& [d, f, t] : pairs) {
        if (of[f] < 0 && !used[t]) {
            of[f] = static_cast<int>(t);
            used[t] = true;
        }
    }
    return of;
}

Counts score(const std::vector<TruthOnset>& truth, const std::vector<Found>& found, double loop, bool pitched,
             std::vector<int>* matchOut = nullptr) {
    Counts c;
    c.truth = static_cast<int>(truth.size());
    c.found = static_cast<int>(found.size());
    const std::vector<int> of = match(truth, found, loop);
    for (size_t f = 0; f < found.size(); ++f) {
        if (of[f] < 0) {
            continue;
        }
        ++c.matched;
        if (pitched) {
            ++c.pitchChecked;
            if (truth[static_cast<size_t>(of[f])].keys.count(found[f].key)) {
                ++c.pitchRight;
            }
        }
    }
    if (matchOut) {
        *matchOut = of;
    }
    return c;
}

// Hold detection on a pad stem: matched notes that became holds (raw and written), and, as pads
// often swell in later than the match window allows, true notes with a detected hold starting
// within kLooseHold after them, with the mean error of those holds' lengths.
constexpr double kLooseHold = 0.5;

std::string holdLine(const std::string& stem, const std::vector<TruthOnset>& truth,
                     const std::vector<Found>& raw, const std::vector<int>& rawMatch,
                     const std::vector<Found>& written, const std::vector<int>& writtenMatch, double loop) {
    int matched = 0, holds = 0, writtenMatched = 0, writtenHolds = 0;
    for (size_t f = 0; f < raw.size(); ++f) {
        matched += rawMatch[f] >= 0 ? 1 : 0;
        holds += rawMatch[f] >= 0 && raw[f].hold ? 1 : 0;
    }
    for (size_t f = 0; f < written.size(); ++f) {
        writtenMatched += writtenMatch[f] >= 0 ? 1 : 0;
        writtenHolds += writtenMatch[f] >= 0 && written[f].hold ? 1 : 0;
    }
    int loose = 0;
    double lengthError = 0.0;
    for (const TruthOnset& t : truth) {
        for (const Found& f : raw) {
            const double after = std::fmod(f.time - t.time + loop, loop);
            if (f.hold && after <= kLooseHold) {
                ++loose;
                lengthError += std::fabs((after + f.duration) - t.longest);
                break;
            }
        }
    }
    char line[320];
    std::snprintf(line, sizeof line, "| %s | %zu | %d of %d | %d of %d | %d of %zu | %.2f s |", stem.c_str(),
                  truth.size(), holds, matched, writtenHolds, writtenMatched, loose, truth.size(),
                  loose ? lengthError / loose : 0.0);
    return line;
}

std::string pct(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

// Share of matched notes with the right key; "-" for unpitched stems or nothing matched.
std::string pitchShare(bool pitched, const Counts& c) {
    return pitched && c.pitchChecked > 0 ? pct(double(c.pitchRight) / c.pitchChecked) : "-";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "Usage: bench_authoring_accuracy TRUTH_DIR LEVEL_DIR [LEVEL_DIR...]" << std::endl;
        return 1;
    }
    const fs::path truthRoot = argv[1];
    std::map<std::string, Counts> rawByKind, writtenByKind;
    Counts rawPitch, writtenPitch;
    std::cout
        << "| Stem | Kind | True onsets | Raw P | Raw R | Raw F1 | Written P | Written R | Written F1 | "
           "Pitch (raw) | Pitch (written) |\n|---|---|---|---|---|---|---|---|---|---|---|\n";
    std::vector<std::string> holdLines;
    for (int a = 2; a < argc; ++a) {
        const fs::path levelDir = argv[a];
        const std::string song = levelDir.filename().string();
        std::ifstream manifest(levelDir / "level.json");
        if (!manifest) {
            std::cerr << "No level.json in " << levelDir << std::endl;
            return 1;
        }
        const nlohmann::json doc = nlohmann::json::parse(manifest);
        for (const auto& stem : doc.at("stems")) {
            const std::string file = stem.at("file");
            const std::string name = fs::path(file).stem().string();
            const fs::path truthPath = truthRoot / song / (name + ".perf.mid");
            StemAudio audio;
            std::string error;
            if (!readStemAudio((levelDir / file).string(), audio, error)) {
                std::cerr << file << ": " << error << std::endl;
                return 1;
            }
            const double loop = audio.seconds();
            const std::vector<TruthOnset> truth = readTruth(truthPath.string(), loop);
            if (truth.empty()) {
                std::cerr << "No truth for " << truthPath << std::endl;
                return 1;
            }
            std::string kindName = stem.value("instrument", "");
            kindName = kindName.substr(0, kindName.find(' '));
            StemKind kind = classifyStemName(file);
            parseStemKind(kindName, kind);
            StemAnalysis analysis;
            analyzeStem(audio, kind, analysis, error);
            std::vector<Found> raw;
            for (const DetectedNote& n : analysis.notes) {
                raw.push_back({n.time, n.key, n.hold, n.duration});
            }
            std::vector<Found> written;
            MidiChart chart;
            if (loadChart((levelDir / stem.at("midi").get<std::string>()).string(), chart)) {
                for (const MidiNoteEvent& n : chart.notes) {
                    if (n.isNoteOn) {
                        written.push_back({n.time, n.note, n.channel == 1, n.duration});
                    }
                }
            }
            const bool pitched = isPitched(kind);
            std::vector<int> rawMatch, writtenMatch;
            const Counts r = score(truth, raw, loop, pitched, &rawMatch);
            const Counts w = score(truth, written, loop, pitched, &writtenMatch);
            rawByKind[stemKindName(kind)].add(r);
            writtenByKind[stemKindName(kind)].add(w);
            if (pitched) {
                rawPitch.add(r);
                writtenPitch.add(w);
            }
            std::cout << "| " << song << "/" << name << " | " << stemKindName(kind) << " | " << truth.size()
                      << " | " << pct(r.precision()) << " | " << pct(r.recall()) << " | " << pct(r.f1())
                      << " | " << pct(w.precision()) << " | " << pct(w.recall()) << " | " << pct(w.f1())
                      << " | " << pitchShare(pitched, r) << " | " << pitchShare(pitched, w) << " |\n";
            if (kind == StemKind::Pad) {
                holdLines.push_back(
                    holdLine(song + "/" + name, truth, raw, rawMatch, written, writtenMatch, loop));
            }
        }
    }
    std::cout << "\n| Kind | Raw P | Raw R | Raw F1 | Written P | Written R | Written F1 |\n"
                 "|---|---|---|---|---|---|---|\n";
    for (const auto& [kind, r] : rawByKind) {
        const Counts& w = writtenByKind[kind];
        std::cout << "| " << kind << " | " << pct(r.precision()) << " | " << pct(r.recall()) << " | "
                  << pct(r.f1()) << " | " << pct(w.precision()) << " | " << pct(w.recall()) << " | "
                  << pct(w.f1()) << " |\n";
    }
    std::cout << "\nPitch on matched notes of pitched stems: raw " << rawPitch.pitchRight << " of "
              << rawPitch.pitchChecked << " ("
              << pct(double(rawPitch.pitchRight) / std::max(1, rawPitch.pitchChecked)) << "), written "
              << writtenPitch.pitchRight << " of " << writtenPitch.pitchChecked << " ("
              << pct(double(writtenPitch.pitchRight) / std::max(1, writtenPitch.pitchChecked)) << ")\n";
    std::cout << "\n| Pad stem | True notes | Raw holds of matched | Written holds of matched | "
                 "Holds starting within 0.5 s of a true note | Mean error of their end |\n"
                 "|---|---|---|---|---|---|\n";
    for (const std::string& line : holdLines) {
        std::cout << line << "\n";
    }
    return 0;
}
