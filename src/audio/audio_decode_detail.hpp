#pragma once
// The pieces of audio_decode.cpp that the streaming reader (audio_stream.cpp) shares with the whole
// decoder: opening a file held in memory, its length and trim, and the resampler's alignment. Not
// for the rest of the game: it speaks miniaudio. Plain code; any thread, nothing shared.
#include "audio/audio_decode.hpp"
#include "audio/miniaudio_config.hpp"

#include <cstddef>
#include <cstdint>

// The bytes of a file in memory, read through callbacks.
struct MemoryFile {
    const unsigned char* data = nullptr;
    size_t size = 0;
    size_t position = 0;
};

ma_result readMemory(MemoryFile& file, void* out, size_t bytes, size_t* bytesRead);
ma_result seekMemory(MemoryFile& file, ma_int64 offset, ma_seek_origin origin);

// A miniaudio decoder over bytes in memory that is always uninitialised on the way out. Not
// movable: the decoder reads through `file` by address.
struct DecoderGuard {
    ma_decoder decoder{};
    MemoryFile file;
    bool open = false;
    DecoderGuard() = default;
    DecoderGuard(const DecoderGuard&) = delete;
    DecoderGuard& operator=(const DecoderGuard&) = delete;
    ~DecoderGuard();
    // (Re)opens the decoder as 32-bit floats with `channels` output channels (0: the file's own).
    // `seekPoints` > 0 makes an MP3 decoder build a seek table of that many points as it opens
    // (one scan of the frame headers, no decoding), so that seeking lands on its frame without
    // decoding from the start.
    bool init(const unsigned char* data, size_t size, ma_encoding_format format, uint32_t channels,
              uint32_t seekPoints = 0);
};

// A file opened for decoding, with what decodeAudio reads from it before the first sample. Not
// movable: the decoder reads the bytes through `guard.file` by address.
struct OpenedAudio {
    DecoderGuard guard;
    ma_encoding_format format = ma_encoding_format_unknown;
    uint32_t channels = 0;  // as decoded: 1 or 2
    uint32_t rate = 0;      // the file's own (Hz)
    uint64_t declared = 0;  // the length the decoder reports (frames at `rate`); 0: not known
    uint64_t maxNative = 0; // the most frames at `rate` accepted
    uint64_t keep = 0;      // frames kept after the `skip` first
    uint64_t skip = 0;      // MP3 encoder delay
};

// Reads an opened file's frames each where it belongs in the song. A FLAC frame that fails its
// checksum is skipped by the decoder, which then gives the next good frame in its place, and all
// that follows would play early, out of step with the other stems; here the lost frames come out as
// silence instead, as far as the next good frame's header says they reach. One reader per decoder;
// `seekTo` after every seek of the decoder. Any thread, on its own decoder.
struct PlacedReader {
    uint64_t position = 0; // the decoder's frame (MP3 delay included) the next read gives
    uint64_t silence = 0;  // frames of a lost stretch still to give before the decoder's next
    bool failed = false;   // the decoder reported an error: nothing more comes before a seek

    void seekTo(uint64_t at) {
        position = at;
        silence = 0;
        failed = false;
    }
    // Seeks the decoder to its frame `at` (MP3 delay included) and the reader with it. A FLAC seek
    // that had to pass a damaged frame stops where the next good one says it stands, past `at`:
    // the frames between come as silence. False when the decoder cannot seek there.
    bool seek(OpenedAudio& opened, uint64_t at);
    // Up to `frames` frames into out; returns how many it gave, silence for lost ones included (fewer
    // only where the file ends or cannot be decoded further: after a decoding error, such as an Ogg
    // page missing, nothing more is read, since what follows would come early). `lost` gets the
    // index in this read of the first frame given as silence for a damaged stretch, or `frames`.
    uint64_t read(OpenedAudio& opened, float* out, uint64_t frames, uint64_t& lost);
};

// Recognises the bytes, opens the decoder on them and reads the length and trim; the refusals are
// decodeAudio's. `data` and `size` must outlive `opened`. For an MP3, the length is the count of its
// frame headers (no frame is decoded); `seekPoints` as DecoderGuard::init.
AudioResult openAudio(const unsigned char* data, size_t size, double maxSeconds, OpenedAudio& opened,
                      uint32_t seekPoints = 0);

// The length an opened file records up front, in frames at its own rate; 0 when it records none
// that the decoder is sure to reach (and always 0 for MP3, whose count `declared` already holds).
uint64_t recordedLength(OpenedAudio& opened);

// Frames at kEngineSampleRate that `frames` frames at `rate` are resampled to (resampleLoop's count).
uint64_t engineFrames(uint64_t frames, uint32_t rate);

// Input frames the resampler is run over before a stem's first frame (at least), so that its
// low-pass filter has settled by then: eight poles near the Nyquist rate ring for a few dozen.
constexpr uint64_t kPrimeFrames = 1024;

uint64_t greatestCommonDivisor(uint64_t a, uint64_t b);

// The resampler every stem at another rate goes through: linear, behind an 8th-order low-pass.
inline ma_resampler_config stemResamplerConfig(uint32_t channels, uint32_t rate) {
    ma_resampler_config config = ma_resampler_config_init(ma_format_f32, channels, rate, kEngineSampleRate,
                                                          ma_resample_algorithm_linear);
    config.linear.lpfOrder = MA_MAX_FILTER_ORDER;
    return config;
}
