#pragma once
// The audio-reactive background: the full-screen program behind everything, the uniform buffer
// binding it shares with the circle program, and a level's own background shader.
// Main thread only (GL).
#include <string>

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
// On success the new program replaces the old one (whose fragment shader is deleted with it);
// on failure the current background stays, its lines go to stderr and the result is false.
bool replaceBackgroundFragmentShader(RenderState& render, const std::string& source);
