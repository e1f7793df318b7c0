// Streamed stems against whole decodes of the same files, on the null driver with the decoder
// driven by the test (no decoding thread): the frames over two loops, seeks, a stalled decoder and
// damaged files.
#include "audio/audio_stream.hpp"

#include "audio_test_util.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// A head shorter than the fixtures, so that their frames come from the decoder, the seam included.
constexpr uint64_t kTestHead = 256;

struct Engine {
    AudioEngine engine;
    AudioHandle group = 0;
    Engine() {
        EXPECT_EQ(engine.init(AudioBackend::NullDriver), AudioResult::Ok);
        group = engine.createVoiceGroup();
    }
};

std::unique_ptr<AudioStream> openStream(const std::vector<unsigned char>& bytes,
                                        const std::string& name = "test") {
    auto stream = std::make_unique<AudioStream>();
    EXPECT_EQ(stream->open(bytes, name, false, kTestHead), AudioResult::Ok) << name;
    stream->setLooping(true);
    return stream;
}

std::unique_ptr<Wav> decodeWhole(const std::vector<unsigned char>& bytes) {
    auto wav = std::make_unique<Wav>();
    EXPECT_EQ(wav->loadMem(bytes.data(), bytes.size()), AudioResult::Ok);
    wav->setLooping(true);
    return wav;
}

void refillAll(const std::vector<AudioStream*>& streams) {
    for (AudioStream* stream : streams) {
        while (stream->refill() > 0) {
        }
    }
}

// `frames` frames of the mix, the streams refilled before every block as the decoding thread would.
std::vector<float> render(AudioEngine& engine, const std::vector<AudioStream*>& streams, size_t frames) {
    std::vector<float> out(frames * 2);
    for (size_t at = 0; at < frames; at += kMixBlockFrames) {
        refillAll(streams);
        engine.mix(out.data() + at * 2, unsigned(std::min<size_t>(kMixBlockFrames, frames - at)));
    }
    return out;
}

float maxDifference(const std::vector<float>& a, const std::vector<float>& b) {
    float most = 0.0f;
    for (size_t i = 0; i < a.size(); ++i) {
        most = std::max(most, std::fabs(a[i] - b[i]));
    }
    return most;
}

// A stereo float WAV whose every frame differs from its neighbours, `frames` long at `rate`.
std::vector<unsigned char> sineWav(uint32_t frames, uint32_t rate, float base = 0.0f) {
    std::vector<float> samples(size_t(frames) * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        samples[i * 2] = base + 0.3f * std::sin(float(i) * 0.05f);
        samples[i * 2 + 1] = base + 0.3f * std::cos(float(i) * 0.031f);
    }
    return makeFloatWav(samples, 2, rate);
}

} // namespace

// Every frame over two loop passes: identical at 44.1 kHz for WAV, FLAC and Vorbis; within the
// resampler's settling (a fresh resampler after the head) and the MP3 decoder's seek otherwise.
TEST(AudioStream, PlaysWhatTheWholeDecodeHoldsOverTwoLoops) {
    struct Case {
        std::string name;
        std::vector<unsigned char> bytes;
        float tolerance;
    };
    const std::vector<Case> cases = {
        {"stem.wav", readBytes(audioFixturePath("stem.wav")), 0.0f},
        {"stem.flac", readBytes(audioFixturePath("stem.flac")), 0.0f},
        {"stem.ogg", readBytes(audioFixturePath("stem.ogg")), 0.0f},
        {"long 44.1 kHz wav (wraps the ring)", sineWav(150000, 44100), 0.0f},
        {"stem.mp3", readBytes(audioFixturePath("stem.mp3")), 1e-3f},
        {"stem_48k.ogg", readBytes(audioFixturePath("stem_48k.ogg")), 1e-4f},
        {"stem_22k.ogg", readBytes(audioFixturePath("stem_22k.ogg")), 1e-4f},
        {"stem_48k.flac", readBytes(audioFixturePath("stem_48k.flac")), 1e-4f},
        {"mono_22k.wav", readBytes(audioFixturePath("mono_22k.wav")), 1e-4f},
        {"48 kHz wav", sineWav(30000, 48000), 1e-4f},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto stream = openStream(test.bytes);
        auto whole = decodeWhole(test.bytes);
        ASSERT_EQ(stream->frameCount(), whole->frameCount());
        ASSERT_EQ(stream->channelCount(), whole->channelCount());
        Engine streamed, reference;
        ASSERT_NE(streamed.engine.play(*stream), 0u);
        ASSERT_NE(reference.engine.play(*whole), 0u);
        const size_t frames = size_t(whole->frameCount()) * 2 + 3;
        const std::vector<float> got = render(streamed.engine, {stream.get()}, frames);
        const std::vector<float> want = render(reference.engine, {}, frames);
        EXPECT_LE(maxDifference(got, want), test.tolerance);
        // The loop point is exact: the second pass is the first, frame for frame.
        const size_t pass = size_t(whole->frameCount()) * 2;
        EXPECT_TRUE(std::equal(got.begin() + long(pass), got.begin() + long(pass + 6), got.begin()));
    }
}

// Stems of one group, one resampled and one padded, sought to arbitrary frames (across the loop
// point, back to the start): each lands on the frame the whole decodes land on, all together.
TEST(AudioStream, SeeksLandEveryStemOfTheGroupOnTheSameFrame) {
    const std::vector<std::vector<unsigned char>> files = {sineWav(20000, 44100, 0.1f), sineWav(21768, 48000),
                                                           sineWav(12000, 44100, -0.1f)};
    Engine streamed, reference;
    std::vector<std::unique_ptr<AudioStream>> streams;
    std::vector<std::unique_ptr<Wav>> wholes;
    std::vector<AudioStream*> feed;
    for (const auto& bytes : files) {
        streams.push_back(openStream(bytes));
        wholes.push_back(decodeWhole(bytes));
        streams.back()->padTo(20000);
        wholes.back()->padTo(20000);
        feed.push_back(streams.back().get());
        streamed.engine.addVoiceToGroup(streamed.group, streamed.engine.play(*streams.back()));
        reference.engine.addVoiceToGroup(reference.group, reference.engine.play(*wholes.back()));
    }
    for (std::uint64_t frame : {7000ull, 19990ull, 0ull, 13457ull, 45001ull}) {
        SCOPED_TRACE(frame);
        ASSERT_EQ(streamed.engine.seek(streamed.group, frame), AudioResult::Ok);
        ASSERT_EQ(reference.engine.seek(reference.group, frame), AudioResult::Ok);
        const std::vector<float> got = render(streamed.engine, feed, 1024);
        EXPECT_LE(maxDifference(got, render(reference.engine, {}, 1024)), 1e-4f);
        EXPECT_DOUBLE_EQ(streamed.engine.getStreamTime(streamed.group),
                         double(frame + 1024) / kEngineSampleRate);
    }
    EXPECT_EQ(streamed.engine.underrunCount(), 0u) << "a seek's refill is no underrun";
}

// A stalled decoder: the whole group waits, silent, on the frame it had reached, the clock with
// it; one underrun is counted; once the decoder catches up the stems go on in step from there.
TEST(AudioStream, AStalledDecoderHoldsTheWholeGroupInStep) {
    const auto first = sineWav(60000, 44100, 0.1f), second = sineWav(60000, 44100, -0.2f);
    Engine streamed, reference;
    auto a = openStream(first), b = openStream(second);
    auto wa = decodeWhole(first), wb = decodeWhole(second);
    for (auto* pair : {&a, &b}) {
        streamed.engine.addVoiceToGroup(streamed.group, streamed.engine.play(**pair));
    }
    reference.engine.addVoiceToGroup(reference.group, reference.engine.play(*wa));
    reference.engine.addVoiceToGroup(reference.group, reference.engine.play(*wb));
    refillAll({a.get()});
    b->refill(1000); // three blocks and a bit
    b->setStalled(true);
    const std::vector<float> before = render(streamed.engine, {a.get(), b.get()}, 2048);
    const std::vector<float> expected = render(reference.engine, {}, 768 + 2048);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 768 * 2, expected.begin()));
    EXPECT_TRUE(std::all_of(before.begin() + 768 * 2, before.end(), [](float v) { return v == 0.0f; }));
    EXPECT_DOUBLE_EQ(streamed.engine.getStreamTime(streamed.group), 768.0 / kEngineSampleRate);
    EXPECT_EQ(streamed.engine.underrunCount(), 1u);
    b->setStalled(false);
    const std::vector<float> after = render(streamed.engine, {a.get(), b.get()}, 2048);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), expected.begin() + 768 * 2));
    EXPECT_EQ(streamed.engine.underrunCount(), 1u);
}

// A damaged file streamed for two passes of `frames`: the stream, the mix and what it said.
struct DamagedPlay {
    Engine streamed;
    std::unique_ptr<AudioStream> stream;
    std::vector<float> out;
    std::string err;
    DamagedPlay(const std::vector<unsigned char>& bytes, size_t frames) {
        err = stderrOf([&] {
            stream = openStream(bytes, "stem");
            streamed.engine.play(*stream);
            out = render(streamed.engine, {stream.get()}, frames * 2);
        });
    }
};

// A file that ends before its header's length: the stream keeps the header's length, plays silence
// where the audio gives out and says so once over two loops.
TEST(AudioStream, AFileThatEndsEarlyPlaysSilenceThereAndIsReportedOnce) {
    std::vector<unsigned char> truncated = sineWav(8000, 44100, 0.2f);
    truncated.resize(truncated.size() - 3000 * 8);
    const DamagedPlay play(truncated, 8000);
    EXPECT_EQ(play.err,
              "Warning: stem: the audio ends early or is damaged at 0.113 s; it plays on as silence\n");
    EXPECT_EQ(play.stream->frameCount(), 8000u);
    for (size_t pass : {0, 8000}) {
        EXPECT_NE(play.out[(pass + 4999) * 2], 0.0f);
        EXPECT_TRUE(std::all_of(play.out.begin() + long(pass + 5000) * 2,
                                play.out.begin() + long(pass + 8000) * 2, [](float v) { return v == 0.0f; }));
    }
}

// An MP3 damaged in its middle: its header's frame count keeps the song's length, so the loop
// and the other stems stay in step; what cannot be decoded plays as silence, said once over two
// passes.
TEST(AudioStream, AnMp3DamagedInTheMiddleKeepsItsLengthAndIsReportedOnce) {
    const std::vector<unsigned char> intact = readBytes(audioFixturePath("stem.mp3"));
    std::vector<unsigned char> damaged = intact;
    std::fill(damaged.begin() + long(damaged.size() / 2), damaged.begin() + long(damaged.size() * 11 / 20),
              0x5A);
    const DamagedPlay play(damaged, 4410);
    EXPECT_EQ(play.stream->frameCount(), decodeWhole(intact)->frameCount());
    EXPECT_EQ(play.err.rfind("Warning: stem: the audio ends early or is damaged at ", 0), 0u) << play.err;
    EXPECT_EQ(play.err.find('\n'), play.err.size() - 1) << play.err;
    EXPECT_TRUE(std::equal(play.out.begin(), play.out.begin() + 64, play.out.begin() + 4410 * 2));
}

// A FLAC frame that fails its checksum: the decoder skips it, and the frames it held play as
// silence in their place, so that what follows keeps its own (streamed and decoded whole alike,
// over two passes); said once.
TEST(AudioStream, AFlacFrameLostToDamagePlaysAsSilenceInItsPlace) {
    // The fixture's audio is two frames: 4096 song frames, then the last 314.
    const std::vector<unsigned char> intact = readBytes(audioFixturePath("stem.flac"));
    size_t audio = 4; // past "fLaC" and the metadata blocks: the first frame's header
    for (bool last = false; !last && audio + 4 <= intact.size();
         audio +=
         4 + ((size_t(intact[audio + 1]) << 16) | (size_t(intact[audio + 2]) << 8) | intact[audio + 3])) {
        last = (intact[audio] & 0x80) != 0;
    }
    std::vector<unsigned char> damaged = intact;
    std::fill(damaged.begin() + long(audio) + 32, damaged.begin() + long(audio) + 96, 0x5A);
    const DamagedPlay play(damaged, 4410), good(intact, 4410);
    EXPECT_EQ(play.err,
              "Warning: stem: the audio ends early or is damaged at 0.000 s; it plays on as silence\n");
    Engine whole;
    auto wav = decodeWhole(damaged);
    whole.engine.play(*wav);
    EXPECT_EQ(render(whole.engine, {}, 4410 * 2), play.out);
    for (long pass : {0, 4410}) {
        EXPECT_TRUE(std::all_of(play.out.begin() + pass * 2, play.out.begin() + (pass + 4096) * 2,
                                [](float v) { return v == 0.0f; }));
        EXPECT_TRUE(std::equal(play.out.begin() + (pass + 4096) * 2, play.out.begin() + (pass + 4410) * 2,
                               good.out.begin() + (pass + 4096) * 2));
    }
}

// A slowed group of streams: the stretcher is fed from the rings, and what it plays, through a
// seek and speed changes that move the voices back to the frame being heard, is what it plays of
// the same files decoded whole.
TEST(AudioStream, ASlowedGroupPlaysTheStreamsAsItPlaysTheirWholeDecodes) {
    const auto first = sineWav(90000, 44100, 0.1f), second = sineWav(90000, 44100, -0.2f);
    Engine streamed, reference;
    auto a = openStream(first), b = openStream(second);
    auto wa = decodeWhole(first), wb = decodeWhole(second);
    streamed.engine.addVoiceToGroup(streamed.group, streamed.engine.play(*a));
    streamed.engine.addVoiceToGroup(streamed.group, streamed.engine.play(*b));
    reference.engine.addVoiceToGroup(reference.group, reference.engine.play(*wa));
    reference.engine.addVoiceToGroup(reference.group, reference.engine.play(*wb));
    const std::vector<AudioStream*> feed = {a.get(), b.get()};
    const auto both = [&](auto step) {
        step(streamed);
        step(reference);
    };
    const auto expectSame = [&](size_t frames) {
        const std::vector<float> got = render(streamed.engine, feed, frames);
        EXPECT_EQ(maxDifference(got, render(reference.engine, {}, frames)), 0.0f);
        EXPECT_DOUBLE_EQ(streamed.engine.getStreamTime(streamed.group),
                         reference.engine.getStreamTime(reference.group));
    };
    both([](Engine& e) { ASSERT_EQ(e.engine.setGroupSpeed(e.group, 0.75), AudioResult::Ok); });
    expectSame(20000);
    both([](Engine& e) { ASSERT_EQ(e.engine.seek(e.group, 60000), AudioResult::Ok); });
    expectSame(20000); // across the loop point
    both([](Engine& e) { ASSERT_EQ(e.engine.setGroupSpeed(e.group, 0.5), AudioResult::Ok); });
    expectSame(8000);
    both([](Engine& e) { ASSERT_EQ(e.engine.setGroupSpeed(e.group, 1.0), AudioResult::Ok); });
    expectSame(4000);
    EXPECT_EQ(streamed.engine.underrunCount(), 0u);
}
