#include "audio/audio_decode.hpp"

#include "audio/audio_decode_detail.hpp"
#include "audio/audio_format.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

// ---- Output buffer ----

// Collects decoded frames. Reserved at the expected length up front so that a correctly
// described file is written in place with no second copy; grows (bounded by maxFrames) only
// when the decoder's length was missing or wrong, and is trimmed to the exact length at the end.
class FrameBuffer {
public:
    FrameBuffer(uint32_t channels, uint64_t maxFrames) : channels_(channels), maxFrames_(maxFrames) {}

    // Room for at least want more frames; null when the limit is reached or memory runs out.
    float* tail(uint64_t want) {
        if (used_ + want > capacity_ && !grow(used_ + want)) {
            return nullptr;
        }
        return buffer_.get() + used_ * channels_;
    }
    bool reserve(uint64_t frames) { return frames <= capacity_ || grow(frames, true); }
    void commit(uint64_t frames) { used_ += frames; }
    void truncate(uint64_t frames) { used_ = std::min(used_, frames); }
    uint64_t used() const { return used_; }
    const float* data() const { return buffer_.get(); }

    // Hands the samples over, reallocated to their exact size when the reserve was too large.
    bool finish(DecodedAudio& out) {
        if (used_ < capacity_) {
            std::unique_ptr<float[]> exact(new (std::nothrow) float[used_ * channels_]);
            if (!exact) {
                return false;
            }
            std::copy(buffer_.get(), buffer_.get() + used_ * channels_, exact.get());
            buffer_ = std::move(exact);
            capacity_ = used_;
        }
        out.samples = std::move(buffer_);
        out.frames = used_;
        out.channels = channels_;
        return true;
    }

private:
    bool grow(uint64_t needed, bool exact = false) {
        if (needed > maxFrames_) {
            return false;
        }
        uint64_t target = needed;
        if (!exact) {
            target = std::max<uint64_t>(needed, capacity_ * 2);
            target = std::max<uint64_t>(target, kEngineSampleRate); // at least one second
            target = std::min(target, maxFrames_);
        }
        // Left uninitialised on purpose: pages are only committed as samples are written.
        std::unique_ptr<float[]> bigger(new (std::nothrow) float[target * channels_]);
        if (!bigger) {
            return false;
        }
        if (buffer_) {
            std::copy(buffer_.get(), buffer_.get() + used_ * channels_, bigger.get());
        }
        buffer_ = std::move(bigger);
        capacity_ = target;
        return true;
    }

    std::unique_ptr<float[]> buffer_;
    uint64_t capacity_ = 0;
    uint64_t used_ = 0;
    uint32_t channels_;
    uint64_t maxFrames_;
};

// ---- Decoding ----

constexpr uint64_t kChunkFrames = 4096;

// Sample rates a stem file may have (Hz): below, it is no audio; above, no recording.
constexpr uint32_t kMinFileRate = 1000;
constexpr uint32_t kMaxFileRate = 384000;

// Most frames reserved up front from the length a file declares (6.3 minutes at 44.1 kHz): a
// forged header cannot make the decoder reserve more; longer audio grows the buffer as it decodes.
constexpr uint64_t kMaxReservedFrames = uint64_t(1) << 24;

// The most channels a stem file may have: more than any surround layout, within what miniaudio's
// channel converter takes.
constexpr ma_uint32 kMaxFileChannels = 32;

} // namespace

ma_result readMemory(MemoryFile& file, void* out, size_t bytes, size_t* bytesRead) {
    const size_t count = std::min(bytes, file.size - file.position);
    if (count > 0) {
        std::memcpy(out, file.data + file.position, count);
    }
    file.position += count;
    *bytesRead = count;
    return count == 0 && bytes > 0 ? MA_AT_END : MA_SUCCESS;
}

ma_result seekMemory(MemoryFile& file, ma_int64 offset, ma_seek_origin origin) {
    const ma_int64 base = origin == ma_seek_origin_start     ? 0
                          : origin == ma_seek_origin_current ? ma_int64(file.position)
                                                             : ma_int64(file.size);
    if (offset < -base || offset > ma_int64(file.size) - base) {
        return MA_BAD_SEEK;
    }
    file.position = size_t(base + offset);
    return MA_SUCCESS;
}

namespace {

// libvorbis as a decoding backend of miniaudio's decoder, reading the bytes in memory (the game)
// or through the decoder's read and seek callbacks (a file streamed by the authoring tool); the
// decoder converts what it decodes like any other format's frames. A stream with more channels
// than kMaxFileChannels is refused here, before the decoder's converter would refuse it (see
// DecoderGuard).
ma_result openVorbis(ma_read_proc read, ma_seek_proc seek, ma_tell_proc tell, void* reader,
                     const ma_decoding_backend_config* config, const ma_allocation_callbacks* allocation,
                     ma_libvorbis* vorbis) {
    ma_result result = ma_libvorbis_init(read, seek, tell, reader, config, allocation, vorbis);
    if (result != MA_SUCCESS) {
        return result;
    }
    ma_uint32 channels = 0;
    result = ma_libvorbis_get_data_format(vorbis, nullptr, &channels, nullptr, nullptr, 0);
    if (result != MA_SUCCESS || channels == 0 || channels > kMaxFileChannels) {
        ma_libvorbis_uninit(vorbis, allocation);
        return MA_INVALID_FILE;
    }
    return MA_SUCCESS;
}

struct VorbisInMemory {
    ma_libvorbis vorbis; // first: the block is the data source, and uninitVorbis frees it as one
    MemoryFile file;
};

ma_result initVorbisFromMemory(void*, const void* data, size_t size, const ma_decoding_backend_config* config,
                               const ma_allocation_callbacks* allocation, ma_data_source** backend) {
    auto* source = static_cast<VorbisInMemory*>(ma_malloc(sizeof(VorbisInMemory), allocation));
    if (!source) {
        return MA_OUT_OF_MEMORY;
    }
    source->file = MemoryFile{static_cast<const unsigned char*>(data), size, 0};
    auto read = [](void* file, void* out, size_t bytes, size_t* bytesRead) {
        return readMemory(*static_cast<MemoryFile*>(file), out, bytes, bytesRead);
    };
    auto seek = [](void* file, ma_int64 offset, ma_seek_origin origin) {
        return seekMemory(*static_cast<MemoryFile*>(file), offset, origin);
    };
    auto tell = [](void* file, ma_int64* position) {
        *position = ma_int64(static_cast<MemoryFile*>(file)->position);
        return MA_SUCCESS;
    };
    const ma_result result = openVorbis(read, seek, tell, &source->file, config, allocation, &source->vorbis);
    if (result != MA_SUCCESS) {
        ma_free(source, allocation);
        return result;
    }
    *backend = &source->vorbis;
    return MA_SUCCESS;
}

ma_result initVorbisFromCallbacks(void*, ma_read_proc read, ma_seek_proc seek, ma_tell_proc tell,
                                  void* reader, const ma_decoding_backend_config* config,
                                  const ma_allocation_callbacks* allocation, ma_data_source** backend) {
    auto* vorbis = static_cast<ma_libvorbis*>(ma_malloc(sizeof(ma_libvorbis), allocation));
    if (!vorbis) {
        return MA_OUT_OF_MEMORY;
    }
    const ma_result result = openVorbis(read, seek, tell, reader, config, allocation, vorbis);
    if (result != MA_SUCCESS) {
        ma_free(vorbis, allocation);
        return result;
    }
    *backend = vorbis;
    return MA_SUCCESS;
}

void uninitVorbis(void*, ma_data_source* backend, const ma_allocation_callbacks* allocation) {
    ma_libvorbis_uninit(static_cast<ma_libvorbis*>(backend), allocation);
    ma_free(backend, allocation);
}

ma_decoding_backend_vtable vorbisBackend = {initVorbisFromCallbacks, nullptr, nullptr, initVorbisFromMemory,
                                            uninitVorbis};
ma_decoding_backend_vtable* vorbisBackends[] = {&vorbisBackend};

} // namespace

DecoderGuard::~DecoderGuard() {
    if (open) {
        ma_decoder_uninit(&decoder);
    }
}

// WAV, FLAC and MP3 are opened through read and seek callbacks rather than miniaudio's own memory
// reader: when the sample converter refuses a file that opened (a WAV of hundreds of channels),
// miniaudio 0.11.22's memory path uninitialises the decoder a second time and frees a pointer that
// is not its own. Ogg Vorbis goes through the memory path to its own backend, which reads the
// memory itself (libvorbis needs to tell where it is) and refuses such files before that point.
bool DecoderGuard::init(const unsigned char* data, size_t size, ma_encoding_format format, uint32_t channels,
                        uint32_t seekPoints) {
    if (open) {
        ma_decoder_uninit(&decoder);
        open = false;
    }
    ma_decoder_config config = ma_decoder_config_init(ma_format_f32, channels, 0);
    config.encodingFormat = format;
    config.seekPointCount = seekPoints;
    if (format == ma_encoding_format_vorbis) {
        useVorbisBackend(config);
        open = ma_decoder_init_memory(data, size, &config, &decoder) == MA_SUCCESS;
    } else {
        file = MemoryFile{data, size, 0};
        auto read = [](ma_decoder* self, void* out, size_t bytes, size_t* bytesRead) {
            return readMemory(*static_cast<MemoryFile*>(self->pUserData), out, bytes, bytesRead);
        };
        auto seek = [](ma_decoder* self, ma_int64 offset, ma_seek_origin origin) {
            return seekMemory(*static_cast<MemoryFile*>(self->pUserData), offset, origin);
        };
        open = ma_decoder_init(read, seek, &file, &config, &decoder) == MA_SUCCESS;
    }
    return open;
}

// ---- Reading frames in place ----

// Tries of a FLAC decoder that stopped before the file's length: each skips a frame it could not
// decode, and more damaged frames in a row than this end the song there.
constexpr int kFlacRetries = 16;

bool PlacedReader::seek(OpenedAudio& opened, uint64_t at) {
    ma_decoder& decoder = opened.guard.decoder;
    seekTo(at);
    if (ma_decoder_seek_to_pcm_frame(&decoder, at) != MA_SUCCESS) {
        return false;
    }
    // The decoder seeks by counting the frames it decodes, and counts none for a damaged one.
    FlacFramePlace place;
    if (opened.format != ma_encoding_format_flac || !flacFramePlace(decoder, place)) {
        return true;
    }
    const uint64_t next = place.first + place.size - place.remaining; // the frame it gives next
    if (next > at && place.first >= at) {
        flacRewindFrame(decoder); // the whole good frame, after silence up to it
        silence = place.first - at;
    } else if (next > at) {
        silence = next - at;
    }
    return true;
}

uint64_t PlacedReader::read(OpenedAudio& opened, float* out, uint64_t frames, uint64_t& lost) {
    ma_decoder& decoder = opened.guard.decoder;
    const uint32_t ch = opened.channels;
    const bool flac = opened.format == ma_encoding_format_flac;
    lost = frames;
    uint64_t got = 0;
    while (got < frames && !failed) {
        if (silence > 0) {
            const uint64_t quiet = std::min(silence, frames - got);
            std::fill_n(out + got * ch, quiet * ch, 0.0f);
            lost = std::min(lost, got);
            got += quiet;
            silence -= quiet;
            position += quiet;
            continue;
        }
        // A FLAC frame is read on its own first frame, so that a skip shows before more is read.
        uint64_t want = frames - got;
        FlacFramePlace place;
        const bool frameStarts = flac && flacFramePlace(decoder, place) && place.remaining == 0;
        if (frameStarts) {
            want = 1;
        } else if (flac) {
            want = std::min(want, place.remaining);
        }
        ma_uint64 read = 0;
        ma_result result = ma_decoder_read_pcm_frames(&decoder, out + got * ch, want, &read);
        // A FLAC frame too damaged to decode ends the decoder's read; asked again, it looks for the
        // next frame's header past it. Each try reads on through the file, so the tries end.
        for (int retry = 0; flac && read == 0 && position < opened.declared && retry < kFlacRetries;
             ++retry) {
            result = ma_decoder_read_pcm_frames(&decoder, out + got * ch, want, &read);
        }
        failed = result != MA_SUCCESS && result != MA_AT_END;
        if (read == 0) {
            break;
        }
        if (frameStarts && flacFramePlace(decoder, place) && place.first > position) {
            // The frames [position, first) were lost: silence for them, then this frame from its start.
            flacRewindFrame(decoder);
            silence = place.first - position;
            continue;
        }
        got += read;
        position += read;
        if (failed) {
            break;
        }
    }
    return got;
}

namespace {

// Reads up to frames frames; returns how many came (0 at the end or on a decode error).
uint64_t readFrames(ma_decoder& decoder, float* dst, uint64_t frames) {
    ma_uint64 got = 0;
    ma_result result = ma_decoder_read_pcm_frames(&decoder, dst, frames, &got);
    if (result != MA_SUCCESS && result != MA_AT_END) {
        return 0;
    }
    return got;
}

// Drops the first frames of the stream (MP3 encoder delay).
void skipFrames(ma_decoder& decoder, uint64_t frames, std::vector<float>& scratch, uint32_t channels) {
    while (frames > 0) {
        uint64_t n = std::min(frames, kChunkFrames);
        scratch.resize(size_t(kChunkFrames) * channels);
        uint64_t got = readFrames(decoder, scratch.data(), n);
        if (got == 0) {
            return;
        }
        frames -= got;
    }
}

// Native rate: the decoder writes straight into the output buffer.
bool decodeDirect(OpenedAudio& opened, PlacedReader& reader, uint64_t keepFrames, FrameBuffer& out) {
    while (out.used() < keepFrames) {
        uint64_t want = std::min(kChunkFrames, keepFrames - out.used());
        float* dst = out.tail(want);
        if (!dst) {
            return false;
        }
        uint64_t lost = 0;
        uint64_t got = reader.read(opened, dst, want, lost);
        if (got == 0) {
            break;
        }
        out.commit(got);
    }
    return true;
}

} // namespace

uint64_t greatestCommonDivisor(uint64_t a, uint64_t b) {
    while (b != 0) {
        const uint64_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

namespace {

// Resamples the frames frames of in (a stem at rate, which loops) to kEngineSampleRate, as a loop:
// the resampler is primed with the stem's end before its first frame and fed the stem's start
// after its last, so the seam gets neither a cold filter's silence and transient nor a silent
// tail. Output frame k stands for input position k × rate / kEngineSampleRate exactly (the prime
// is a whole number of rate ratios, which puts an output frame on the first input frame).
bool resampleLoop(const float* in, uint64_t frames, uint32_t channels, uint32_t rate, FrameBuffer& out) {
    ma_resampler_config config = stemResamplerConfig(channels, rate);
    ma_resampler resampler;
    if (ma_resampler_init(&config, nullptr, &resampler) != MA_SUCCESS) {
        return false;
    }
    const uint64_t divisor = greatestCommonDivisor(rate, kEngineSampleRate);
    const uint64_t inStep = rate / divisor;
    const uint64_t outStep = kEngineSampleRate / divisor;
    const uint64_t prime = (kPrimeFrames + inStep - 1) / inStep * inStep;
    const uint64_t skipOut = prime / inStep * outStep;
    const uint64_t wanted = skipOut + (frames * kEngineSampleRate + rate - 1) / rate;
    // The resampler's first output frame stands for the input frame before its first (it starts
    // from silence, one frame back); starting the feed prime - 1 frames before the stem's first
    // frame puts output skipOut on that frame.
    uint64_t cursor = (frames - (prime - 1) % frames) % frames;
    std::vector<float> discard;
    uint64_t produced = 0;
    bool ok = true;
    while (ok && produced < wanted) {
        ma_uint64 inCount = std::min(kChunkFrames, frames - cursor);
        uint64_t room = std::min<uint64_t>(wanted - produced, inCount * kEngineSampleRate / rate + 2);
        float* dst = nullptr;
        if (produced < skipOut) {
            room = std::min(room, skipOut - produced);
            discard.resize(size_t(room) * channels);
            dst = discard.data();
        } else if (!(dst = out.tail(room))) {
            ok = false;
            break;
        }
        ma_uint64 outCount = room;
        if (ma_resampler_process_pcm_frames(&resampler, in + cursor * channels, &inCount, dst, &outCount) !=
                MA_SUCCESS ||
            (inCount == 0 && outCount == 0)) {
            ok = false; // no progress: give up rather than spin
            break;
        }
        if (produced >= skipOut) {
            out.commit(outCount);
        }
        produced += outCount;
        cursor = (cursor + inCount) % frames;
    }
    ma_resampler_uninit(&resampler, nullptr);
    return ok;
}

} // namespace

void useVorbisBackend(ma_decoder_config& config) {
    config.ppCustomBackendVTables = vorbisBackends;
    config.customBackendCount = 1;
}

// ---- Opening a file ----

// Recognises the bytes, opens the decoder on them and reads the length and trim; the refusals are
// decodeAudio's. `data` and `size` must outlive `opened`.
AudioResult openAudio(const unsigned char* data, size_t size, double maxSeconds, OpenedAudio& opened,
                      uint32_t seekPoints) {
    switch (detectContainer(data, size)) {
    case AudioContainer::Wav:
        if (!wavEncodingAccepted(data, size)) {
            return AudioResult::FileLoadFailed;
        }
        opened.format = ma_encoding_format_wav;
        break;
    case AudioContainer::Flac:
        opened.format = ma_encoding_format_flac;
        break;
    case AudioContainer::Mp3: {
        // The decoder starts on the first real frame, past whatever tags and junk come first.
        const size_t start = findMp3Stream(data, size);
        data += start;
        size -= start;
        opened.format = ma_encoding_format_mp3;
        break;
    }
    case AudioContainer::Vorbis:
        opened.format = ma_encoding_format_vorbis;
        break;
    case AudioContainer::Unknown:
        return AudioResult::FileLoadFailed;
    }

    DecoderGuard& guard = opened.guard;
    if (!guard.init(data, size, opened.format, 0, seekPoints)) {
        return AudioResult::FileLoadFailed;
    }
    uint32_t channels = guard.decoder.outputChannels;
    const uint32_t rate = guard.decoder.outputSampleRate;
    if (channels == 0 || channels > kMaxFileChannels || rate < kMinFileRate || rate > kMaxFileRate) {
        return AudioResult::FileLoadFailed;
    }
    if (channels > 2) {
        // Let miniaudio's channel converter fold surround files down to stereo.
        if (!guard.init(data, size, opened.format, 2, seekPoints)) {
            return AudioResult::FileLoadFailed;
        }
        channels = 2;
    }
    opened.channels = channels;
    opened.rate = rate;

    ma_uint64 declared = 0;
    if (ma_decoder_get_length_in_pcm_frames(&guard.decoder, &declared) != MA_SUCCESS) {
        declared = 0;
    }
    const Mp3Trim trim = opened.format == ma_encoding_format_mp3 ? readMp3Trim(data, size) : Mp3Trim{};
    opened.maxNative = uint64_t(maxSeconds * rate);
    // The decoder's count stops at the first frame it cannot read; the header knows the whole song,
    // and what cannot be decoded then plays as silence. A count past the limit is not believed.
    if (trim.recordedFrames <= opened.maxNative) {
        declared = std::max<uint64_t>(declared, trim.recordedFrames);
    }
    opened.declared = declared;
    if (declared > opened.maxNative) {
        return AudioResult::OutOfMemory;
    }

    // MP3 decoders emit the encoder's delay and padding as extra silence; drop them so that the
    // stem has its true length and loops without a gap.
    opened.keep = declared > 0 ? declared : opened.maxNative + 1;
    if (opened.format == ma_encoding_format_mp3) {
        if (trim.found && declared > 0) {
            opened.skip = std::min<uint64_t>(trim.leadingFrames, declared);
            opened.keep = declared - opened.skip;
            opened.keep -= std::min(opened.keep, trim.trailingFrames);
        }
    }
    return AudioResult::Ok;
}

uint64_t engineFrames(uint64_t frames, uint32_t rate) {
    return rate == kEngineSampleRate ? frames : (frames * kEngineSampleRate + rate - 1) / rate;
}

namespace {

// Whether the decoder can seek to the last of `frames` frames and read it, and no frame follows:
// then the bytes hold that whole length (a truncated file fails the seek or the read).
bool lastFrameReadable(ma_decoder& decoder, uint64_t frames) {
    float frame[2];
    ma_uint64 got = 0, after = 0;
    return frames > 0 && ma_decoder_seek_to_pcm_frame(&decoder, frames - 1) == MA_SUCCESS &&
           ma_decoder_read_pcm_frames(&decoder, frame, 1, &got) == MA_SUCCESS && got == 1 &&
           ma_decoder_read_pcm_frames(&decoder, frame, 1, &after) != MA_SUCCESS && after == 0;
}

} // namespace

// The length an opened file records up front, in frames at its own rate; 0 when it records none
// that the decoder is sure to reach. miniaudio reports none for Ogg Vorbis, which the decoder then
// reads to its end: libvorbisfile's total is the stream's last granule position less its first
// page's offset, which is where that reading stops.
uint64_t recordedLength(OpenedAudio& opened) {
    if (opened.format != ma_encoding_format_vorbis) {
        return opened.format == ma_encoding_format_mp3 ? 0 : opened.declared;
    }
    OggVorbis_File& file = static_cast<ma_libvorbis*>(opened.guard.decoder.pBackend)->vf;
    if (ov_seekable(&file) == 0 || ov_streams(&file) != 1) {
        return 0; // chained streams may change their format from link to link
    }
    const ogg_int64_t total = ov_pcm_total(&file, -1);
    // Reading to the end asks for a whole chunk past the last frame, which the 20-minute limit may
    // refuse: near it, only decoding tells.
    return total > 0 && uint64_t(total) + kChunkFrames <= opened.maxNative ? uint64_t(total) : 0;
}

// ---- Public interface ----

AudioResult decodeAudio(const unsigned char* data, size_t size, DecodedAudio& out, double maxSeconds) {
    out = DecodedAudio{};
    if (!data || size == 0 || !(maxSeconds > 0.0)) {
        return AudioResult::InvalidParameter;
    }
    maxSeconds = std::min(maxSeconds, kMaxDecodedSeconds);
    OpenedAudio opened;
    if (const AudioResult result = openAudio(data, size, maxSeconds, opened); result != AudioResult::Ok) {
        return result;
    }
    ma_decoder& decoder = opened.guard.decoder;
    const uint32_t channels = opened.channels;
    const uint32_t rate = opened.rate;
    const uint64_t declared = opened.declared;
    const uint64_t maxNative = opened.maxNative;
    const uint64_t keep = opened.keep;
    const uint64_t maxOutput = uint64_t(maxSeconds * kEngineSampleRate) + 1;
    std::vector<float> scratch;
    skipFrames(decoder, opened.skip, scratch, channels);
    PlacedReader reader;
    reader.seekTo(opened.skip);

    FrameBuffer buffer(channels, rate == kEngineSampleRate ? maxNative : maxOutput);
    if (rate == kEngineSampleRate) {
        if (declared > 0 && !buffer.reserve(std::min({keep, maxNative, kMaxReservedFrames}))) {
            return AudioResult::OutOfMemory;
        }
        if (!decodeDirect(opened, reader, keep, buffer)) {
            return AudioResult::OutOfMemory;
        }
    } else {
        // The whole stem at its own rate first: the resampler needs its end before its start.
        FrameBuffer native(channels, maxNative);
        if (declared > 0 && !native.reserve(std::min({keep, maxNative, kMaxReservedFrames}))) {
            return AudioResult::OutOfMemory;
        }
        if (!decodeDirect(opened, reader, keep, native)) {
            return AudioResult::OutOfMemory;
        }
        if (native.used() > 0) {
            const uint64_t expected = engineFrames(native.used(), rate);
            if (!buffer.reserve(std::min(expected, maxOutput)) ||
                !resampleLoop(native.data(), native.used(), channels, rate, buffer)) {
                return AudioResult::OutOfMemory;
            }
        }
    }
    if (buffer.used() == 0) {
        return AudioResult::FileLoadFailed;
    }
    if (!buffer.finish(out)) {
        return AudioResult::OutOfMemory;
    }
    // A float WAV can carry infinities and not-a-numbers; one would silence the whole mix.
    for (uint64_t i = 0; i < out.frames * out.channels; ++i) {
        if (!std::isfinite(out.samples[i])) {
            out.samples[i] = 0.0f;
        }
    }
    return AudioResult::Ok;
}

AudioResult measureAudio(const unsigned char* data, size_t size, AudioLength& out, double maxSeconds) {
    out = AudioLength{};
    if (!data || size == 0 || !(maxSeconds > 0.0)) {
        return AudioResult::InvalidParameter;
    }
    maxSeconds = std::min(maxSeconds, kMaxDecodedSeconds);
    {
        OpenedAudio opened;
        if (const AudioResult result = openAudio(data, size, maxSeconds, opened); result != AudioResult::Ok) {
            return result;
        }
        // An MP3 records no length the decoder goes by: it counts the stream's frames by walking
        // all of them, and a frame that does not decode shortens the stem. Decoded below, as is a
        // file whose header gives no length or more than its bytes hold.
        const uint64_t recorded = recordedLength(opened);
        if (recorded > 0 && lastFrameReadable(opened.guard.decoder, recorded)) {
            out.frames = engineFrames(recorded, opened.rate);
            out.channels = opened.channels;
            return AudioResult::Ok;
        }
    }
    DecodedAudio decoded;
    const AudioResult result = decodeAudio(data, size, decoded, maxSeconds);
    if (result == AudioResult::Ok) {
        out.frames = decoded.frames;
        out.channels = decoded.channels;
        out.decoded = true;
    }
    return result;
}
