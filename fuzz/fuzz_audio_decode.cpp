// Feeds arbitrary bytes to the stem decoder as a level's audio file would reach it: format
// detection, the WAV, FLAC, MP3 and Ogg Vorbis decoders, the MP3 delay reader and the resampler,
// to the length read from a stem's header (measureAudio), and to the streaming reader (open, the
// loop's head and seam, a ring's worth of refills, a restart from a padded length). Whatever they
// accept must be a bounded, finite stem.
#include "audio/audio_decode.hpp"
#include "audio/audio_engine.hpp"
#include "audio/audio_stream.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Keeps each run quick; the same code paths as the game's 20-minute limit, at a smaller number.
constexpr double kFuzzMaxSeconds = 30.0;

} // namespace

// The streaming reader, played by an engine without a device: what it opens has a length and one
// or two channels; it plays through its head, the decoder and (for short files) its loop and seam,
// after a seek, a second of mix.
void streamBytes(const uint8_t* data, size_t size) {
    if (size == 0) {
        return;
    }
    AudioStream stream;
    if (stream.open(std::vector<unsigned char>(data, data + size), "fuzz", false, 512, kFuzzMaxSeconds) !=
        AudioResult::Ok) {
        return;
    }
    if (stream.frameCount() == 0 || (stream.channelCount() != 1 && stream.channelCount() != 2)) {
        __builtin_trap();
    }
    AudioEngine engine;
    engine.init(AudioBackend::NullDriver);
    const AudioHandle voice = engine.play(stream);
    std::vector<float> out(size_t(kStreamRefillFrames) * 2);
    for (int block = 0; block < 12; ++block) {
        if (block == 6) {
            engine.seek(voice, stream.frameCount() / 3);
        }
        while (stream.refill() > 0) {
        }
        engine.mix(out.data(), kStreamRefillFrames);
        for (float sample : out) {
            if (!(std::fabs(sample) < 1.0f)) {
                __builtin_trap(); // the limiter's bound, and no NaN
            }
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    streamBytes(data, size);
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
