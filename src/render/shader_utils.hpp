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

// The lines a program's builder writes to stderr when a step fails; a null line writes nothing
// (the step's own routine has already said why).
struct ProgramFailureLines {
    const char* vertexSourceMissing;
    const char* fragmentSourceMissing;
    const char* vertexCompileFailed;
    const char* fragmentCompileFailed;
    const char* linkFailed;
};

// Reads both files, compiles them and links the program, storing each name as it is made (so
// that a failure leaves what exists for the caller to release). False at the first failure,
// after its line.
bool buildProgramFromFiles(const char* vertexPath, const char* fragmentPath, const ProgramFailureLines& lines,
                           std::uint32_t& vertexShader, std::uint32_t& fragmentShader,
                           std::uint32_t& program);
