// vibrelle-leaderboard-server: the leaderboard the game's online client talks to. Opens the
// database, listens, and serves until SIGINT or SIGTERM.
#include "base/log.hpp"
#include "server/admin_commands.hpp"
#include "server/leaderboard_server.hpp"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>

namespace {

int serve(const ServerOptions& options) {
    // A client that hangs up mid-reply must cost only that reply, not the process.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM are taken by one thread with sigwait; every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::string error;
    StoreSettings settings;
    settings.fullSync = options.fullSync;
    const std::unique_ptr<LeaderboardStore> store = openLeaderboardStore(options.database, error, settings);
    if (!store) {
        logError(stderr, "Cannot open the database %s: %s", options.database.c_str(), error.c_str());
        return 1;
    }
    ServerContext context;
    context.options = options;
    context.store = store.get();
    context.levels = loadServerLevels(options.levelDirs);
    VerifyPool verifier(options.verifyThreads > 0 ? static_cast<std::size_t>(options.verifyThreads)
                                                  : defaultVerifyThreads());
    context.verifier = &verifier;
    LeaderboardHttpServer http;
    configureServer(http, context);
    int port = options.port;
    if (port == 0) {
        port = http.bind_to_any_port(options.bind);
    } else if (!http.bind_to_port(options.bind, port)) {
        port = -1;
    }
    if (port <= 0) {
        logError(stderr, "Cannot listen on %s port %d: %s", options.bind.c_str(), options.port,
                 std::strerror(errno));
        return 1;
    }
    logMessage("Vibrelle leaderboard server listening on http://%s:%d/ (API under %s, %s)",
               options.bind.c_str(), port, options.prefix.empty() ? "/" : options.prefix.c_str(),
               store->describe().c_str());

    std::atomic<bool> finished{false};
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        if (finished) {
            return; // woken by the main thread below
        }
        logMessage("Stopping on signal %d", signal);
        // stop() does nothing until the accept loop runs; repeated until the loop has ended.
        while (!finished) {
            http.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const bool listened = http.listen_after_bind();
    finished = true;
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    if (!listened) {
        logError(stderr, "The server stopped with an error");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc > 1 && std::string(argv[1]) == "admin") {
            return runAdminCommand(argc - 2, argv + 2);
        }
        ServerOptions options;
        std::string error;
        if (!parseServerOptions(argc, argv, options, error)) {
            logError(stderr, "vibrelle-leaderboard-server: %s (see --help)", error.c_str());
            return 2;
        }
        if (options.help) {
            std::fputs(serverUsage().c_str(), stdout);
            return 0;
        }
        for (const std::string& warning : options.warnings) {
            logError(stderr, "vibrelle-leaderboard-server: warning: %s", warning.c_str());
        }
        return serve(options);
    } catch (const std::exception& e) {
        logError(stderr, "vibrelle-leaderboard-server: %s", e.what());
        return 1;
    }
}
