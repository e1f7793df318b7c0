#pragma once
// Whole-file decoding of stem audio (WAV, FLAC, MP3, Ogg Vorbis) into float samples at the
// engine's rate. Plain code without a device: any thread may call it, nothing here is shared.
#include "audio/audio_format.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

// Result codes of the audio engine and its sound sources; 0 is success. The numbers are what the
// load and start-up error lines print.
enum class AudioResult : unsigned {
    Ok = 0,
    InvalidParameter = 1,
    FileNotFound = 2,
    FileLoadFailed = 3, // unknown format, corrupt data or no audio at all
    BackendFailed = 4,  // the output device could not be opened
    OutOfMemory = 5,    // allocation failed, or the audio is longer than kMaxDecodedSeconds
    NotImplemented = 6,
    UnknownError = 7,
};

// The rate every decoded stem is converted to and the mixer runs at (Hz).
constexpr uint32_t kEngineSampleRate = 44100;

// Longest audio accepted (seconds). Bounds the allocation a file can ask for (a forged header
// cannot make the loader reserve more than this), and is far beyond any song.
constexpr double kMaxDecodedSeconds = 20.0 * 60.0;

// Decoded audio: interleaved 32-bit float frames at kEngineSampleRate. Mono stays mono (the mixer
// plays it on both sides); more than two channels are mixed down to stereo at load.
struct DecodedAudio {
    std::unique_ptr<float[]> samples; // frames × channels values, exactly
    uint64_t frames = 0;
    uint32_t channels = 0; // 1 or 2
};

// Decodes a whole file held in memory, detecting the format from its bytes (an MP3 is found behind
// tags, padding and junk at its start). The bytes are only read during the call; the caller keeps
// ownership. Audio at another rate is resampled to kEngineSampleRate (linear interpolation behind
// an 8th-order low-pass) as the loop a stem is: its end flows into its start without a seam. MP3
// encoder delay and padding are removed when the file says how much there is; infinities and
// not-a-numbers become silence. Audio longer than maxSeconds (at most kMaxDecodedSeconds) is
// refused as OutOfMemory; audio of zero frames, of more than 32 channels or at a rate outside
// 1 to 384 kHz as FileLoadFailed. Returns Ok and fills out, or the
// failure code (out is then left empty). Any thread.
AudioResult decodeAudio(const unsigned char* data, size_t size, DecodedAudio& out,
                        double maxSeconds = kMaxDecodedSeconds);

// The length decodeAudio gives the same bytes: frames at kEngineSampleRate (resampled counts
// included) and channels (1 or 2).
struct AudioLength {
    uint64_t frames = 0;
    uint32_t channels = 0;
    bool decoded = false; // the whole file had to be decoded to know it
};

// What decodeAudio would give the same bytes, without decoding where the file records its length:
// a WAV's data size and a FLAC's STREAMINFO total as the decoder reads them when it opens the
// file, an Ogg Vorbis stream's total from its granule positions as libvorbisfile computes it,
// taken once the decoder has sought to that last frame, read it and found nothing after it (a
// truncated file fails there). A resampled stem's count is decodeAudio's: its frames times 44100
// over its rate, rounded up. MP3s, and files with no length up front, a length their bytes do not
// hold or one near the 20-minute limit, are decoded whole (and `decoded` is set). Returns what
// decodeAudio returns, with `out` zero on failure. A FLAC or Ogg Vorbis file damaged in its
// middle, whose decoding drops what it cannot read, is measured at its header's length. Any thread.
AudioResult measureAudio(const unsigned char* data, size_t size, AudioLength& out,
                         double maxSeconds = kMaxDecodedSeconds);
