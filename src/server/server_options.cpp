#include "server/server_options.hpp"

#include "server/request_target.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

namespace {

// Strict decimal: digits only, within [low, high].
bool parseNumber(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return value >= low && value <= high;
}

// The token of --upload-token-file: the file's first line, white space around it trimmed. At most
// kMaxLine + 1 bytes are read, so that a huge file (or a device) is refused, not loaded.
bool readTokenFile(const std::string& path, std::string& token, std::string& error) {
    constexpr std::size_t kMaxLine = 4096;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "--upload-token-file: cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[kMaxLine + 1];
    while (text.find('\n') == std::string::npos && text.size() <= kMaxLine) {
        const ssize_t length = read(fd, buffer, kMaxLine + 1 - text.size());
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length < 0) {
            error = "--upload-token-file: cannot read " + path + ": " + std::strerror(errno);
            close(fd);
            return false;
        }
        if (length == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(length));
    }
    close(fd);
    const std::string line = text.substr(0, text.find('\n'));
    if (line.size() > kMaxLine) {
        error = "--upload-token-file: the first line of " + path + " is longer than 4096 bytes";
        return false;
    }
    const char* const space = " \t\r\f\v";
    const std::size_t begin = line.find_first_not_of(space);
    token = begin == std::string::npos ? "" : line.substr(begin, line.find_last_not_of(space) + 1 - begin);
    if (token.empty()) {
        error = "--upload-token-file: the first line of " + path + " holds no token";
        return false;
    }
    for (char c : token) {
        if (c <= ' ' || c > '~') {
            error = "--upload-token-file: the token in " + path + " may hold only visible ASCII characters";
            token.clear();
            return false;
        }
    }
    return true;
}

// The checks that need the whole command line.
bool finishOptions(ServerOptions& options, const std::string& tokenFile, std::string& error) {
    if (!tokenFile.empty()) {
        if (!options.uploadToken.empty()) {
            error = "give --upload-token or --upload-token-file, not both";
            return false;
        }
        if (!readTokenFile(tokenFile, options.uploadToken, error)) {
            return false;
        }
    } else if (!options.uploadToken.empty()) {
        options.warnings.push_back("--upload-token is visible to every local user in the process list; "
                                   "--upload-token-file keeps it out of there");
    }
    if (options.maxConnectionsPerAddress >= static_cast<std::size_t>(options.threads)) {
        options.warnings.push_back("--max-connections-per-address " +
                                   std::to_string(options.maxConnectionsPerAddress) +
                                   " is not below --threads " + std::to_string(options.threads) +
                                   ": one client address can hold every worker thread");
    }
    return true;
}

} // namespace

std::string serverUsage() {
    return "Usage: vibrelle-leaderboard-server [OPTIONS]\n"
           "Serves a Vibrelle leaderboard over HTTP: GET / (web page), GET <prefix>/leaderboard,\n"
           "GET <prefix>/player/<level>/<player>, GET <prefix>/level/<hash>, POST <prefix>/leaderboard.\n"
           "\n"
           "  --port N            port to listen on (default 8420; 0 picks a free one)\n"
           "  --bind ADDR         address to listen on (default 127.0.0.1; 0.0.0.0 for every interface)\n"
           "  --database DB       SQLite file (default leaderboard.db) or postgresql://user@host:port/db\n"
           "  --prefix P          path prefix of the API (default /api)\n"
           "  --upload-token T    uploads need the header \"Authorization: Bearer T\" (every local user\n"
           "                      can read T in the process list: prefer --upload-token-file)\n"
           "  --upload-token-file PATH\n"
           "                      the same, the token read once at start from the file's first line\n"
           "  --rate-limit N      requests per second per client address (default 20; 0: off)\n"
           "  --max-connections-per-address N\n"
           "                      open connections per client address (default 16; 0: off); keep it\n"
           "                      below --threads\n"
           "  --trusted-proxy ADDR\n"
           "                      a reverse proxy whose X-Forwarded-For names the client: an IPv4 or\n"
           "                      IPv6 address or block (192.0.2.7, 10.0.0.0/8, 2001:db8::/32); repeatable\n"
           "  --max-entries N     score entries per upload (default 1000)\n"
           "  --threads N         HTTP worker threads (default 32)\n"
           "  --levels DIR        a folder of levels to check uploaded rounds against, read at start:\n"
           "                      the levels its levels.json lists (without one, each subfolder\n"
           "                      holding a level.json) and its own level.json; repeatable\n"
           "                      (default: none; scripts/run-server gives the checkout's assets/levels)\n"
           "  --synchronous MODE  SQLite: normal (default) or full. Both keep every acknowledged upload\n"
           "                      when the server process dies; after a power cut or OS crash, normal\n"
           "                      may lose the uploads of the last moments before it (never the file's\n"
           "                      consistency), full loses none but syncs the disk at every upload.\n"
           "                      No effect on PostgreSQL, where its synchronous_commit governs.\n"
           "  --verify-threads N  threads that run uploaded rounds again, at a lower priority than\n"
           "                      the HTTP workers (default: one fewer than the cores, at least 1)\n"
           "  --verified-only     store only entries whose replay was run again and came to their\n"
           "                      result (an entry without a replay, of a level not given with\n"
           "                      --levels, or not run again within the time allowed is refused)\n"
           "  --help              print this and exit\n"
           "\n"
           "Clients: an IPv6 client is counted per /64, an IPv4-mapped IPv6 address as IPv4. Through a\n"
           "trusted proxy the client is the rightmost X-Forwarded-For hop that is not a trusted proxy,\n"
           "and its requests in flight count against --max-connections-per-address. Refusals for\n"
           "those limits (429, 503) are logged at most once a second per client, with a count.\n"
           "\n"
           "Uploads need Content-Type: application/json (415 otherwise) and no Origin header (403):\n"
           "a web page on another site cannot post scores. An upload with X-Vibrelle-Player-Key: new\n"
           "claims its player's name and gets a key back; entries under an owned name are taken only\n"
           "with X-Vibrelle-Player-Key: <key>.\n"
           "\n"
           "Limits: a request line or header line is at most 8 KB, with at most 100 headers; a body\n"
           "at most 2 MB, and an upload's body must arrive within 10 s. A connection is closed after\n"
           "2 s without a request, 5 s of silence within one, or 100 requests. A connection over the\n"
           "per-address limit is answered 503 and closed; at most 16 x --threads accepted\n"
           "connections wait for a worker, and the library closes those past that unanswered.\n"
           "Each open connection holds a worker thread: a client that sends or reads a byte every few\n"
           "seconds keeps its worker as long as it goes on (only the per-address limit bounds it), so\n"
           "many addresses together can still take every worker. On the internet, put a buffering\n"
           "reverse proxy (nginx, Caddy) in front and name it with --trusted-proxy.\n"
           "\n"
           "Administration (names compared NFC-normalised and case-folded; exit 0 done, 1 failed,\n"
           "2 usage), see vibrelle-leaderboard-server admin --help.\n";
}

bool parseServerOptions(int argc, const char* const* argv, ServerOptions& options, std::string& error) {
    options = ServerOptions{};
    std::string tokenFile;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::optional<std::string> value;
        if (const std::size_t equals = name.find('=');
            name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--verified-only" && !value) {
            options.verifiedOnly = true;
            continue;
        }
        const bool known = name == "--port" || name == "--bind" || name == "--database" ||
                           name == "--prefix" || name == "--upload-token" || name == "--rate-limit" ||
                           name == "--max-entries" || name == "--threads" || name == "--upload-token-file" ||
                           name == "--max-connections-per-address" || name == "--trusted-proxy" ||
                           name == "--synchronous" || name == "--levels" || name == "--verify-threads";
        if (!known) {
            error = "unknown option " + name;
            return false;
        }
        if (!value) {
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        long long number = 0;
        if (name == "--port") {
            if (!parseNumber(*value, 0, 65535, number)) {
                error = "--port needs a number from 0 to 65535";
                return false;
            }
            options.port = static_cast<int>(number);
        } else if (name == "--rate-limit") {
            if (!parseNumber(*value, 0, 1000000, number)) {
                error = "--rate-limit needs a number from 0 to 1000000";
                return false;
            }
            options.rateLimit = static_cast<int>(number);
        } else if (name == "--max-entries") {
            if (!parseNumber(*value, 1, 1000000, number)) {
                error = "--max-entries needs a number from 1 to 1000000";
                return false;
            }
            options.maxEntries = static_cast<std::size_t>(number);
        } else if (name == "--threads") {
            if (!parseNumber(*value, 1, 1024, number)) {
                error = "--threads needs a number from 1 to 1024";
                return false;
            }
            options.threads = static_cast<int>(number);
        } else if (name == "--verify-threads") {
            if (!parseNumber(*value, 1, 256, number)) {
                error = "--verify-threads needs a number from 1 to 256";
                return false;
            }
            options.verifyThreads = static_cast<int>(number);
        } else if (name == "--synchronous") {
            if (*value != "full" && *value != "normal") {
                error = "--synchronous needs full or normal";
                return false;
            }
            options.fullSync = *value == "full";
        } else if (name == "--max-connections-per-address") {
            if (!parseNumber(*value, 0, 1000000, number)) {
                error = "--max-connections-per-address needs a number from 0 to 1000000";
                return false;
            }
            options.maxConnectionsPerAddress = static_cast<std::size_t>(number);
        } else if (name == "--trusted-proxy") {
            AddressBlock block;
            std::string reason;
            if (!parseAddressBlock(*value, block, reason)) {
                error = "--trusted-proxy: " + reason;
                return false;
            }
            options.trustedProxies.push_back(block);
        } else if (name == "--prefix") {
            std::string reason;
            if (!normalizePrefix(*value, options.prefix, reason)) {
                error = "--prefix: " + reason;
                return false;
            }
        } else if (value->empty()) {
            error = name + " needs a value";
            return false;
        } else if (name == "--bind") {
            options.bind = *value;
        } else if (name == "--database") {
            options.database = *value;
        } else if (name == "--levels") {
            std::error_code ec;
            if (!std::filesystem::is_directory(*value, ec)) {
                error = "--levels: " + *value + " is not a folder";
                return false;
            }
            options.levelDirs.push_back(*value);
        } else if (name == "--upload-token-file") {
            tokenFile = *value;
        } else {
            for (char c : *value) {
                if (c <= ' ' || c > '~') {
                    error = "--upload-token may hold only visible ASCII characters";
                    return false;
                }
            }
            options.uploadToken = *value;
        }
    }
    return finishOptions(options, tokenFile, error);
}
