// vibrelle-chart: shows a MIDI chart as the game sees it.
//
//   vibrelle-chart [--bpm B] FILE
//
// Loads FILE with the game's own chart loader (and scales it to B BPM when given, as a level with
// that BPM does) and prints one JSON object on standard output:
//   {"file", "midiBpm", "notes": [{"time", "duration", "tick", "note", "velocity", "pan",
//                                  "channel", "on"}, ...]}
// with the notes in chart order and times in seconds at full precision. The loader's log lines
// go to standard error, so standard output holds the JSON alone. Exit status 0 on success, 1 when
// the file is refused or the arguments are wrong.
#include "audio/midi_chart.hpp"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

void printUsage(std::ostream& to = std::cerr) { to << "Usage: vibrelle-chart [--bpm B] FILE" << std::endl; }

void printHelp() {
    printUsage(std::cout);
    std::cout << "Shows a MIDI chart as Vibrelle sees it: loads FILE with the game's own chart loader and\n"
                 "prints one JSON object with its notes, in chart order, times in seconds.\n"
                 "  --bpm B      scale the chart to B beats a minute, as a level with that tempo does\n"
                 "  -h, --help   print this help and exit\n"
                 "The loader's log lines go to standard error. Exit status 0 on success, 1 when the file is\n"
                 "refused or the arguments are wrong.\n";
}

// Sends everything written to standard output to standard error until restored, so that the
// loader's log lines cannot mix with the JSON.
struct StdoutToStderr {
    int saved = -1;
    StdoutToStderr() {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        if (saved >= 0) {
            dup2(STDERR_FILENO, STDOUT_FILENO);
        }
    }
    ~StdoutToStderr() {
        std::fflush(stdout);
        if (saved >= 0) {
            dup2(saved, STDOUT_FILENO);
            close(saved);
        }
    }
};

bool parseBpm(const char* text, float& bpm) {
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value) || value <= 0.0f) {
        return false;
    }
    bpm = value;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool haveBpm = false;
    float bpm = 0.0f;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--bpm") {
            if (i + 1 >= argc || !parseBpm(argv[i + 1], bpm)) {
                std::cerr << "vibrelle-chart: --bpm needs a positive number" << std::endl;
                printUsage();
                return 1;
            }
            haveBpm = true;
            ++i;
        } else if (arg == "-h" || arg == "--help") {
            printHelp();
            return 0;
        } else if (file.empty() && (arg.empty() || arg[0] != '-' || arg == "-")) {
            file = arg;
        } else {
            std::cerr << "vibrelle-chart: unexpected argument: " << arg << std::endl;
            printUsage();
            return 1;
        }
    }
    if (file.empty()) {
        printUsage();
        return 1;
    }

    MidiChart chart;
    {
        StdoutToStderr redirect;
        if (!loadMidiChart(chart, file)) {
            return 1;
        }
        if (haveBpm) {
            scaleChartToBpm(chart, bpm);
        }
    }

    nlohmann::ordered_json notes = nlohmann::ordered_json::array();
    for (const MidiNoteEvent& note : chart.notes) {
        notes.push_back({{"time", note.time},
                         {"duration", note.duration},
                         {"tick", note.tick},
                         {"note", note.note},
                         {"velocity", note.velocity},
                         {"pan", note.pan},
                         {"channel", note.channel},
                         {"on", note.isNoteOn}});
    }
    nlohmann::ordered_json out;
    out["file"] = chart.midiPath;
    out["midiBpm"] = static_cast<double>(chart.midiBpm);
    out["notes"] = std::move(notes);
    // Paths need not be UTF-8; replace what JSON cannot carry rather than fail.
    std::cout << out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
    return std::cout.good() ? 0 : 1;
}
