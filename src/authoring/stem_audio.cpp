#include "authoring/stem_audio.hpp"

#include "audio/audio_decode.hpp"
#include "audio/miniaudio_config.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <new>

namespace {

constexpr uint64_t kChunkFrames = 4096;
// Progress is reported every this many chunks (about 0.75 s of audio).
constexpr uint64_t kProgressChunks = 8;
constexpr size_t kHeadBytes = 4u << 20; // enough for an ID3 tag with cover art and the first frame

// A miniaudio file decoder that is always closed on the way out.
struct FileDecoder {
    ma_decoder decoder{};
    bool open = false;
    ~FileDecoder() { close(); }
    void close() {
        if (open) {
            ma_decoder_uninit(&decoder);
            open = false;
        }
    }
    bool init(const std::string& path, uint32_t channels, uint32_t rate) {
        close();
        ma_decoder_config config = ma_decoder_config_init(ma_format_f32, channels, rate);
        useVorbisBackend(config);
        open = ma_decoder_init_file(path.c_str(), &config, &decoder) == MA_SUCCESS;
        return open;
    }
};

// The MP3 encoder delay and padding the file declares, in frames at its own rate.
Mp3Trim readTrim(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<unsigned char> head(kHeadBytes);
    file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return readMp3Trim(head.data(), head.size());
}

} // namespace

bool readStemAudio(const std::string& path, StemAudio& out, std::string& error,
                   const StepProgress& progress) {
    out = StemAudio{};
    {
        std::ifstream probe(path, std::ios::binary);
        if (!probe) {
            error = "cannot open the file";
            return false;
        }
    }
    FileDecoder source;
    if (!source.init(path, 0, 0)) {
        error = "not a WAV, FLAC, Ogg Vorbis or MP3 file that can be decoded";
        return false;
    }
    const uint32_t nativeRate = source.decoder.outputSampleRate;
    if (nativeRate == 0 || source.decoder.outputChannels == 0) {
        error = "the file declares no sample rate or channels";
        return false;
    }
    // Decode again, converted to stereo at the analysis rate by miniaudio.
    if (!source.init(path, 2, kAnalysisRate)) {
        error = "the decoder cannot convert this file";
        return false;
    }
    ma_uint64 declared = 0;
    if (ma_decoder_get_length_in_pcm_frames(&source.decoder, &declared) != MA_SUCCESS) {
        declared = 0;
    }
    const uint64_t maxFrames = static_cast<uint64_t>(kMaxStemSeconds * kAnalysisRate);
    if (declared > maxFrames) {
        error = "longer than 20 minutes";
        return false;
    }
    const double toOutput = static_cast<double>(kAnalysisRate) / nativeRate;
    uint64_t skip = 0;
    uint64_t keep = declared > 0 ? declared : maxFrames + 1;
    const Mp3Trim trim = readTrim(path);
    if (trim.found && declared > 0) {
        skip =
            std::min<uint64_t>(static_cast<uint64_t>(std::llround(trim.leadingFrames * toOutput)), declared);
        const uint64_t tail = static_cast<uint64_t>(std::llround(trim.trailingFrames * toOutput));
        keep = declared - skip;
        keep -= std::min(keep, tail);
    }

    try {
        if (declared > 0) {
            out.mono.reserve(static_cast<size_t>(keep));
            out.leftEnergy.reserve(static_cast<size_t>(keep / kBalanceBlock + 1));
            out.rightEnergy.reserve(static_cast<size_t>(keep / kBalanceBlock + 1));
        }
        std::vector<float> chunk(static_cast<size_t>(kChunkFrames) * 2);
        uint64_t position = 0; // frames read, skipped ones included
        uint64_t kept = 0;
        float left = 0.0f;
        float right = 0.0f;
        uint32_t inBlock = 0;
        uint64_t chunks = 0;
        while (kept < keep) {
            // A file without a declared length shows no share until it ends; it can still stop.
            if (progress && ++chunks % kProgressChunks == 0 &&
                !progress(declared > 0 ? static_cast<double>(kept) / static_cast<double>(keep) : 0.0)) {
                out = StemAudio{};
                error = "cancelled";
                return false;
            }
            ma_uint64 got = 0;
            const ma_result result =
                ma_decoder_read_pcm_frames(&source.decoder, chunk.data(), kChunkFrames, &got);
            if (got == 0 || (result != MA_SUCCESS && result != MA_AT_END)) {
                break;
            }
            for (ma_uint64 i = 0; i < got && kept < keep; ++i, ++position) {
                if (position < skip) {
                    continue;
                }
                // Float files may carry NaN or infinity; they count as silence.
                const float l = std::isfinite(chunk[2 * i]) ? chunk[2 * i] : 0.0f;
                const float r = std::isfinite(chunk[2 * i + 1]) ? chunk[2 * i + 1] : 0.0f;
                const float m = 0.5f * (l + r);
                out.mono.push_back(m);
                out.peak = std::max(out.peak, std::fabs(m));
                left += l * l;
                right += r * r;
                if (++inBlock == kBalanceBlock) {
                    out.leftEnergy.push_back(left);
                    out.rightEnergy.push_back(right);
                    left = right = 0.0f;
                    inBlock = 0;
                }
                ++kept;
            }
            if (kept > maxFrames) {
                out = StemAudio{};
                error = "longer than 20 minutes";
                return false;
            }
        }
        if (inBlock > 0) {
            out.leftEnergy.push_back(left);
            out.rightEnergy.push_back(right);
        }
    } catch (const std::bad_alloc&) {
        out = StemAudio{};
        error = "out of memory while decoding";
        return false;
    }
    if (out.mono.empty()) {
        error = "the file holds no audio";
        return false;
    }
    return true;
}
