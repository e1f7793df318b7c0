// Feeds arbitrary bytes to the replay reader, as they are and with their trailing checksum sealed
// again (so that mutations reach the checks behind it), and checks what its users rely on: a
// refusal says why and keeps nothing, and whatever is accepted passes the writer's checks and
// writes back to the very same bytes.
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
    if (!encodeReplay(replay, written, error) || written != bytes) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    decodeAndCheck(bytes);
    Sha256Digest digest{};
    if (size >= digest.size() && sha256Of({std::string_view(bytes).substr(0, size - digest.size())}, digest)) {
        bytes.replace(size - digest.size(), digest.size(), reinterpret_cast<const char*>(digest.data()),
                      digest.size());
        decodeAndCheck(bytes);
    }
    return 0;
}
