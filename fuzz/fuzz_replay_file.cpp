// Feeds arbitrary bytes to the replay reader, as they are and with their trailing checksum sealed
// again (so that mutations reach the checks behind it), and checks what its users rely on: a
// refusal says why and keeps nothing, and whatever is accepted passes the writer's checks and
// writes back to the very same bytes (an older version: to the newest, which reads back the same).
#include "replay/replay_file.hpp"
#include "replay/sha256.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void decodeAndCheck(const std::string& bytes) {
    Replay replay;
    std::string error;
    if (!decodeReplay(bytes, replay, error)) {
        if (error.empty() || !replay.levelName.empty() || !replay.events.empty() || !replay.pauses.empty()) {
            __builtin_trap();
        }
        if (std::getenv("VIBRELLE_FUZZ_VERBOSE")) {
            std::fprintf(stderr, "refused: %s\n", error.c_str());
        }
        return;
    }
    std::string written;
    if (!encodeReplay(replay, written, error)) {
        __builtin_trap();
    }
    // The newest version writes back to the very same bytes; an older one is written as the newest,
    // which reads back to the same replay.
    const unsigned version = static_cast<unsigned char>(bytes[4]) | static_cast<unsigned char>(bytes[5]) << 8;
    Replay again;
    std::string rewritten;
    if (version == kReplayFormatVersion
            ? written != bytes
            : !decodeReplay(written, again, error) || !encodeReplay(again, rewritten, error) ||
                  rewritten != written) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    decodeAndCheck(bytes);
    Sha256Digest digest{};
    if (size >= digest.size() &&
        sha256Of({std::string_view(bytes).substr(0, size - digest.size())}, digest)) {
        bytes.replace(size - digest.size(), digest.size(), reinterpret_cast<const char*>(digest.data()),
                      digest.size());
        decodeAndCheck(bytes);
    }
    return 0;
}
