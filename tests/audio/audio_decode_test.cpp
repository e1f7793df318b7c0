#include "audio/audio_decode.hpp"

#include "audio_test_util.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

DecodedAudio decodeFixture(const std::string &name, AudioResult expected = AudioResult::Ok) {
    std::vector<unsigned char> bytes = readBytes(audioFixturePath(name));
    EXPECT_FALSE(bytes.empty()) << name;
    DecodedAudio audio;
    EXPECT_EQ(decodeAudio(bytes.data(), bytes.size(), audio), expected) << name;
    return audio;
}

// First frame whose left sample is louder than threshold, or -1.
long firstLoudFrame(const DecodedAudio &audio, float threshold) {
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
        const char *file;
        uint64_t frames;
        long onsetTolerance;
    } cases[] = {{"stem.wav", 2205, 0}, {"stem.flac", 4410, 0}, {"stem.ogg", 4410, 0}, {"stem.mp3", 4410, 2}};
    for (const Case &c : cases) {
        DecodedAudio audio = decodeFixture(c.file);
        EXPECT_EQ(audio.frames, c.frames) << c.file;
        EXPECT_EQ(audio.channels, 2u) << c.file;
        EXPECT_NEAR(firstLoudFrame(audio, 0.1f), 1325, c.onsetTolerance) << c.file;
    }
}

TEST(AudioDecode, ResamplesOtherRatesAndKeepsMonoMono) {
    // 1102 frames of a 500 Hz tone at 22.05 kHz.
    DecodedAudio audio = decodeFixture("mono_22k.wav");
    ASSERT_EQ(audio.channels, 1u);
    EXPECT_EQ(audio.frames, 2204u);
    // The pitch survives: 0.05 s of 500 Hz crosses zero about 50 times.
    int crossings = 0;
    for (uint64_t i = 1; i < audio.frames; ++i) {
        crossings += (audio.samples[i - 1] < 0.0f) != (audio.samples[i] < 0.0f) ? 1 : 0;
    }
    EXPECT_NEAR(crossings, 50, 2);

    // Four channels at 48 kHz: folded to stereo, 4800 frames become 4410.
    std::vector<float> quad(4800 * 4, 0.25f);
    std::vector<unsigned char> bytes = makeFloatWav(quad, 4, 48000);
    DecodedAudio folded;
    ASSERT_EQ(decodeAudio(bytes.data(), bytes.size(), folded), AudioResult::Ok);
    EXPECT_EQ(folded.channels, 2u);
    EXPECT_EQ(folded.frames, 4410u);
    EXPECT_GT(folded.samples[2000 * 2], 0.1f);
}

TEST(AudioDecode, RefusesDataInNoKnownFormat) {
    DecodedAudio audio = decodeFixture("not_audio.wav", AudioResult::FileLoadFailed);
    EXPECT_EQ(audio.frames, 0u);
    EXPECT_EQ(audio.samples, nullptr);
    unsigned char nothing = 0;
    EXPECT_EQ(decodeAudio(&nothing, 0, audio), AudioResult::InvalidParameter);
    // A WAV with a header but no frames is no stem either.
    std::vector<unsigned char> silent = makeFloatWav({}, 2);
    EXPECT_EQ(decodeAudio(silent.data(), silent.size(), audio), AudioResult::FileLoadFailed);
}

// Cut-off and damaged files must fail or decode cleanly, never crash or over-read (run under a
// sanitizer to see the latter).
TEST(AudioDecode, SurvivesTruncatedAndCorruptedFiles) {
    for (const char *name : {"stem.wav", "stem.flac", "stem.ogg", "stem.mp3"}) {
        std::vector<unsigned char> bytes = readBytes(audioFixturePath(name));
        for (size_t cut : {size_t(1), size_t(4), size_t(12), size_t(44), size_t(200), bytes.size() / 2,
                           bytes.size() - 1}) {
            std::vector<unsigned char> part(bytes.begin(), bytes.begin() + static_cast<long>(cut));
            DecodedAudio audio;
            if (decodeAudio(part.data(), part.size(), audio) == AudioResult::Ok) {
                EXPECT_GT(audio.frames, 0u);
                EXPECT_LE(audio.frames, 4410u + 4410u) << name << " cut at " << cut;
            }
        }
        std::vector<unsigned char> damaged = bytes;
        for (size_t i = 40; i < damaged.size(); i += 37) {
            damaged[i] ^= 0x5A;
        }
        DecodedAudio audio;
        decodeAudio(damaged.data(), damaged.size(), audio);
    }
}

TEST(AudioDecode, AForgedLengthCannotAskForUnboundedMemory) {
    // The data chunk claims 4 GB but 16 frames follow.
    std::vector<unsigned char> bytes = makeFloatWav(std::vector<float>(32, 0.5f), 2);
    for (int i = 0; i < 4; ++i) {
        bytes[40 + i] = 0xFF;
    }
    DecodedAudio audio;
    AudioResult result = decodeAudio(bytes.data(), bytes.size(), audio);
    if (result == AudioResult::Ok) {
        EXPECT_EQ(audio.frames, 16u);
    } else {
        EXPECT_EQ(result, AudioResult::OutOfMemory);
    }
}

TEST(AudioDecode, ReadsTheMp3EncoderDelayAndPadding) {
    std::vector<unsigned char> mp3 = readBytes(audioFixturePath("stem.mp3"));
    Mp3Trim trim = readMp3Trim(mp3.data(), mp3.size());
    ASSERT_TRUE(trim.found);
    // The header frame (1152), LAME's 576 frames of delay and the decoder's 529.
    EXPECT_EQ(trim.leadingFrames, 1152u + 576u + 529u);
    // 5 audio frames of 1152 hold 576 + 4410 + padding frames: padding 774, minus 529.
    EXPECT_EQ(trim.trailingFrames, 245u);

    // Behind an ID3v2 tag the header is found all the same, and the decoded stem keeps its length.
    std::vector<unsigned char> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    tagged.insert(tagged.end(), mp3.begin(), mp3.end());
    Mp3Trim taggedTrim = readMp3Trim(tagged.data(), tagged.size());
    EXPECT_TRUE(taggedTrim.found);
    EXPECT_EQ(taggedTrim.leadingFrames, trim.leadingFrames);
    DecodedAudio audio;
    ASSERT_EQ(decodeAudio(tagged.data(), tagged.size(), audio), AudioResult::Ok);
    EXPECT_EQ(audio.frames, 4410u);
    EXPECT_NEAR(firstLoudFrame(audio, 0.1f), 1325, 2);

    std::vector<unsigned char> wav = readBytes(audioFixturePath("stem.wav"));
    EXPECT_FALSE(readMp3Trim(wav.data(), wav.size()).found);
    for (size_t cut = 0; cut < 200; ++cut) {
        readMp3Trim(mp3.data(), cut); // must stay within the bytes it is given
    }
}
