// The X-Vibrelle-Player-Key header on arbitrary bytes: parsePlayerKeyHeader never crashes, takes
// "new" and well-formed keys only, and a key it takes is 22 base64url characters that hash to 64
// hex digits.
#include "server/player_keys.hpp"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_player_key: %s\n", what);
        __builtin_trap();
    }
}

bool isBase64url(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    const PlayerKeyHeader header = parsePlayerKeyHeader(std::string_view(value));
    check(parsePlayerKeyHeader(std::nullopt).kind == PlayerKeyKind::None, "no header is not None");
    switch (header.kind) {
    case PlayerKeyKind::New:
        check(value == "new", "something else taken for new");
        break;
    case PlayerKeyKind::Key: {
        check(header.key == value && value.size() == kPlayerKeyLength, "a key of the wrong length");
        for (char c : value) {
            check(isBase64url(c), "a key outside base64url");
        }
        const std::string hash = hashPlayerKey(header.key);
        check(hash.size() == 64 && hash.find_first_not_of("0123456789abcdef") == std::string::npos,
              "a hash that is not 64 hex digits");
        break;
    }
    case PlayerKeyKind::Invalid:
        check(value != "new" && header.key.empty(), "a valid value refused");
        break;
    case PlayerKeyKind::None:
        check(false, "a present header read as none");
    }
    return 0;
}
