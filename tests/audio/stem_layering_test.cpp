// Stem layers: fades in over whole frames, deactivation, and the calls that must change nothing.
#include "audio_test_util.hpp"

struct StemLayeringTest : StemFixture {
    void SetUp() override {
        StemFixture::SetUp();
        addStem("drums.wav", 1000, 0.1f);
        addStem("bass.wav", 1000, 0.2f);
        addStem("keys.wav", 1000, 0.3f);
    }
    float voiceVolume(int index) { return audio.engine->getVolume(audio.stems[size_t(index)].voice); }
};

TEST_F(StemLayeringTest, OneSecondFadeReachesFullVolumeOnTheSixtiethFrame) {
    stdoutOf([&] { playAllStems(audio); });
    EXPECT_EQ(stdoutOf([&] { fadeInStem(audio, 1, 1.0f); }), "Fading in stem: bass.wav over 1s\n");
    EXPECT_TRUE(audio.stems[1].active && audio.stems[1].fading);
    EXPECT_EQ(audio.stems[1].volume, 0.0f);
    // Something else turned the inactive stem up: the next frame holds it at 0 again.
    audio.engine->setVolume(audio.stems[0].voice, 0.7f);
    for (int frame = 1; frame <= 61; ++frame) {
        updateStemVolumes(audio, 1.0f / 60.0f);
        EXPECT_EQ(audio.stems[1].fading, frame < 60) << frame;
        EXPECT_NEAR(audio.stems[1].volume, std::min(frame, 60) / 60.0f, 1e-5f) << frame;
        EXPECT_EQ(voiceVolume(1), audio.stems[1].volume);
        EXPECT_EQ(voiceVolume(0), 0.0f);
    }
    EXPECT_EQ(audio.stems[1].volume, 1.0f);
}

// A fade in on a fading or active stem, or on no stem, changes nothing; a fade without a positive
// length ends at once; activateFirstStem fades in stem 0 when there is one.
TEST_F(StemLayeringTest, FadeInIgnoresActiveStemsAndBadIndicesAndEndsZeroLengthFadesAtOnce) {
    stdoutOf([&] { fadeInStem(audio, 0, 1.0f); });
    updateStemVolumes(audio, 0.25f);
    EXPECT_EQ(stdoutOf([&] { fadeInStem(audio, 0, 3.0f); }), ""); // fading: untouched
    EXPECT_FLOAT_EQ(audio.stems[0].fadeProgress, 0.25f);
    EXPECT_EQ(audio.stems[0].fadeDuration, 1.0f);
    updateStemVolumes(audio, 1.0f);
    EXPECT_EQ(stdoutOf([&] { fadeInStem(audio, 0, 1.0f); }), ""); // active: untouched
    EXPECT_EQ(audio.stems[0].volume, 1.0f);
    EXPECT_EQ(stdoutOf([&] {
                  fadeInStem(audio, 5, 1.0f);
                  fadeInStem(audio, -1, 1.0f);
                  deactivateStem(audio, 3);
              }),
              "");
    EXPECT_FALSE(audio.stems[1].active || audio.stems[2].active);

    stdoutOf([&] {
        fadeInStem(audio, 1, 0.0f);
        fadeInStem(audio, 2, -2.0f);
    });
    updateStemVolumes(audio, 0.0f); // a zero-length frame must not divide 0 by 0
    for (const LoadedStem* stem : {&audio.stems[1], &audio.stems[2]}) {
        EXPECT_EQ(stem->volume, 1.0f);
        EXPECT_FALSE(stem->fading);
    }

    stdoutOf([&] { deactivateStem(audio, 0); });
    EXPECT_EQ(stdoutOf([&] { activateFirstStem(audio); }),
              "Fading in stem: drums.wav over 1s\nActivated first stem\n");
    EXPECT_TRUE(audio.stems[0].fading);
    EXPECT_EQ(stdoutOf([&] { activateFirstStem(audio); }), "Activated first stem\n");
    stdoutOf([&] { unloadAllStems(audio); });
    EXPECT_EQ(stdoutOf([&] { activateFirstStem(audio); }), "");
}

TEST_F(StemLayeringTest, DeactivateCutsAFadeAndSilencesTheVoiceAtOnce) {
    // Without a voice only the flags change.
    stdoutOf([&] { fadeInStem(audio, 2, 1.0f); });
    EXPECT_EQ(stdoutOf([&] { deactivateStem(audio, 2); }), "Deactivated stem: keys.wav\n");
    EXPECT_FALSE(audio.stems[2].active || audio.stems[2].fading);

    stdoutOf([&] {
        playAllStems(audio);
        fadeInStem(audio, 2, 1.0f);
    });
    updateStemVolumes(audio, 0.5f);
    EXPECT_EQ(voiceVolume(2), 0.5f);
    stdoutOf([&] { deactivateStem(audio, 2); });
    EXPECT_EQ(voiceVolume(2), 0.0f);
    EXPECT_EQ(audio.stems[2].volume, 0.0f);
    EXPECT_EQ(audio.stems[2].fadeProgress, 0.0f);
    // A new fade starts from silence again.
    stdoutOf([&] { fadeInStem(audio, 2, 1.0f); });
    updateStemVolumes(audio, 0.1f);
    EXPECT_FLOAT_EQ(audio.stems[2].volume, 0.1f);
}
