#pragma once
// The leaderboard server's command line: its options, their defaults and the --help text. Any
// thread; parseServerOptions reads the token file when one is named and looks whether each
// --levels is a folder, nothing else touches the system.
#include "server/client_address.hpp"

#include <cstddef>
#include <string>
#include <vector>

struct ServerOptions {
    int port = 8420;                         // 0: any free port (the start-up line names it)
    std::string bind = "127.0.0.1";          // the address to listen on
    std::string database = "leaderboard.db"; // a SQLite path or a postgresql:// URL
    std::string prefix = "/api";             // normalised by parseServerOptions
    std::string uploadToken;                 // when set, POST needs "Authorization: Bearer <token>"
    int rateLimit = 20;                      // requests per second per client address; 0: off
    std::size_t maxEntries = 1000;           // score entries per upload
    int threads = 32;                        // HTTP worker threads
    bool fullSync = false;                   // --synchronous full (SQLite): sync the WAL at every commit
    bool verifiedOnly = false;          // --verified-only: store only entries whose rounds were run again
    int verifyThreads = 0;              // --verify-threads: threads running rounds again; 0: the default
    bool help = false;                  // --help was given
    std::vector<std::string> levelDirs; // --levels: folders of levels to check rounds against

    // Client addresses and connections (see client_address.hpp and connection_limit.hpp).
    std::size_t maxConnectionsPerAddress = 16; // open connections per client address; 0: off
    std::vector<AddressBlock> trustedProxies;  // peers whose X-Forwarded-For is believed
    // Said on standard error at start, such as a token given in the clear.
    std::vector<std::string> warnings;
};

// The text --help prints.
std::string serverUsage();

// Reads the command line (argv[0] is the program), and the token file once when
// --upload-token-file names one (its first line, at most 4 KB, white space around it trimmed).
// False, with a message naming the option, for an unknown option, a missing or malformed value,
// a value out of range, an unreadable or unfit token file, both token options at once, or a
// --levels that is not a folder.
bool parseServerOptions(int argc, const char* const* argv, ServerOptions& options, std::string& error);
