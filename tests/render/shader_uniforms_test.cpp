#include "audio/midi_chart.hpp"
#include "render/render_system.hpp"
#include "render/shader_uniforms.hpp"

#include <gtest/gtest.h>

#include <ctime>
#include <vector>

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

TEST(ShaderUniforms, FillCarriesSizeTimeStemsPointerAndPadding) {
    RenderState render = defaultRender();
    render.stemActive[0] = render.stemActive[3] = true;
    render.activeStemCount = 2;
    render.stemValue[3] = 1.7f;
    render.intensity = 0.6f;
    setPointer(render, 100.0f, 200.0f, true); // the press position persists while the pointer moves
    setPointer(render, 300.0f, 400.0f, false);
    const std::time_t before = std::time(nullptr);
    advanceRenderState(render, 1.0f / 60.0f); // the first fill: previous time 0
    const ShaderUniforms& u = render.uniforms;

    EXPECT_EQ((std::vector<float>{u.resolution[0], u.resolution[1], u.resolution[2], u.resolutionPad,
                                  u.sampleRate, u.samplePad[0], u.samplePad[1], u.samplePad[2]}),
              (std::vector<float>{1280.0f, 720.0f, 1.0f, 0.0f, 44100.0f, 0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(std::vector<float>(u.pointer, u.pointer + 4),
              (std::vector<float>{300.0f, 400.0f, 100.0f, 200.0f}));
    EXPECT_FLOAT_EQ(u.time, 1.0f / 60.0f);
    EXPECT_FLOAT_EQ(u.timeDelta, 1.0f / 60.0f);
    EXPECT_NEAR(u.frameRate, 60.0f, 1e-3f);
    EXPECT_FLOAT_EQ(u.frame, 1.0f);
    // Slot 0 carries the active count and the intensity; an active slot moves toward its value.
    EXPECT_EQ((std::vector<float>{u.stems[3][1], u.stems[5][1], u.stems[0][2], u.stems[3][2], u.stems[3][3]}),
              (std::vector<float>{1.0f, 0.0f, 2.0f, 0.0f, 0.0f}));
    EXPECT_NEAR(u.stems[0][3], render.intensity, 1e-6f);
    EXPECT_GT(u.stems[3][0], 1.0f);

    // The date is local: compare with the clock read around the fill.
    std::tm local{};
    localtime_r(&before, &local);
    EXPECT_EQ((std::vector<float>{u.date[0], u.date[1], u.date[2]}),
              (std::vector<float>{local.tm_year + 1900.0f, local.tm_mon + 1.0f, local.tm_mday + 0.0f}));
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

TEST(PulseStem, TargetScalesWithVelocityAndRegisterAndIgnoresSilentOffAndOutOfRangeNotes) {
    struct Case {
        int key, velocity, stem;
        bool on;
        float expected; // 1.0 and not pulsing: ignored
    } cases[] = {
        {40, 127, 2, true, 2.4f},                            // 36..47: 1.2
        {80, 1, 2, true, (0.5f + 0.5f / 127.0f) * 0.4f * 2}, // 73 and up: 0.4
        {30, 127, 2, true, 2.0f},                            // below 36: 1.0
        {50, 127, 2, true, 1.6f},                            // 48..59: 0.8
        {72, 127, 2, true, 1.2f},                            // 60..72: 0.6
        {40, 0, 1, true, 1.0f},                              // silent
        {40, 100, 1, false, 1.0f},                           // a note-off
        {40, 100, 8, true, 1.0f},                            // no such slot
        {40, 100, -1, true, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("key " + std::to_string(c.key) + " stem " + std::to_string(c.stem));
        RenderState render = defaultRender();
        MidiNoteEvent note = noteOn(c.key, c.velocity, c.stem);
        note.isNoteOn = c.on;
        pulseStem(note, &render);
        for (int i = 0; i < kStemSlots; ++i) {
            const bool pulsed = i == c.stem && c.expected != 1.0f;
            EXPECT_NEAR(render.stemTarget[i], pulsed ? c.expected : 1.0f, 1e-5f) << "slot " << i;
            EXPECT_EQ(render.stemPulsing[i], pulsed) << "slot " << i;
        }
    }
    pulseStem(noteOn(40, 100, 1), nullptr);
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
