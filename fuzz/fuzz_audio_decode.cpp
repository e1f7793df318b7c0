// Feeds arbitrary bytes to the stem decoder as a level's audio file would reach it: format
// detection, the WAV, FLAC, MP3 and Ogg Vorbis decoders, the MP3 delay reader and the resampler,
// and to the length read from a stem's header (measureAudio). Whatever they accept must be a
// bounded, finite stem.
#include "audio/audio_decode.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

// Keeps each run quick; the same code paths as the game's 20-minute limit, at a smaller number.
constexpr double kFuzzMaxSeconds = 30.0;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Mp3Trim trim = readMp3Trim(data, size);
    if (!trim.found && (trim.leadingFrames != 0 || trim.trailingFrames != 0)) {
        __builtin_trap();
    }
    // A damaged file's header may promise more than its decoding gives, so the two lengths are not
    // compared here (the tests do, on whole files); each must be bounded.
    AudioLength length;
    if (measureAudio(data, size, length, kFuzzMaxSeconds) == AudioResult::Ok
            ? length.frames == 0 || (length.channels != 1 && length.channels != 2) ||
                  length.frames > uint64_t(kFuzzMaxSeconds * kEngineSampleRate) + 1
            : length.frames != 0 || length.channels != 0) {
        __builtin_trap();
    }
    DecodedAudio audio;
    const AudioResult result = decodeAudio(data, size, audio, kFuzzMaxSeconds);
    if (result != AudioResult::Ok) {
        if (audio.samples || audio.frames != 0) {
            __builtin_trap(); // a refusal leaves nothing behind
        }
        return 0;
    }
    if (audio.frames == 0 || (audio.channels != 1 && audio.channels != 2) ||
        audio.frames > uint64_t(kFuzzMaxSeconds * kEngineSampleRate)) {
        __builtin_trap();
    }
    for (uint64_t i = 0; i < audio.frames * audio.channels; ++i) {
        if (!std::isfinite(audio.samples[i])) {
            __builtin_trap();
        }
    }
    return 0;
}
