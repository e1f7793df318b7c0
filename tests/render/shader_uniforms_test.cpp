#include "audio/midi_chart.hpp"
#include "render/render_system.hpp"
#include "render/shader_uniforms.hpp"

#include <gtest/gtest.h>

#include <ctime>

namespace {

RenderState defaultRender() {
    RenderState render;
    render.width = 1280;
    render.height = 720;
    setStemSlotDefaults(render);
    return render;
}

MidiNoteEvent noteOn(int key, int velocity, int stem) {
    MidiNoteEvent note;
    note.note = key;
    note.velocity = velocity;
    note.isNoteOn = true;
    note.stemIndex = stem;
    return note;
}

TEST(ShaderUniforms, FillCarriesSizeTimeStemsAndPadding) {
    RenderState render = defaultRender();
    render.stemActive[0] = render.stemActive[3] = true;
    render.activeStemCount = 2;
    render.stemValue[3] = 1.7f;
    render.intensity = 0.6f;
    const std::time_t before = std::time(nullptr);
    advanceRenderState(render, 1.0f / 60.0f); // the first fill: previous time 0
    const ShaderUniforms& u = render.uniforms;

    EXPECT_FLOAT_EQ(u.resolution[0], 1280.0f);
    EXPECT_FLOAT_EQ(u.resolution[1], 720.0f);
    EXPECT_FLOAT_EQ(u.resolution[2], 1.0f);
    EXPECT_FLOAT_EQ(u.resolutionPad, 0.0f);
    EXPECT_FLOAT_EQ(u.time, 1.0f / 60.0f);
    EXPECT_FLOAT_EQ(u.timeDelta, 1.0f / 60.0f);
    EXPECT_NEAR(u.frameRate, 60.0f, 1e-3f);
    EXPECT_FLOAT_EQ(u.frame, 1.0f);
    EXPECT_FLOAT_EQ(u.sampleRate, 44100.0f);
    EXPECT_FLOAT_EQ(u.samplePad[0] + u.samplePad[1] + u.samplePad[2], 0.0f);

    EXPECT_FLOAT_EQ(u.stems[3][1], 1.0f);
    EXPECT_FLOAT_EQ(u.stems[5][1], 0.0f);
    EXPECT_GT(u.stems[3][0], 1.0f) << "slot 3 moves toward its value";
    EXPECT_FLOAT_EQ(u.stems[0][2], 2.0f) << "slot 0 carries the active count";
    EXPECT_NEAR(u.stems[0][3], render.intensity, 1e-6f) << "and the intensity";
    EXPECT_FLOAT_EQ(u.stems[3][2], 0.0f);
    EXPECT_FLOAT_EQ(u.stems[3][3], 0.0f);

    // The date is local: compare with the clock read around the fill.
    std::tm local{};
    localtime_r(&before, &local);
    EXPECT_FLOAT_EQ(u.date[0], static_cast<float>(local.tm_year + 1900));
    EXPECT_FLOAT_EQ(u.date[1], static_cast<float>(local.tm_mon + 1));
    EXPECT_FLOAT_EQ(u.date[2], static_cast<float>(local.tm_mday));
    const float seconds = static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
    EXPECT_GE(u.date[3], seconds);
    EXPECT_LE(u.date[3], seconds + 2.0f);

    // A second fill in the same frame (a size change) sees no time pass: 60 frames a second.
    render.width = 800;
    fillShaderUniforms(render);
    EXPECT_FLOAT_EQ(u.timeDelta, 0.0f);
    EXPECT_FLOAT_EQ(u.frameRate, 60.0f);
    EXPECT_FLOAT_EQ(u.resolution[0], 800.0f);
}

TEST(ShaderUniforms, PointerFollowsWhileThePressPositionPersists) {
    RenderState render = defaultRender();
    setPointer(render, 100.0f, 200.0f, true);
    setPointer(render, 300.0f, 400.0f, false);
    advanceRenderState(render, 0.01f); // the fill leaves the pointer alone
    const float* p = render.uniforms.pointer;
    EXPECT_FLOAT_EQ(p[0], 300.0f);
    EXPECT_FLOAT_EQ(p[1], 400.0f);
    EXPECT_FLOAT_EQ(p[2], 100.0f);
    EXPECT_FLOAT_EQ(p[3], 200.0f);
}

TEST(ShaderUniforms, StartUpSlotsAreARainbowAtRest) {
    const RenderState render = defaultRender();
    for (int i = 0; i < kStemSlots; ++i) {
        EXPECT_FLOAT_EQ(render.stemValue[i], 1.0f);
        EXPECT_FLOAT_EQ(render.stemPeak[i], 2.0f);
        EXPECT_FLOAT_EQ(render.stemLerpSpeed[i], 18.0f);
        EXPECT_FLOAT_EQ(render.stemColors[i][3], 1.0f);
    }
    EXPECT_NEAR(render.stemColors[0][0], 0.5f, 1e-5f);
    EXPECT_NEAR(render.stemColors[0][1], 0.933f, 1e-3f);
    EXPECT_NEAR(render.stemColors[2][0], 1.0f, 1e-3f) << "a quarter turn round the hue circle";
}

TEST(PulseStem, TargetScalesWithVelocityAndRegister) {
    struct Case {
        int key, velocity;
        float expected;
    } cases[] = {
        {40, 127, 2.4f},                            // 36..47: 1.2
        {80, 1, (0.5f + 0.5f / 127.0f) * 0.4f * 2}, // 73 and up: 0.4
        {30, 127, 2.0f},                            // below 36: 1.0
        {50, 127, 1.6f},                            // 48..59: 0.8
        {72, 127, 1.2f},                            // 60..72: 0.6
    };
    for (const Case& c : cases) {
        RenderState render = defaultRender();
        pulseStem(noteOn(c.key, c.velocity, 2), &render);
        EXPECT_NEAR(render.stemTarget[2], c.expected, 1e-5f) << "key " << c.key;
        EXPECT_TRUE(render.stemPulsing[2]);
        EXPECT_LE(render.stemTarget[2], 1.5f * render.stemPeak[2]);
    }
}

TEST(PulseStem, IgnoresSilentOffAndOutOfRangeNotes) {
    MidiNoteEvent silent = noteOn(40, 0, 1);
    MidiNoteEvent off = noteOn(40, 100, 1);
    off.isNoteOn = false;
    const MidiNoteEvent beyond = noteOn(40, 100, 8);
    const MidiNoteEvent negative = noteOn(40, 100, -1);
    RenderState render = defaultRender();
    for (const MidiNoteEvent& note : {silent, off, beyond, negative}) {
        pulseStem(note, &render);
    }
    pulseStem(noteOn(40, 100, 1), nullptr);
    for (int i = 0; i < kStemSlots; ++i) {
        EXPECT_FLOAT_EQ(render.stemTarget[i], 1.0f);
        EXPECT_FALSE(render.stemPulsing[i]);
    }
}

TEST(PulseStem, RisesToItsPeakThenFallsBackToRest) {
    RenderState render = defaultRender();
    pulseStem(noteOn(40, 127, 0), &render); // target 2.4
    advanceRenderState(render, 1.0f / 60.0f);
    EXPECT_GT(render.stemValue[0], 1.0f);
    EXPECT_TRUE(render.stemPulsing[0]) << "still more than 0.5 below its peak";
    for (int frame = 0; frame < 10 && render.stemPulsing[0]; ++frame) {
        advanceRenderState(render, 1.0f / 60.0f);
    }
    EXPECT_FALSE(render.stemPulsing[0]);
    EXPECT_FLOAT_EQ(render.stemTarget[0], render.stemBase[0]);

    // A pulse already within 0.5 of the value turns back at the very next frame.
    RenderState close = defaultRender();
    pulseStem(noteOn(80, 100, 4), &close); // target about 0.71, value 1.0
    advanceRenderState(close, 1.0f / 60.0f);
    EXPECT_FALSE(close.stemPulsing[4]);
    EXPECT_FLOAT_EQ(close.stemTarget[4], 1.0f);
}

TEST(ShaderUniforms, IntensitySettlesByTheNumberOfActiveStems) {
    const struct {
        int active;
        float settled;
    } cases[] = {{0, 0.95f}, {2, 0.95f}, {3, 0.75f}, {5, 0.75f}, {6, 0.4f}, {8, 0.4f}};
    for (const auto& c : cases) {
        RenderState render = defaultRender();
        render.activeStemCount = c.active;
        for (int frame = 0; frame < 600; ++frame) {
            advanceRenderState(render, 1.0f / 60.0f);
        }
        EXPECT_NEAR(render.intensity, c.settled, 1e-3f) << c.active << " active stems";
    }
}

} // namespace
