// The streamed sound source: opening a stem's bytes, and the decoder's side of the ring (what the
// stream decoding thread runs). The engine's side (readable, framesAt, requestSeek) is at the end;
// the mixer's use of it is in audio_stream_mix.cpp.
#include "audio/audio_stream.hpp"

#include "audio/audio_decode_detail.hpp"
#include "audio/audio_engine.hpp"
#include "audio/audio_stream_feeder.hpp"
#include "base/log.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint64_t kRingMask = kStreamRingFrames - 1;
constexpr uint64_t kFrameMask = (uint64_t(1) << 48) - 1;
// Bytes of an MP3 per seek point: a quarter second at 128 kbit/s, so that a seek decodes little
// more than that (and the two frames before the point) to land on its frame.
constexpr uint64_t kMp3BytesPerSeekPoint = 4096;
// Native frames kept from the file's start for the seam of a resampled stem: the resampler reads
// a few frames past the song's last before its last output frame is made.
constexpr uint64_t kSeamHeadFrames = 1024;

uint64_t pack(uint32_t generation, uint64_t frame) {
    return (uint64_t(generation & 0xFFFF) << 48) | (frame & kFrameMask);
}

// NaN and infinities (a float WAV can hold them) would silence the whole mix.
void sanitize(float* samples, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        if (!std::isfinite(samples[i])) {
            samples[i] = 0.0f;
        }
    }
}

} // namespace

// The decoder's state: the file opened in memory and, for another rate, the resampler with the
// native frames on either side of the seam. Decoding thread only (and open).
struct StreamDecoder {
    OpenedAudio opened;
    uint64_t native = 0;         // the song's frames at its own rate (after the MP3 trim)
    uint64_t outputPos = 0;      // the song frame `decodeOutput` makes next
    bool dry = false;            // the file gave out: silence until the next reposition
    uint64_t nativePos = ~0ull;  // the native frame the decoder reads next (~0: not known)
    PlacedReader reader;         // reads for nativePos
    uint64_t lostNative = ~0ull; // the first native frame given as silence for damage, not yet reported

    // Resampling (rate != kEngineSampleRate).
    bool resampling = false;
    ma_resampler resampler{};
    bool resamplerOpen = false;
    uint64_t inStep = 1, outStep = 1, prime = 0, skipOut = 0;
    std::vector<float> tail;     // the last min(native, prime) native frames
    std::vector<float> seamHead; // the first min(native, kSeamHeadFrames) native frames
    std::vector<float> input;    // native frames read and not yet resampled
    uint64_t inputBegin = 0, inputEnd = 0;
    int64_t feedCursor = 0;     // the song's native frame `input` is filled from next (may be < 0)
    std::vector<float> discard; // resampler output before the wanted frame

    ~StreamDecoder() {
        if (resamplerOpen) {
            ma_resampler_uninit(&resampler, nullptr);
        }
    }

    uint32_t channels() const { return opened.channels; }

    // Reads native frames [at, at + count) of the song into out, each in its place (PlacedReader);
    // returns how many came. A stretch lost to damage comes as silence and sets `lostNative`.
    uint64_t readNative(uint64_t at, uint64_t count, float* out) {
        if (nativePos != at) {
            if (!reader.seek(opened, opened.skip + at)) {
                nativePos = ~0ull;
                return 0;
            }
            nativePos = at;
        }
        uint64_t lost = count;
        const uint64_t got = reader.read(opened, out, count, lost);
        if (lost < count && lostNative == ~0ull) {
            lostNative = at + lost;
        }
        nativePos = got == count ? at + got : ~0ull;
        sanitize(out, got * channels());
        return got;
    }

    // Loads the next run of native frames from `feedCursor` into `input`: the tail before the
    // song's start, the file itself, the song's start again after its end (as resampleLoop feeds
    // a loop). False when the file gave out.
    bool loadInput() {
        const uint32_t ch = channels();
        const int64_t n = int64_t(native);
        uint64_t count = 0;
        bool ok = true;
        if (feedCursor < 0) {
            const uint64_t q = uint64_t((feedCursor % n + n) % n); // the frame it stands for
            const uint64_t tailFrames = tail.size() / ch;
            const uint64_t tailStart = native - tailFrames;
            count = std::min<uint64_t>({kStreamRefillFrames, native - q, uint64_t(-feedCursor)});
            std::copy_n(tail.data() + (q - tailStart) * ch, count * ch, input.data());
        } else if (feedCursor < n) {
            count = std::min<uint64_t>(kStreamRefillFrames, native - uint64_t(feedCursor));
            const uint64_t got = readNative(uint64_t(feedCursor), count, input.data());
            if (got < count) {
                std::fill(input.data() + got * ch, input.data() + count * ch, 0.0f);
                ok = false;
            }
        } else {
            const uint64_t q = uint64_t(feedCursor - n) % native;
            const uint64_t headFrames = seamHead.size() / ch;
            count = q < headFrames ? std::min<uint64_t>(kStreamRefillFrames, headFrames - q)
                                   : kStreamRefillFrames;
            if (q < headFrames) {
                std::copy_n(seamHead.data() + q * ch, count * ch, input.data());
            } else {
                std::fill_n(input.data(), count * ch, 0.0f); // far past the seam: never reached
            }
        }
        inputBegin = 0;
        inputEnd = count;
        feedCursor += int64_t(count);
        return ok;
    }

    // Runs the resampler until it has made `count` frames into out (null: thrown away). Returns the
    // frames made before the file gave out or the resampler made no progress (count when neither
    // happened; out is zero-filled past a stall).
    uint64_t resample(float* out, uint64_t count) {
        const uint32_t ch = channels();
        uint64_t made = 0;
        uint64_t good = count;
        while (made < count) {
            if (inputBegin == inputEnd && !loadInput() && good == count) {
                good = made;
            }
            ma_uint64 inCount = inputEnd - inputBegin;
            ma_uint64 outCount = count - made;
            float* dst = out ? out + made * ch : discard.data();
            if (!out) {
                outCount = std::min<ma_uint64>(outCount, discard.size() / ch);
            }
            if (ma_resampler_process_pcm_frames(&resampler, input.data() + inputBegin * ch, &inCount, dst,
                                                &outCount) != MA_SUCCESS ||
                (inCount == 0 && outCount == 0)) {
                if (out) {
                    std::fill(out + made * ch, out + count * ch, 0.0f);
                }
                return std::min(good, made);
            }
            inputBegin += inCount;
            made += outCount;
        }
        return good;
    }

    // Makes the decoder's next frame song frame `position`. For a resampled song, a fresh resampler
    // starts on a whole number of rate ratios (so that its frames stand where resampleLoop's do),
    // primed over kPrimeFrames and more, and its frames up to `position` are thrown away.
    bool reposition(uint64_t position) {
        outputPos = position;
        dry = false;
        if (!resampling) {
            return true;
        }
        const uint64_t steps = position / outStep;
        const uint64_t alignedIn = steps * inStep;
        const uint64_t alignedOut = steps * outStep;
        if (resamplerOpen) {
            ma_resampler_uninit(&resampler, nullptr);
            resamplerOpen = false;
        }
        const ma_resampler_config config = stemResamplerConfig(channels(), opened.rate);
        if (ma_resampler_init(&config, nullptr, &resampler) != MA_SUCCESS) {
            return false;
        }
        resamplerOpen = true;
        // Its first frame stands for the input frame before the first it is fed: feeding from
        // prime - 1 frames before alignedIn puts frame skipOut on alignedIn.
        feedCursor = int64_t(alignedIn) - int64_t(prime) + 1;
        inputBegin = inputEnd = 0;
        const uint64_t skip = skipOut + (position - alignedOut);
        return resample(nullptr, skip) == skip;
    }

    // The song's frames [outputPos, outputPos + count) into out. Returns how many came before the
    // file gave out (count when it did not); the frames from there are silence, and so is what
    // follows until the next reposition.
    uint64_t decodeOutput(float* out, uint64_t count) {
        const uint32_t ch = channels();
        uint64_t good = 0;
        if (dry) {
            std::fill(out, out + count * ch, 0.0f);
        } else if (resampling) {
            good = resample(out, count);
        } else {
            good = readNative(outputPos, count, out);
            std::fill(out + good * ch, out + count * ch, 0.0f);
        }
        outputPos += count;
        dry = good < count;
        return good;
    }
};

// ---- Opening ----

AudioStream::AudioStream() = default;

AudioStream::~AudioStream() {
    if (fedByThread_) {
        streamFeederRemove(*this);
    }
    if (engine_) {
        engine_->forgetStream(*this);
    }
}

AudioResult AudioStream::open(FileBytes bytes, const std::string& name, bool decodingThread,
                              uint64_t headFrames, double maxSeconds) {
    if (decoder_ || bytes.empty()) {
        return AudioResult::InvalidParameter;
    }
    bytes_ = std::move(bytes);
    name_ = name;
    auto decoder = std::make_unique<StreamDecoder>();
    OpenedAudio& opened = decoder->opened;
    // An MP3's seek table comes from the frame-header scan that also gives its length.
    const auto seekPoints =
        uint32_t(std::min<uint64_t>(bytes_.size() / kMp3BytesPerSeekPoint + 16, 1u << 20));
    AudioResult result = openAudio(bytes_.data(), bytes_.size(), maxSeconds, opened, seekPoints);
    if (result != AudioResult::Ok) {
        bytes_.clear();
        return result;
    }
    const uint32_t ch = opened.channels;
    uint64_t native = opened.format == ma_encoding_format_mp3 ? opened.keep : recordedLength(opened);
    if (native == 0 && opened.format != ma_encoding_format_mp3 &&
        opened.format != ma_encoding_format_vorbis) {
        native = opened.declared;
    }
    if (native == 0 && opened.format != ma_encoding_format_mp3) {
        // No length up front: count the frames once, keeping none of them.
        std::vector<float> scratch(size_t(kStreamRefillFrames) * ch);
        ma_decoder& d = opened.guard.decoder;
        const auto limit = uint64_t(std::min(maxSeconds, kMaxDecodedSeconds) * opened.rate);
        while (native <= limit) {
            ma_uint64 got = 0;
            const ma_result r = ma_decoder_read_pcm_frames(&d, scratch.data(), kStreamRefillFrames, &got);
            native += got;
            if (got == 0 || (r != MA_SUCCESS && r != MA_AT_END)) {
                break;
            }
        }
        decoder->nativePos = ~0ull;
        if (native > limit) {
            bytes_.clear();
            return AudioResult::OutOfMemory;
        }
    }
    if (native == 0) {
        bytes_.clear();
        return AudioResult::FileLoadFailed;
    }
    decoder->native = native;
    channels_ = ch;
    frames_ = engineFrames(native, opened.rate);
    padded_.store(frames_, std::memory_order_relaxed);

    StreamDecoder& d = *decoder;
    d.input.assign(size_t(kStreamRefillFrames) * ch, 0.0f);
    if (opened.rate != kEngineSampleRate) {
        d.resampling = true;
        const uint64_t divisor = greatestCommonDivisor(opened.rate, kEngineSampleRate);
        d.inStep = opened.rate / divisor;
        d.outStep = kEngineSampleRate / divisor;
        d.prime = (kPrimeFrames + d.inStep - 1) / d.inStep * d.inStep;
        d.skipOut = d.prime / d.inStep * d.outStep;
        d.discard.assign(size_t(kStreamRefillFrames) * ch, 0.0f);
        // The seam: the song's last native frames prime each pass, its first ones end it.
        const uint64_t tailFrames = std::min(native, d.prime);
        d.tail.assign(size_t(tailFrames) * ch, 0.0f);
        d.readNative(native - tailFrames, tailFrames, d.tail.data());
        const uint64_t seamFrames = std::min(native, kSeamHeadFrames);
        d.seamHead.assign(size_t(seamFrames) * ch, 0.0f);
        d.readNative(0, seamFrames, d.seamHead.data());
    }
    headFrames_ = std::min({frames_, headFrames, kStreamHeadFrames});
    head_.reset(new float[size_t(headFrames_) * ch]);
    d.reposition(0);
    if (const uint64_t good = d.decodeOutput(head_.get(), headFrames_); good < headFrames_) {
        reportDamage(good);
    }
    reportLoss(d);
    ring_.reset(new float[size_t(kStreamRingFrames) * ch]());
    decoder_ = std::move(decoder);
    fedByThread_ = decodingThread;
    if (fedByThread_) {
        streamFeederAdd(*this);
    }
    return AudioResult::Ok;
}

uint64_t AudioStream::decodedBytes() const {
    if (!decoder_) {
        return 0;
    }
    const StreamDecoder& d = *decoder_;
    const uint64_t floats = (kStreamRingFrames + headFrames_) * channels_ + d.tail.size() +
                            d.seamHead.size() + d.input.size() + d.discard.size();
    return floats * sizeof(float);
}

void AudioStream::padTo(uint64_t frames) {
    if (engine_) {
        engine_->stopStream(*this);
    }
    frames = std::max(frames, frames_);
    if (frames != paddedFrameCount()) {
        padded_.store(frames, std::memory_order_relaxed);
        requestSeek(0); // what the ring holds was decoded for the old length
    }
}

void AudioStream::setLooping(bool looping) {
    if (engine_) {
        engine_->stopStream(*this);
    }
    if (looping != getLooping()) {
        looping_.store(looping, std::memory_order_relaxed);
        requestSeek(0);
    }
}

void AudioStream::reportDamage(uint64_t position) {
    if (damageReported_) {
        return;
    }
    damageReported_ = true;
    logError(stderr, "Warning: %s: the audio ends early or is damaged at %.3f s; it plays on as silence",
             name_.c_str(), double(position) / kEngineSampleRate);
}

void AudioStream::reportLoss(StreamDecoder& d) {
    if (d.lostNative != ~0ull) {
        reportDamage(engineFrames(d.lostNative, d.opened.rate));
        d.lostNative = ~0ull;
    }
}

// ---- The decoder's side ----

// Song frames [position, position + count) into out, all within one pass; returns how many it
// made (fewer where the head, the song or its padding ends).
uint64_t AudioStream::produce(uint64_t position, uint64_t count, float* out) {
    StreamDecoder& d = *decoder_;
    const uint32_t ch = channels_;
    if (position >= frames_) {
        std::fill(out, out + count * ch, 0.0f); // the padding
        return count;
    }
    count = std::min(count, frames_ - position);
    if (position < headFrames_) {
        count = std::min(count, headFrames_ - position);
        std::copy_n(head_.get() + position * ch, count * ch, out);
        return count;
    }
    if (d.outputPos != position || (d.dry && position == headFrames_)) {
        // A seek, or a new pass past the head: the decoder moves (ahead of the mixer, in the ring).
        d.reposition(position);
    }
    const bool wasDry = d.dry;
    if (const uint64_t good = d.decodeOutput(out, count); good < count && !wasDry) {
        reportDamage(position + good);
    }
    reportLoss(d);
    return count;
}

uint64_t AudioStream::refill(uint64_t maxFrames) {
    if (!decoder_ || stalled() || !played_.load(std::memory_order_acquire)) {
        return 0;
    }
    const uint64_t request = request_.load(std::memory_order_acquire);
    const auto generation = uint32_t(request >> 48);
    if (generation != producedGeneration_) {
        producedGeneration_ = generation;
        writeAbs_ = request & kFrameMask;
        written_.store(pack(generation, writeAbs_), std::memory_order_release);
    } else if (full()) {
        return 0;
    }
    const uint64_t padded = paddedFrameCount();
    const bool looping = getLooping();
    uint64_t done = 0;
    while (done < maxFrames) {
        const uint64_t read = readAbs_.load(std::memory_order_acquire);
        if (read > writeAbs_ || writeAbs_ - read >= kStreamRingFrames) {
            break; // full (or the mixer has moved on to a newer seek)
        }
        if (!looping && writeAbs_ >= padded) {
            break; // the end of a stream that does not loop
        }
        const uint64_t position = looping ? writeAbs_ % padded : writeAbs_;
        uint64_t count = std::min({maxFrames - done, kStreamRingFrames - (writeAbs_ - read),
                                   kStreamRingFrames - (writeAbs_ & kRingMask), padded - position});
        count = produce(position, count, ring_.get() + (writeAbs_ & kRingMask) * channels_);
        writeAbs_ += count;
        done += count;
        written_.store(pack(generation, writeAbs_), std::memory_order_release);
        if (request_.load(std::memory_order_relaxed) != request) {
            break; // a seek came: its frames first
        }
    }
    return done;
}

bool AudioStream::full() const {
    if (!decoder_ || uint32_t(request_.load(std::memory_order_acquire) >> 48) != producedGeneration_) {
        return false;
    }
    const uint64_t read = readAbs_.load(std::memory_order_acquire);
    if (!getLooping() && writeAbs_ >= paddedFrameCount()) {
        return true;
    }
    return read <= writeAbs_ && writeAbs_ - read + kStreamRefillFrames > kStreamRingFrames;
}

bool AudioStream::hungry() const {
    if (!decoder_ || stalled() || !played_.load(std::memory_order_acquire)) {
        return false;
    }
    if (uint32_t(request_.load(std::memory_order_acquire) >> 48) != producedGeneration_) {
        return true;
    }
    const uint64_t read = readAbs_.load(std::memory_order_acquire);
    return read <= writeAbs_ && writeAbs_ - read < kStreamRingFrames / 4 && !full();
}

// ---- The engine's side ----

uint64_t AudioStream::readable(uint64_t at) const {
    const uint64_t written = written_.load(std::memory_order_acquire);
    if (uint32_t(written >> 48) != (generation_ & 0xFFFF)) {
        return 0;
    }
    const uint64_t end = written & kFrameMask;
    return end > at ? end - at : 0;
}

const float* AudioStream::framesAt(uint64_t at, uint64_t& count) const {
    count = std::min(count, kStreamRingFrames - (at & kRingMask));
    return ring_.get() + (at & kRingMask) * channels_;
}

void AudioStream::requestSeek(uint64_t at) {
    generation_ = (generation_ + 1) & 0xFFFF;
    readAbs_.store(at, std::memory_order_release);
    request_.store(pack(generation_, at), std::memory_order_release);
}
