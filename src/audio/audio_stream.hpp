#pragma once
// A streamed sound source: a stem whose compressed bytes stay in memory and are decoded as it
// plays, a few seconds ahead, by the stream decoding thread (audio_stream_feeder.hpp), into a ring
// buffer that the mixer reads. What it holds decoded stays the same whatever the song's length:
// the ring (kStreamRingFrames), the loop's head (kStreamHeadFrames, decoded when the stream opens so
// that a loop or a restart never waits for the decoder), for a file at another rate the few native
// frames on either side of the loop's seam, and the decoder's scratch.
//
// Frames are counted as the engine counts a voice's frames: from the voice's start, loops included
// (an "absolute" frame). The stream plays absolute frame f as frame f modulo paddedFrameCount() of
// the song when it loops; the frames after frameCount() are silence (padding), as for a Wav.
//
// Threads. open, padTo and setLooping: the thread that owns the stream, before a voice plays it (a
// voice playing it is stopped). refill: the decoding thread only (or, for a stream opened without
// it, the one thread that owns it). The rest belongs to the engine, under its spin lock: the
// decoder and the mixer share only the ring and three atomics, so the mixer never waits for the
// decoder, and the decoder never takes the engine's lock.
#include "audio/audio_decode.hpp"
#include "base/file_bytes.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class AudioEngine;
struct StreamDecoder;

// Longest stream accepted (seconds): nothing a stream holds grows with the length, so this only
// keeps a forged header from promising a song of years.
constexpr double kMaxStreamSeconds = 6.0 * 3600.0;

// Frames of decoded audio the ring holds ahead of the play position (2.97 s at 44.1 kHz; 1 MB of
// stereo floats). A decoder starved of the processor for less than that goes unheard.
constexpr uint64_t kStreamRingFrames = uint64_t(1) << 17;
// Frames of the song's start decoded when the stream opens and kept (0.37 s; 128 KB in stereo).
constexpr uint64_t kStreamHeadFrames = uint64_t(1) << 14;
// The ring is topped up once this much of it is free (93 ms), in runs of at most this much.
constexpr uint64_t kStreamRefillFrames = 4096;

class AudioStream {
public:
    AudioStream();
    ~AudioStream(); // stops the voice playing it; leaves the decoding thread's list
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    // Opens a stem file's bytes (WAV, Ogg Vorbis, MP3 or FLAC, detected from them), which the
    // stream keeps for as long as it lives. Reads the length (an MP3's by scanning its frame
    // headers, with a seek table built on the way; a file that records none by decoding it once
    // without keeping what it decodes), decodes the song's head and, for another rate than
    // kEngineSampleRate, the native frames at its seam, and (when `decodingThread`) joins the
    // decoding thread's list. `name` is what the damage notice names. Returns Ok, or decodeAudio's
    // refusal codes for what it cannot open (no 20-minute limit: nothing grows with the length).
    // Without `decodingThread`, the owner calls refill itself (tests). `headFrames` (tests) keeps a
    // shorter head than kStreamHeadFrames, so that short files reach the decoder. Opening twice is
    // refused. Audio longer than `maxSeconds` is refused as OutOfMemory, and so is a file that
    // records no length and decodes to more than kMaxDecodedSeconds (counting it takes as long as
    // decoding it whole).
    AudioResult open(FileBytes bytes, const std::string& name, bool decodingThread = true,
                     uint64_t headFrames = kStreamHeadFrames, double maxSeconds = kMaxStreamSeconds);
    // The same from a copy of `bytes` (tests, fuzzing).
    AudioResult open(const std::vector<unsigned char>& bytes, const std::string& name,
                     bool decodingThread = true, uint64_t headFrames = kStreamHeadFrames,
                     double maxSeconds = kMaxStreamSeconds) {
        return open(FileBytes(bytes.begin(), bytes.end()), name, decodingThread, headFrames, maxSeconds);
    }

    // The song's frames at kEngineSampleRate (what decodeAudio gives the same bytes) and channels.
    uint64_t frameCount() const { return frames_; }
    uint32_t channelCount() const { return channels_; }
    // frameCount() and the silence padded after it (padTo).
    uint64_t paddedFrameCount() const { return padded_.load(std::memory_order_relaxed); }
    double getLength() const { return double(paddedFrameCount()) / kEngineSampleRate; }
    // As Wav::padTo and Wav::setLooping (except that a stream loops until told otherwise: stems
    // loop); a voice playing the stream is stopped. A change drops what the ring holds.
    void padTo(uint64_t frames);
    void setLooping(bool looping);
    bool getLooping() const { return looping_.load(std::memory_order_relaxed); }

    // Bytes of decoded audio the stream holds (ring, head, seam and scratch): fixed at open.
    uint64_t decodedBytes() const;
    // Bytes of the file kept in memory.
    uint64_t compressedBytes() const { return bytes_.size(); }

    // Decodes up to `maxFrames` frames into the ring after what it holds (or, after a seek, from the
    // new position); returns the frames decoded. Does nothing before a voice has played the stream
    // (a level being loaded leaves the processor to the loader; its first frames come from the
    // head), nor while less than kStreamRefillFrames of the ring is free, unless a seek waits. Decoding
    // thread only. A file that ends before its length or cannot be decoded further plays silence there; the
    // first time, it says so on stderr: "Warning: <name>: the audio ends early or is damaged at <S> s; it
    // plays on as silence".
    uint64_t refill(uint64_t maxFrames = kStreamRefillFrames);
    // Whether the ring holds every frame the decoder can put there now (for benchmarks and waits).
    bool full() const;
    // Whether a seek waits for its first frames or less than a quarter of the ring is ahead of the
    // mixer: the decoding thread serves such streams first. Decoding thread only.
    bool hungry() const;

    // A test hook: a stalled stream's refill decodes nothing, as a decoder starved of the processor.
    void setStalled(bool stalled) { stalled_.store(stalled, std::memory_order_relaxed); }
    bool stalled() const { return stalled_.load(std::memory_order_relaxed); }
    bool fedByThread() const { return fedByThread_; }

private:
    friend class AudioEngine;

    // ---- The engine's side, under its lock ----
    // Frames readable from absolute frame `at` on: 0 while a seek's frames are being decoded.
    uint64_t readable(uint64_t at) const;
    // The ring's frames from absolute frame `at` on (at most `count`, fewer where the ring wraps).
    const float* framesAt(uint64_t at, uint64_t& count) const;
    // The mixer has played up to absolute frame `at`: the decoder may reuse what lies before.
    void consumedTo(uint64_t at) { readAbs_.store(at, std::memory_order_release); }
    // Asks the decoder for the frames from absolute frame `at` on; what the ring holds is dropped.
    void requestSeek(uint64_t at);

    // ---- The decoder's side ----
    uint64_t produce(uint64_t position, uint64_t count, float* out);
    void reportDamage(uint64_t position);
    void reportLoss(StreamDecoder& decoder); // a stretch the decoder gave as silence for damage

    FileBytes bytes_;
    std::string name_;
    std::unique_ptr<StreamDecoder> decoder_;
    std::unique_ptr<float[]> ring_;
    std::unique_ptr<float[]> head_;
    uint64_t headFrames_ = 0;
    uint64_t frames_ = 0;
    uint32_t channels_ = 0;
    std::atomic<uint64_t> padded_{0};
    std::atomic<bool> looping_{true}; // stems loop
    std::atomic<bool> stalled_{false};
    std::atomic<bool> played_{false}; // a voice has played it: until then the ring stays empty
    bool fedByThread_ = false;
    bool damageReported_ = false; // decoder's

    // Published state. `request_` and `written_` pack a 16-bit generation (counted up by every
    // seek) above a 48-bit absolute frame; the mixer reads only what was written for its generation.
    std::atomic<uint64_t> request_{0};  // engine → decoder: the generation and its first frame
    std::atomic<uint64_t> written_{0};  // decoder → engine: the generation and the end of its frames
    std::atomic<uint64_t> readAbs_{0};  // engine → decoder: where the mixer stands
    uint32_t generation_ = 0;           // the engine's, under its lock
    uint32_t producedGeneration_ = ~0u; // the decoder's
    uint64_t writeAbs_ = 0;             // the decoder's

    AudioEngine* engine_ = nullptr; // the engine it was last played on; owner's thread only
};
