#include "server/server_options.hpp"

#include "server/request_target.hpp"

#include <optional>

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

} // namespace

std::string serverUsage() {
    return "Usage: vibrelle-leaderboard-server [OPTIONS]\n"
           "Serves a Vibrelle leaderboard over HTTP: GET / (web page), GET <prefix>/leaderboard,\n"
           "GET <prefix>/player/<level>/<player>, POST <prefix>/leaderboard.\n"
           "\n"
           "  --port N            port to listen on (default 8420; 0 picks a free one)\n"
           "  --bind ADDR         address to listen on (default 127.0.0.1; 0.0.0.0 for every interface)\n"
           "  --database DB       SQLite file (default leaderboard.db) or postgresql://user@host:port/db\n"
           "  --prefix P          path prefix of the API (default /api)\n"
           "  --upload-token T    uploads need the header \"Authorization: Bearer T\"\n"
           "  --rate-limit N      requests per second per client address (default 20; 0: off)\n"
           "  --max-entries N     score entries per upload (default 1000)\n"
           "  --threads N         HTTP worker threads (default 32)\n"
           "  --synchronous MODE  SQLite: normal (default) or full. Both keep every acknowledged upload\n"
           "                      when the server process dies; after a power cut or OS crash, normal\n"
           "                      may lose the uploads of the last moments before it (never the file's\n"
           "                      consistency), full loses none but syncs the disk at every upload.\n"
           "                      No effect on PostgreSQL, where its synchronous_commit governs.\n"
           "  --help              print this and exit\n"
           "\n"
           "Administration (names compared NFC-normalised and case-folded; exit 0 done, 1 failed,\n"
           "2 usage), see vibrelle-leaderboard-server admin --help.\n";
}

bool parseServerOptions(int argc, const char* const* argv, ServerOptions& options, std::string& error) {
    options = ServerOptions{};
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
        const bool known = name == "--port" || name == "--bind" || name == "--database" ||
                           name == "--prefix" || name == "--upload-token" || name == "--rate-limit" ||
                           name == "--max-entries" || name == "--threads" || name == "--synchronous";
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
        } else if (name == "--synchronous") {
            if (*value != "full" && *value != "normal") {
                error = "--synchronous needs full or normal";
                return false;
            }
            options.fullSync = *value == "full";
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
    return true;
}
