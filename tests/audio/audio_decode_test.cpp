#include "audio/audio_decode.hpp"

#include "audio_test_util.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

DecodedAudio decodeFixture(const std::string& name, AudioResult expected = AudioResult::Ok) {
    std::vector<unsigned char> bytes = readBytes(audioFixturePath(name));
    EXPECT_FALSE(bytes.empty()) << name;
    DecodedAudio audio;
    EXPECT_EQ(decodeAudio(bytes.data(), bytes.size(), audio), expected) << name;
    return audio;
}

// First frame whose left sample is louder than threshold, or -1.
long firstLoudFrame(const DecodedAudio& audio, float threshold) {
    for (uint64_t i = 0; i < audio.frames; ++i) {
        if (std::fabs(audio.samples[i * audio.channels]) > threshold) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

} // namespace

// The fixtures share one source: 1323 silent frames, then a tone whose left sample first passes
// 0.1 at frame 1325. Every format must come back with the source's length and timing, or stems
// of different formats would drift apart when they loop.
TEST(AudioDecode, DecodesEveryFormatToTheSourceLengthAndTiming) {
    struct Case {
        const char* file;
        uint64_t frames;
        long onsetTolerance;
    } cases[] = {{"stem.wav", 2205, 0}, {"stem.flac", 4410, 0}, {"stem.ogg", 4410, 0}, {"stem.mp3", 4410, 2}};
    for (const Case& c : cases) {
        DecodedAudio audio = decodeFixture(c.file);
        EXPECT_EQ(audio.frames, c.frames) << c.file;
        EXPECT_EQ(audio.channels, 2u) << c.file;
        EXPECT_NEAR(firstLoudFrame(audio, 0.1f), 1325, c.onsetTolerance) << c.file;
    }
}

// Other rates are resampled, mono stays mono and more channels fold to stereo. A 48 kHz stem loops
// at 44.1 kHz as it did at its own rate: the resampled end flows into the resampled start, with no
// silent sample or filter transient at the seam.
TEST(AudioDecode, ResamplesOtherRatesAsSeamlessLoops) {
    // 0.1 s of 500 Hz: fifty whole periods, starting away from a zero crossing.
    std::vector<float> sine(4800);
    for (size_t i = 0; i < sine.size(); ++i) {
        sine[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 500.0 * double(i) / 48000.0 + 1.0));
    }
    std::vector<unsigned char> bytes = makeFloatWav(sine, 1, 48000);
    DecodedAudio audio;
    ASSERT_EQ(decodeAudio(bytes.data(), bytes.size(), audio), AudioResult::Ok);
    ASSERT_EQ(audio.channels, 1u);
    ASSERT_EQ(audio.frames, 4410u);
    // 441 frames at 44.1 kHz are five whole periods (at the right pitch): a clean loop repeats
    // itself at that distance, across the seam as everywhere else.
    // And it keeps its timing: output frame k is the sine at k / 44100 s (the filter delays it by
    // well under a frame's worth of phase at 500 Hz).
    double worst = 0.0;
    for (uint64_t k = 0; k < audio.frames; ++k) {
        ASSERT_NEAR(audio.samples[k], audio.samples[(k + 441) % audio.frames], 1e-3) << k;
        const double expected = 0.5 * std::sin(2.0 * M_PI * 500.0 * double(k) / 44100.0 + 1.0);
        worst = std::max(worst, std::fabs(audio.samples[k] - expected));
    }
    EXPECT_LT(worst, 0.03);

    // 1102 frames at 22.05 kHz.
    EXPECT_EQ(decodeFixture("mono_22k.wav").frames, 2204u);
    // Four channels at 48 kHz: folded to stereo, 4800 frames become 4410.
    bytes = makeFloatWav(std::vector<float>(4800 * 4, 0.25f), 4, 48000);
    ASSERT_EQ(decodeAudio(bytes.data(), bytes.size(), audio), AudioResult::Ok);
    EXPECT_EQ(audio.channels, 2u);
    EXPECT_EQ(audio.frames, 4410u);
    EXPECT_GT(audio.samples[2000 * 2], 0.1f);
}

// Cut-off and damaged files fail as undecodable or decode to finite samples of a bounded length,
// never crash or over-read (a sanitizer build sees the latter). Non-finite samples in a float WAV
// would poison the whole mix: they come back as silence.
TEST(AudioDecode, SurvivesTruncatedAndCorruptedFiles) {
    auto check = [](const std::vector<unsigned char>& bytes, const std::string& what) {
        DecodedAudio audio;
        const AudioResult result = decodeAudio(bytes.data(), bytes.size(), audio);
        if (result != AudioResult::Ok) {
            EXPECT_EQ(result, AudioResult::FileLoadFailed) << what;
            EXPECT_EQ(audio.frames, 0u) << what;
            return;
        }
        EXPECT_GT(audio.frames, 0u) << what;
        EXPECT_LE(audio.frames, 4410u * 4) << what;
        for (uint64_t i = 0; i < audio.frames * audio.channels; ++i) {
            ASSERT_TRUE(std::isfinite(audio.samples[i])) << what << " sample " << i;
        }
    };
    for (const char* name : {"stem.wav", "stem.flac", "stem.ogg", "stem.mp3"}) {
        std::vector<unsigned char> bytes = readBytes(audioFixturePath(name));
        for (size_t cut : {size_t(1), size_t(4), size_t(12), size_t(44), size_t(200), bytes.size() / 2,
                           bytes.size() - 1}) {
            check(std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<long>(cut)),
                  std::string(name) + " cut at " + std::to_string(cut));
        }
        std::vector<unsigned char> damaged = bytes;
        for (size_t i = 40; i < damaged.size(); i += 37) {
            damaged[i] ^= 0x5A;
        }
        check(damaged, std::string(name) + " damaged");
    }
    // Refused: data in no known format, a WAV without frames, and what fuzzing found: a comment
    // length near 4 GB, a bad codebook after a sparse one, more channels than the sample converter
    // takes, and ADPCM (whose blocks name predictors past the decoder's table).
    for (const char* name : {"not_audio.wav", "vorbis_huge_comment.ogg", "vorbis_bad_codebook.ogg",
                             "wav_256_channels.wav", "wav_adpcm_bad_predictor.wav"}) {
        DecodedAudio audio = decodeFixture(name, AudioResult::FileLoadFailed);
        EXPECT_EQ(audio.frames, 0u);
        EXPECT_EQ(audio.samples, nullptr);
    }
    DecodedAudio audio;
    const std::vector<unsigned char> noFrames = makeFloatWav({}, 2);
    EXPECT_EQ(decodeAudio(noFrames.data(), noFrames.size(), audio), AudioResult::FileLoadFailed);
    EXPECT_EQ(decodeAudio(noFrames.data(), 0, audio), AudioResult::InvalidParameter);

    const float inf = std::numeric_limits<float>::infinity();
    std::vector<unsigned char> poisoned = makeFloatWav({0.5f, NAN, inf, -inf, -0.5f, 0.25f}, 2);
    ASSERT_EQ(decodeAudio(poisoned.data(), poisoned.size(), audio), AudioResult::Ok);
    const float expected[] = {0.5f, 0.0f, 0.0f, 0.0f, -0.5f, 0.25f};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(audio.samples[i], expected[i]) << i;
    }

    // The data chunk claims 4 GB but 16 frames follow: the frames that are there are the stem, and
    // nothing near the claimed size is allocated.
    std::vector<unsigned char> forged = makeFloatWav(std::vector<float>(32, 0.5f), 2);
    std::fill(forged.begin() + 40, forged.begin() + 44, 0xFF);
    ASSERT_EQ(decodeAudio(forged.data(), forged.size(), audio), AudioResult::Ok);
    EXPECT_EQ(audio.frames, 16u);
    EXPECT_EQ(audio.samples[31], 0.5f);
}

// An MP3 may carry ID3 tags, padding and junk before its first frame; the decoder finds the first
// real frame (one that the next frame header follows), and the stem keeps its length and timing.
TEST(AudioDecode, FindsTheMp3StreamAndItsEncoderDelayBehindTagsPaddingAndJunk) {
    const std::vector<unsigned char> mp3 = readBytes(audioFixturePath("stem.mp3"));
    const Mp3Trim plain = readMp3Trim(mp3.data(), mp3.size());
    ASSERT_TRUE(plain.found);
    // The header frame (1152), LAME's 576 frames of delay and the decoder's 529.
    EXPECT_EQ(plain.leadingFrames, 1152u + 576u + 529u);
    // 5 audio frames of 1152 hold 576 + 4410 + padding frames: padding 774, minus 529.
    EXPECT_EQ(plain.trailingFrames, 245u);
    const std::vector<unsigned char> wav = readBytes(audioFixturePath("stem.wav"));
    EXPECT_FALSE(readMp3Trim(wav.data(), wav.size()).found);
    for (size_t cut = 0; cut < 200; ++cut) {
        readMp3Trim(mp3.data(), cut); // must stay within the bytes it is given
    }

    const std::vector<unsigned char> tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10,
                                            0,   0,   0,   0, 0, 0, 0, 0, 0, 0};
    const std::vector<unsigned char> falseSync = {0xFF, 0xFB, 0x90, 0x00, 'j', 'u', 'n', 'k', 0xFF, 0xE2, 1};
    const std::vector<unsigned char> padding(700, 0);
    const struct {
        const char* what;
        std::vector<const std::vector<unsigned char>*> parts;
    } cases[] = {
        {"a tag", {&tag, &mp3}},
        {"a tag and padding", {&tag, &padding, &mp3}},
        {"two tags", {&tag, &tag, &mp3}},
        {"a tag and junk with a false frame header", {&tag, &falseSync, &mp3}},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> bytes;
        for (const auto* part : c.parts) {
            bytes.insert(bytes.end(), part->begin(), part->end());
        }
        const Mp3Trim trim = readMp3Trim(bytes.data(), bytes.size());
        EXPECT_TRUE(trim.found) << c.what;
        EXPECT_EQ(trim.leadingFrames, plain.leadingFrames) << c.what;
        DecodedAudio audio;
        ASSERT_EQ(decodeAudio(bytes.data(), bytes.size(), audio), AudioResult::Ok) << c.what;
        EXPECT_EQ(audio.frames, 4410u) << c.what;
        EXPECT_NEAR(firstLoudFrame(audio, 0.1f), 1325, 2) << c.what;
    }
}
