#include "audio/audio_decode.hpp"

#include "audio/miniaudio_config.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

// ---- Format detection ----

enum class Container { Unknown, Wav, Flac, Mp3, Vorbis };

// Length of an ID3v2 tag at the start of the data (header and footer included), or 0.
size_t id3v2Length(const unsigned char *data, size_t size) {
    if (size < 10 || std::memcmp(data, "ID3", 3) != 0) {
        return 0;
    }
    if ((data[6] | data[7] | data[8] | data[9]) & 0x80) {
        return 0; // not a synchsafe size: not a tag
    }
    size_t length = (size_t(data[6]) << 21) | (size_t(data[7]) << 14) | (size_t(data[8]) << 7) | data[9];
    length += 10;
    if (data[5] & 0x10) {
        length += 10; // footer
    }
    return length;
}

struct Mp3Header {
    bool mpeg1 = false;
    bool mono = false;
    bool crc = false;
    bool layer3 = false;
};

// Parses the 4-byte MPEG audio frame header at h; false when it is not one.
bool parseMp3Header(const unsigned char *h, Mp3Header &header) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) {
        return false;
    }
    unsigned version = (h[1] >> 3) & 3; // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5, 1 reserved
    unsigned layer = (h[1] >> 1) & 3;   // 1 = Layer III, 0 reserved
    unsigned bitrate = h[2] >> 4;
    unsigned rate = (h[2] >> 2) & 3;
    if (version == 1 || layer == 0 || bitrate == 15 || rate == 3) {
        return false;
    }
    header.mpeg1 = version == 3;
    header.layer3 = layer == 1;
    header.crc = (h[1] & 1) == 0;
    header.mono = (h[3] >> 6) == 3;
    return true;
}

Container detectContainer(const unsigned char *data, size_t size) {
    if (size >= 4) {
        if (!std::memcmp(data, "RIFF", 4) || !std::memcmp(data, "RIFX", 4) || !std::memcmp(data, "RF64", 4) ||
            !std::memcmp(data, "FORM", 4)) {
            return Container::Wav;
        }
        if (!std::memcmp(data, "fLaC", 4)) {
            return Container::Flac;
        }
        if (!std::memcmp(data, "OggS", 4)) {
            return Container::Vorbis;
        }
    }
    size_t start = id3v2Length(data, size);
    if (start < size && size - start >= 4) {
        if (!std::memcmp(data + start, "fLaC", 4)) {
            return Container::Flac;
        }
        Mp3Header header;
        if (parseMp3Header(data + start, header)) {
            return Container::Mp3;
        }
    }
    return Container::Unknown;
}

// ---- Output buffer ----

// Collects decoded frames. Reserved at the expected length up front so that a correctly
// described file is written in place with no second copy; grows (bounded by maxFrames) only
// when the decoder's length was missing or wrong, and is trimmed to the exact length at the end.
class FrameBuffer {
public:
    FrameBuffer(uint32_t channels, uint64_t maxFrames) : channels_(channels), maxFrames_(maxFrames) {}

    // Room for at least want more frames; null when the limit is reached or memory runs out.
    float *tail(uint64_t want) {
        if (used_ + want > capacity_ && !grow(used_ + want)) {
            return nullptr;
        }
        return buffer_.get() + used_ * channels_;
    }
    bool reserve(uint64_t frames) { return frames <= capacity_ || grow(frames, true); }
    void commit(uint64_t frames) { used_ += frames; }
    void truncate(uint64_t frames) { used_ = std::min(used_, frames); }
    uint64_t used() const { return used_; }
    bool limitReached() const { return limitReached_; }

    // Hands the samples over, reallocated to their exact size when the reserve was too large.
    bool finish(DecodedAudio &out) {
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
            limitReached_ = true;
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
    bool limitReached_ = false;
};

// ---- Decoding ----

constexpr uint64_t kChunkFrames = 4096;

// A miniaudio decoder that is always uninitialised on the way out.
struct DecoderGuard {
    ma_decoder decoder{};
    bool open = false;
    ~DecoderGuard() {
        if (open) {
            ma_decoder_uninit(&decoder);
        }
    }
    bool init(const unsigned char *data, size_t size, ma_encoding_format format, uint32_t channels) {
        if (open) {
            ma_decoder_uninit(&decoder);
            open = false;
        }
        ma_decoder_config config = ma_decoder_config_init(ma_format_f32, channels, 0);
        config.encodingFormat = format;
        open = ma_decoder_init_memory(data, size, &config, &decoder) == MA_SUCCESS;
        return open;
    }
};

// Reads up to frames frames; returns how many came (0 at the end or on a decode error).
uint64_t readFrames(ma_decoder &decoder, float *dst, uint64_t frames) {
    ma_uint64 got = 0;
    ma_result result = ma_decoder_read_pcm_frames(&decoder, dst, frames, &got);
    if (result != MA_SUCCESS && result != MA_AT_END) {
        return 0;
    }
    return got;
}

// Drops the first frames of the stream (MP3 encoder delay).
void skipFrames(ma_decoder &decoder, uint64_t frames, std::vector<float> &scratch, uint32_t channels) {
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
bool decodeDirect(ma_decoder &decoder, uint64_t keepFrames, FrameBuffer &out) {
    while (out.used() < keepFrames) {
        uint64_t want = std::min(kChunkFrames, keepFrames - out.used());
        float *dst = out.tail(want);
        if (!dst) {
            return false;
        }
        uint64_t got = readFrames(decoder, dst, want);
        if (got == 0) {
            break;
        }
        out.commit(got);
    }
    return true;
}

// Other rates: decode in chunks and resample each chunk into the output buffer.
bool decodeResampled(ma_decoder &decoder, uint32_t channels, uint32_t rate, uint64_t keepFrames,
                     FrameBuffer &out) {
    ma_resampler_config config = ma_resampler_config_init(ma_format_f32, channels, rate, kEngineSampleRate,
                                                          ma_resample_algorithm_linear);
    config.linear.lpfOrder = MA_MAX_FILTER_ORDER;
    ma_resampler resampler;
    if (ma_resampler_init(&config, nullptr, &resampler) != MA_SUCCESS) {
        return false;
    }
    std::vector<float> input(size_t(kChunkFrames) * channels);
    bool ok = true;
    uint64_t consumed = 0;
    // Pushes count frames of input through the resampler; count 0 pushes silence to flush it.
    auto push = [&](const float *frames, uint64_t count) {
        while (count > 0) {
            uint64_t room = count * kEngineSampleRate / rate + 16;
            float *dst = out.tail(room);
            if (!dst) {
                return false;
            }
            ma_uint64 inCount = count;
            ma_uint64 outCount = room;
            if (ma_resampler_process_pcm_frames(&resampler, frames, &inCount, dst, &outCount) != MA_SUCCESS) {
                return false;
            }
            out.commit(outCount);
            frames += inCount * channels;
            count -= inCount;
            if (inCount == 0 && outCount == 0) {
                return false; // no progress: give up rather than spin
            }
        }
        return true;
    };
    while (ok && consumed < keepFrames) {
        uint64_t got = readFrames(decoder, input.data(), std::min(kChunkFrames, keepFrames - consumed));
        if (got == 0) {
            break;
        }
        consumed += got;
        ok = push(input.data(), got);
    }
    // The length the input maps to at the engine rate, rounded up; the filter's tail is flushed
    // with silence until the output is that long.
    uint64_t expected = (consumed * kEngineSampleRate + rate - 1) / rate;
    std::fill(input.begin(), input.end(), 0.0f);
    for (int guard = 0; ok && out.used() < expected && guard < 64; ++guard) {
        ok = push(input.data(), 64);
    }
    out.truncate(expected);
    ma_resampler_uninit(&resampler, nullptr);
    return ok;
}

} // namespace

// ---- Public interface ----

Mp3Trim readMp3Trim(const unsigned char *data, size_t size) {
    Mp3Trim trim;
    size_t pos = id3v2Length(data, size);
    Mp3Header header;
    if (pos >= size || size - pos < 4 || !parseMp3Header(data + pos, header) || !header.layer3) {
        return trim;
    }
    size_t sideInfo = header.mpeg1 ? (header.mono ? 17 : 32) : (header.mono ? 9 : 17);
    size_t tag = pos + 4 + (header.crc ? 2 : 0) + sideInfo;
    if (tag > size || size - tag < 8 ||
        (std::memcmp(data + tag, "Xing", 4) && std::memcmp(data + tag, "Info", 4))) {
        return trim;
    }
    const uint64_t frameSamples = header.mpeg1 ? 1152 : 576;
    // The header frame decodes to one frame of silence.
    trim.found = true;
    trim.leadingFrames = frameSamples;

    uint32_t flags = (uint32_t(data[tag + 4]) << 24) | (uint32_t(data[tag + 5]) << 16) |
                     (uint32_t(data[tag + 6]) << 8) | data[tag + 7];
    size_t ext = tag + 8;
    ext += (flags & 1) ? 4 : 0;   // frame count
    ext += (flags & 2) ? 4 : 0;   // byte count
    ext += (flags & 4) ? 100 : 0; // seek table
    ext += (flags & 8) ? 4 : 0;   // quality
    if (ext > size || size - ext < 24) {
        return trim;
    }
    // The LAME extension starts with the encoder's name ("LAME3.100", "Lavc..."); without it the
    // delay fields are not there.
    for (int i = 0; i < 4; ++i) {
        unsigned char c = data[ext + i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return trim;
        }
    }
    uint64_t delay = (uint64_t(data[ext + 21]) << 4) | (data[ext + 22] >> 4);
    uint64_t padding = (uint64_t(data[ext + 22] & 0x0F) << 8) | data[ext + 23];
    // The decoder adds 529 frames of its own delay in front, which the padding at the end
    // already contains.
    const uint64_t decoderDelay = 529;
    trim.leadingFrames += delay + decoderDelay;
    trim.trailingFrames = padding > decoderDelay ? padding - decoderDelay : 0;
    return trim;
}

AudioResult decodeAudio(const unsigned char *data, size_t size, DecodedAudio &out) {
    out = DecodedAudio{};
    if (!data || size == 0) {
        return AudioResult::InvalidParameter;
    }
    ma_encoding_format format = ma_encoding_format_unknown;
    switch (detectContainer(data, size)) {
    case Container::Wav:
        format = ma_encoding_format_wav;
        break;
    case Container::Flac:
        format = ma_encoding_format_flac;
        break;
    case Container::Mp3:
        format = ma_encoding_format_mp3;
        break;
    case Container::Vorbis:
        format = ma_encoding_format_vorbis;
        break;
    case Container::Unknown:
        return AudioResult::FileLoadFailed;
    }

    DecoderGuard guard;
    if (!guard.init(data, size, format, 0)) {
        return AudioResult::FileLoadFailed;
    }
    uint32_t channels = guard.decoder.outputChannels;
    uint32_t rate = guard.decoder.outputSampleRate;
    if (channels == 0 || rate == 0) {
        return AudioResult::FileLoadFailed;
    }
    if (channels > 2) {
        // Let miniaudio's channel converter fold surround files down to stereo.
        if (!guard.init(data, size, format, 2)) {
            return AudioResult::FileLoadFailed;
        }
        channels = 2;
    }

    ma_uint64 declared = 0;
    if (ma_decoder_get_length_in_pcm_frames(&guard.decoder, &declared) != MA_SUCCESS) {
        declared = 0;
    }
    const uint64_t maxNative = uint64_t(kMaxDecodedSeconds * rate);
    const uint64_t maxOutput = uint64_t(kMaxDecodedSeconds * kEngineSampleRate);
    if (declared > maxNative) {
        return AudioResult::OutOfMemory;
    }

    // MP3 decoders emit the encoder's delay and padding as extra silence; drop them so that the
    // stem has its true length and loops without a gap.
    uint64_t keep = declared > 0 ? declared : maxNative + 1;
    uint64_t skip = 0;
    if (format == ma_encoding_format_mp3) {
        Mp3Trim trim = readMp3Trim(data, size);
        if (trim.found && declared > 0) {
            skip = std::min<uint64_t>(trim.leadingFrames, declared);
            keep = declared - skip;
            keep -= std::min(keep, trim.trailingFrames);
        }
    }

    FrameBuffer buffer(channels, maxOutput);
    if (declared > 0) {
        uint64_t expected = rate == kEngineSampleRate ? keep : (keep * kEngineSampleRate + rate - 1) / rate;
        if (!buffer.reserve(std::min(expected, maxOutput))) {
            return AudioResult::OutOfMemory;
        }
    }
    std::vector<float> scratch;
    skipFrames(guard.decoder, skip, scratch, channels);
    bool ok = rate == kEngineSampleRate ? decodeDirect(guard.decoder, keep, buffer)
                                        : decodeResampled(guard.decoder, channels, rate, keep, buffer);
    if (!ok) {
        return AudioResult::OutOfMemory;
    }
    if (buffer.used() == 0) {
        return AudioResult::FileLoadFailed;
    }
    if (!buffer.finish(out)) {
        return AudioResult::OutOfMemory;
    }
    return AudioResult::Ok;
}
