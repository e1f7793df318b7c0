#include "server/admin_commands.hpp"

#include "base/log.hpp"
#include "leaderboard/leaderboard_names.hpp"
#include "server/leaderboard_store.hpp"
#include "server/score_entries.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// The words of a command: its positional arguments and --database.
struct AdminArguments {
    std::vector<std::string> words;
    std::string database;
    bool help = false;
};

// Reads the words after "admin"; false with the reason on a usage error.
bool readArguments(int argc, const char* const* argv, AdminArguments& arguments, std::string& error) {
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            arguments.help = true;
        } else if (word == "--database" || word.rfind("--database=", 0) == 0) {
            if (word == "--database" && i + 1 >= argc) {
                error = "--database needs a value";
                return false;
            }
            arguments.database = word == "--database" ? argv[++i] : word.substr(11);
        } else if (word.rfind("--", 0) == 0) {
            error = "unknown option " + word;
            return false;
        } else {
            arguments.words.push_back(word);
        }
    }
    return true;
}

// A player or level name as given on the command line: the old name rules, so that an entry whose
// name predates the player-name rules can still be named.
bool checkName(const std::string& name, const char* what, std::string& error) {
    std::string reason;
    if (!checkLeaderboardName(name, reason)) {
        error = std::string("the ") + what + " name " + reason;
        return false;
    }
    return true;
}

// The store of `database`. A SQLite file must exist: a mistyped path would otherwise become a new,
// empty database.
std::unique_ptr<LeaderboardStore> openExisting(const std::string& database) {
    struct stat info {};
    if (!isPostgresUrl(database) && ::stat(database.c_str(), &info) != 0) {
        logError(stderr, "No database file %s", database.c_str());
        return nullptr;
    }
    std::string error;
    std::unique_ptr<LeaderboardStore> store = openLeaderboardStore(database, error);
    if (!store) {
        logError(stderr, "Cannot open the database %s: %s", database.c_str(), error.c_str());
    }
    return store;
}

int failed(const char* what, const std::string& error) {
    logError(stderr, "Cannot %s: %s", what, error.c_str());
    return 1;
}

int run(const std::string& command, const AdminArguments& arguments, LeaderboardStore& store) {
    const std::vector<std::string>& words = arguments.words;
    std::string error;
    AdminChange change;
    if (command == "release-name") {
        if (!store.releaseName(foldPlayerName(words[1]), change, error)) {
            return failed("release the name", error);
        }
        std::printf(change.released ? "Released the name %s; its entries stay\n"
                                    : "Nobody owns the name %s; nothing changed\n",
                    words[1].c_str());
    } else if (command == "delete-player") {
        if (!store.deletePlayer(foldPlayerName(words[1]), change, error)) {
            return failed("delete the player", error);
        }
        std::printf("%s the name %s and deleted %lld score entries\n",
                    change.released ? "Released" : "Nobody owned", words[1].c_str(),
                    static_cast<long long>(change.deleted));
    } else if (command == "delete-entry") {
        if (!store.deleteEntry(words[1], foldPlayerName(words[2]), change, error)) {
            return failed("delete the entry", error);
        }
        std::printf(change.deleted > 0 ? "Deleted the entry of %s on %s\n"
                                       : "There is no entry of %s on %s; nothing changed\n",
                    words[2].c_str(), words[1].c_str());
    } else if (command == "list-suspect") {
        std::vector<StoredEntry> entries;
        if (!store.listSuspect(entries, error)) {
            return failed("list the suspect entries", error);
        }
        for (const StoredEntry& stored : entries) {
            std::printf("%s\t%s\t%d\n", stored.level.c_str(), stored.player.c_str(), stored.score);
        }
    } else if (command == "clear-suspect") {
        if (!store.clearSuspect(words[1], foldPlayerName(words[2]), change, error)) {
            return failed("clear the suspect mark", error);
        }
        if (change.cleared == 0) {
            std::printf("There is no suspect entry of %s on %s; nothing changed\n", words[2].c_str(),
                        words[1].c_str());
            return 1;
        }
        std::printf("Cleared the suspect mark of %s on %s: the entry ranks as verified\n", words[2].c_str(),
                    words[1].c_str());
    } else if (command == "backup") {
        std::string report;
        if (!store.backup(words[1], report)) {
            return failed("back up the database", report);
        }
        std::printf("%s\n", report.c_str());
    } else {
        std::string report;
        if (!store.checkIntegrity(report)) {
            std::printf("The database is damaged or could not be checked:\n%s\n", report.c_str());
            return 1;
        }
        std::printf("The database passed its integrity check: %s\n", report.c_str());
    }
    return 0;
}

} // namespace

const char* adminUsage() {
    return "Usage: vibrelle-leaderboard-server admin COMMAND ... --database DB\n"
           "  release-name NAME           free a player name: its key is dropped, its entries kept\n"
           "  delete-player NAME          free a player name and delete all its entries\n"
           "  delete-entry LEVEL NAME     delete one player's entry on one level\n"
           "  list-suspect                print each suspect entry (verified, but its hit offsets are\n"
           "                              too even for a person) as LEVEL<TAB>PLAYER<TAB>SCORE\n"
           "  clear-suspect LEVEL NAME    clear that entry's suspect mark, so that it ranks as verified;\n"
           "                              exit 1 when there is no such suspect entry\n"
           "  backup DEST                 SQLite: write a consistent copy to DEST (a new file);\n"
           "                              PostgreSQL: print the pg_dump command to use, write nothing\n"
           "                              (and exit 1, since no copy was made)\n"
           "  check                       run the database's integrity check; exit 1 on damage\n"
           "Player names are compared NFC-normalised and case-folded, level names exactly.\n"
           "Exit status: 0 done, 1 failed, 2 usage error.\n";
}

int runAdminCommand(int argc, const char* const* argv) {
    AdminArguments arguments;
    std::string error;
    if (!readArguments(argc, argv, arguments, error)) {
        logError(stderr, "vibrelle-leaderboard-server admin: %s (see admin --help)", error.c_str());
        return 2;
    }
    if (arguments.help) {
        std::fputs(adminUsage(), stdout);
        return 0;
    }
    const std::vector<std::string>& words = arguments.words;
    const std::string command = words.empty() ? "" : words[0];
    struct Shape {
        const char* command;
        std::size_t words;
        const char* names; // which words are names: "p" player, "l" level, "-" neither
    };
    static const Shape kShapes[] = {
        {"release-name", 2, "-p"}, {"delete-player", 2, "-p"},  {"delete-entry", 3, "-lp"},
        {"list-suspect", 1, "-"},  {"clear-suspect", 3, "-lp"}, {"backup", 2, "--"},
        {"check", 1, "-"}};
    const Shape* shape = nullptr;
    for (const Shape& candidate : kShapes) {
        shape = command == candidate.command ? &candidate : shape;
    }
    if (shape == nullptr) {
        error = command.empty() ? "no command given" : "unknown command " + command;
    } else if (words.size() != shape->words) {
        error = command + " takes " + std::to_string(shape->words - 1) + " argument(s)";
    } else if (arguments.database.empty()) {
        error = "--database is required";
    }
    for (std::size_t i = 1; error.empty() && i < words.size(); ++i) {
        if (shape->names[i] != '-') {
            checkName(words[i], shape->names[i] == 'p' ? "player" : "level", error);
        } else if (words[i].empty()) {
            error = "an argument is empty";
        }
    }
    if (!error.empty()) {
        logError(stderr, "vibrelle-leaderboard-server admin: %s (see admin --help)", error.c_str());
        return 2;
    }
    const std::unique_ptr<LeaderboardStore> store = openExisting(arguments.database);
    return store ? run(command, arguments, *store) : 1;
}
