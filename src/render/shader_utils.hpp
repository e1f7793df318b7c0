#pragma once
// Reading, compiling and linking GLSL shaders. Main thread only (needs the GL context).
#include <cstdint>
#include <string>

// The whole file as read, or "" on failure (logged). Nothing is added to the text.
std::string loadShaderSource(const char* path);

// Compiles one stage (GL_VERTEX_SHADER, GL_FRAGMENT_SHADER, ...); the shader name, or 0 on failure
// with the info log on stderr. A failed shader is deleted.
std::uint32_t compileShader(const std::string& source, std::uint32_t stage);

// Links the two stages; the program name, or 0 on failure with the info log on stderr. The
// shaders stay with the caller either way.
std::uint32_t linkProgram(std::uint32_t vertexShader, std::uint32_t fragmentShader);
