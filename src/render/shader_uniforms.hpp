#pragma once
// The uniform block shared by the background and circle shaders: its CPU layout, and the
// animation state of the render record that fills it every frame (render time, frame counter,
// pointer, local date and the eight stem slots that pulse with the music).
//
// Threads: everything here runs on the main thread with the game mutex held, except pulseStem,
// which the logic thread's master clock calls inside its tick (also under the game mutex). The
// mutex is what keeps pulseStem and advanceRenderState off each other's slots.
#include <cstddef>

struct MidiNoteEvent;
struct RenderState;

// std140 layout, binding point 0, uploaded whole (208 bytes) at offset 0. The shader files
// declare the same members with the same padding; the offsets below are checked here and
// against the compiled shaders by the GL tests.
struct ShaderUniforms {
    float resolution[3]; // drawable width, height in pixels, and 1.0
    float resolutionPad; // 0
    float time;          // render time, seconds
    float timeDelta;     // time minus the time of the previous fill
    float frameRate;     // 1 / timeDelta, or 60 when timeDelta <= 0
    float frame;         // frames drawn since start
    float pointer[4];    // x, y: pointer; z, w: last press (drawable pixels, origin top left)
    float date[4];       // local year, month 1-12, day 1-31, seconds since local midnight
    float sampleRate;    // 44100
    float samplePad[3];  // zeros
    float stems[8][4];   // slot i: value, active (1 or 0); slot 0 also: active count, intensity
};

static_assert(offsetof(ShaderUniforms, resolution) == 0, "std140 offset of resolution");
static_assert(offsetof(ShaderUniforms, resolutionPad) == 12, "std140 offset of the padding word");
static_assert(offsetof(ShaderUniforms, time) == 16, "std140 offset of time");
static_assert(offsetof(ShaderUniforms, timeDelta) == 20, "std140 offset of timeDelta");
static_assert(offsetof(ShaderUniforms, frameRate) == 24, "std140 offset of frameRate");
static_assert(offsetof(ShaderUniforms, frame) == 28, "std140 offset of frame");
static_assert(offsetof(ShaderUniforms, pointer) == 32, "std140 offset of pointer");
static_assert(offsetof(ShaderUniforms, date) == 48, "std140 offset of date");
static_assert(offsetof(ShaderUniforms, sampleRate) == 64, "std140 offset of sampleRate");
static_assert(offsetof(ShaderUniforms, samplePad) == 68, "std140 offset of the padding after sampleRate");
static_assert(offsetof(ShaderUniforms, stems) == 80, "std140 offset of stems");
static_assert(sizeof(ShaderUniforms) == 208, "the uniform block is 208 bytes");

// The eight stem slots back to their start-up defaults: value, target and base 1.0, peak 2.0,
// lerp speed 18.0, not pulsing, and a rainbow of colours around the hue circle.
void setStemSlotDefaults(RenderState& render);

// Stores the pointer position (drawable pixels, origin top left) every frame; when `pressed`,
// also as the position of the last press, which then stays until the next press.
void setPointer(RenderState& render, float x, float y, bool pressed);

// One frame of animation, dt in seconds: intensity eases toward its target (0.95 below three
// active stems, 0.75 below six, else 0.4), the frame counter and render time advance, each stem
// slot approaches its target and a pulse that got within 0.5 of its peak falls back to the base;
// then the block is refilled. Call after the stems' active flags have been copied in.
void advanceRenderState(RenderState& render, float dt);

// Recomputes the block from the render record. Leaves `pointer` alone (setPointer owns it).
// `timeDelta` is measured against the previous fill of this render record.
void fillShaderUniforms(RenderState& render);

// The note callback installed at start-up: a note-on with velocity > 0 on stem 0..7 sends that
// stem's slot toward a peak scaled by velocity and register (low notes push harder, never past
// 1.5 x the slot's peak). Anything else, or a null render record, changes nothing.
void pulseStem(const MidiNoteEvent& note, RenderState* render);
