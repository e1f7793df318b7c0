// vibrelle-level: turns a folder of stems into a playable level.
//
//   vibrelle-level new DIR [--bpm B] [--title T] [--kind NAME=KIND]... [--force]
//
// Charts every stem audio file (WAV, FLAC, OGG, MP3) in DIR: a <stem>.mid beside each, and
// DIR/level.json with the stems rhythm first. Prints a progress line per stem, a summary line per
// stem (notes and holds), and the entry to paste into levels/levels.json. KIND is drums, bass, pad
// or melodic; NAME is a stem's file name, with or without its extension. --force replaces an
// existing level.json and charts. Exit status 0 when the level was written, 1 otherwise.
#include "authoring/level_author.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

void printUsage(std::ostream& out) {
    out << "Usage: vibrelle-level new DIR [--bpm B] [--title T] [--kind NAME=KIND]... [--force]\n"
           "Charts the stems (WAV, FLAC, OGG, MP3) in DIR and writes a Vibrelle level there.\n"
           "  --bpm B           the song's tempo (estimated when not given)\n"
           "  --title T         the level's name (default: from the folder's name)\n"
           "  --kind NAME=KIND  treat stem NAME as drums, bass, pad or melodic\n"
           "  --force           replace an existing level.json and charts\n"
           "  -h, --help        print this help and exit"
        << std::endl;
}

bool parseBpm(const std::string& text, double& bpm) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || errno != 0 || !std::isfinite(value) || value < 20.0 ||
        value > 400.0) {
        return false;
    }
    bpm = value;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
        printUsage(std::cout);
        return 0;
    }
    if (argc < 3 || std::string(argv[1]) != "new") {
        printUsage(std::cerr);
        return 1;
    }
    AuthorOptions options;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--bpm") {
            if (!hasValue || !parseBpm(argv[i + 1], options.bpm)) {
                std::cerr << "vibrelle-level: --bpm needs a tempo from 20 to 400" << std::endl;
                return 1;
            }
            ++i;
        } else if (arg == "--title") {
            if (!hasValue || std::string(argv[i + 1]).empty()) {
                std::cerr << "vibrelle-level: --title needs a name" << std::endl;
                return 1;
            }
            options.title = argv[++i];
        } else if (arg == "--kind") {
            const std::string value = hasValue ? argv[i + 1] : "";
            const size_t eq = value.find('=');
            StemKind kind = StemKind::Melodic;
            if (eq == std::string::npos || eq == 0 || !parseStemKind(value.substr(eq + 1), kind)) {
                std::cerr << "vibrelle-level: --kind needs NAME=KIND with KIND drums, bass, pad or melodic"
                          << std::endl;
                return 1;
            }
            options.kinds.emplace_back(value.substr(0, eq), kind);
            ++i;
        } else if (arg == "--force") {
            options.force = true;
        } else if (options.directory.empty() && !arg.empty() && arg[0] != '-') {
            options.directory = arg;
        } else {
            std::cerr << "vibrelle-level: unexpected argument: " << arg << std::endl;
            printUsage(std::cerr);
            return 1;
        }
    }
    if (options.directory.empty()) {
        printUsage(std::cerr);
        return 1;
    }
    AuthorResult result;
    return authorLevel(options, result, std::cout, std::cerr) ? 0 : 1;
}
