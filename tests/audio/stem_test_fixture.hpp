#pragma once
// A test fixture with an audio system on the engine's null driver (the test pulls the mix) and
// stems written as float WAVs with known samples.
#include "audio/audio_system.hpp"
#include "audio/stem_layering.hpp"

#include "audio_test_util.hpp"

#include <gtest/gtest.h>

struct StemFixture : ::testing::Test {
    AudioSystem audio;
    ScratchDir dir{std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) +
                   "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name()};

    void SetUp() override {
        ::testing::internal::CaptureStdout();
        bool ok = audioInit(audio, AudioBackend::NullDriver);
        ::testing::internal::GetCapturedStdout();
        ASSERT_TRUE(ok);
    }
    void TearDown() override {
        ::testing::internal::CaptureStdout();
        audioShutdown(audio);
        ::testing::internal::GetCapturedStdout();
    }

    // Writes rampSamples(frames, base) as name and loads it as the next stem, without the log.
    void addStem(const std::string &name, uint32_t frames, float base) {
        std::string path = dir.write(name, makeFloatWav(rampSamples(frames, base), 2));
        ::testing::internal::CaptureStdout();
        bool ok = loadStem(audio, path);
        ::testing::internal::GetCapturedStdout();
        ASSERT_TRUE(ok) << path;
    }
    // Runs a routine and returns what it wrote to standard output.
    template <typename Fn> std::string stdoutOf(Fn fn) {
        ::testing::internal::CaptureStdout();
        fn();
        return ::testing::internal::GetCapturedStdout();
    }
    std::vector<float> render(unsigned frames) {
        std::vector<float> out(size_t(frames) * 2);
        audio.engine->mix(out.data(), frames);
        return out;
    }
    // Fades stem index fully in at once.
    void makeAudible(int index);
};

inline void StemFixture::makeAudible(int index) {
    stdoutOf([&] {
        fadeInStem(audio, index, 1.0f);
        updateStemVolumes(audio, 1.0f);
    });
}
