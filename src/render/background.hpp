#pragma once
// The audio-reactive background: the full-screen program behind everything, the uniform buffer
// binding it shares with the circle program, and a level's own background shader.
// Main thread only (GL).
#include <string>

struct BackgroundWatch;

struct RenderState;

// Reads shaders/fullscreen.vert and shaders/background_uniform.frag, compiles and links them into
// the background program and binds its "ShaderUniforms" block to point 0 (a missing block only
// warns). False, with its line on stderr, on any other failure.
bool initBackgroundShaders(RenderState& render);

// Refills the uniform block, uploads all of it, binds the buffer to point 0 and binds the block
// of both programs to it. The level loader runs this at the end of every level load.
void refreshUniformBindings(RenderState& render);

// Uploads the CPU copy of the uniform block (208 bytes at offset 0), once per frame.
void uploadShaderUniforms(const RenderState& render);

// Compiles a level's background fragment shader and links it with the background vertex shader.
// On success the new program takes over and a custom program it replaces is deleted with its
// fragment shader; the built-in program is kept alive so that it can come back. On failure the
// current background stays, its lines go to stderr and the result is false. `name` (the level
// package's) is only used in messages.
bool replaceBackgroundFragmentShader(RenderState& render, const std::string& source,
                                     const std::string& name = "");

// True while a level's own background is in use instead of the built-in one.
bool usingCustomBackground(const RenderState& render);

// Deletes the custom background, if any, and puts the built-in one back with its uniform block
// bound again.
void restoreBuiltinBackground(RenderState& render);

// A level's shader is untrusted code that can make every frame take seconds. After a custom
// background is swapped in, the frames are watched: past the first 30 (software GL compiles on
// the first draw), 10 frames in a row over 250 ms bring the built-in background back (the limits
// are those of RenderState::backgroundWatch).
// Feeds the work time of one frame (milliseconds) drawn with the current background. Frames spent
// loading a level are not counted. When the custom background has been too slow for long enough,
// it is replaced by the built-in one, "Custom shader too slow (%d ms per frame), restoring the
// built-in background: %s" (mean of the slow run, package name) goes to stderr, and the result is
// true. Main thread.
bool watchBackgroundFrame(RenderState& render, double frameMs, bool loadingFrame);

// The counting alone: true when this frame completes the slow run, with its mean in `meanMs`.
bool countBackgroundFrame(BackgroundWatch& watch, double frameMs, int& meanMs);
