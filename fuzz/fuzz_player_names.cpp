// The player-name rules on arbitrary bytes: checkPlayerName and foldPlayerName never crash, a
// name that passes folds to a form that folding leaves as it is (whether or not that form passes
// the rules itself, say when folding made it longer than 64 bytes), and a name that is refused is
// its own folded form, as the stores key names read back from before the rules.
#include "leaderboard/leaderboard_names.hpp"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_player_names: %s\n", what);
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    std::string reason;
    const bool valid = checkPlayerName(name, reason);
    check(valid == reason.empty() || !valid, "a refusal without a reason");
    std::string again;
    check(checkPlayerName(name, again) == valid && again == reason, "the rules answered twice differently");
    const std::string folded = foldPlayerName(name);
    check(foldPlayerName(name) == folded, "folding is not deterministic");
    if (!valid) {
        check(folded == name, "a refused name was folded");
        return 0;
    }
    check(isValidUtf8(folded) && !folded.empty(), "a valid name folded to bad UTF-8");
    check(foldPlayerName(folded) == folded, "folding a folded name changed it");
    std::string foldedReason;
    if (checkPlayerName(folded, foldedReason)) {
        check(foldedReason.empty(), "a folded name passed with a reason");
    } else {
        // Only the length can fail: folding brings in no control, format or unassigned character.
        check(foldedReason.find("longer than") != std::string::npos,
              "a folded name broke a rule other than length");
    }
    return 0;
}
