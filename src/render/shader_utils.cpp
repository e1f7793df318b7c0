#include "render/shader_utils.hpp"

#include "base/log.hpp"
#include "render/gl_functions.hpp"

#include <SDL3/SDL.h>

#include <vector>

std::string loadShaderSource(const char* path) {
    size_t size = 0;
    void* data = SDL_LoadFile(path, &size);
    if (!data) {
        logError(stderr, "Failed to load shader file with SDL_LoadFile, Error: %s)", SDL_GetError());
        return std::string();
    }
    if (size == 0) {
        logError(stderr, "Shader file is empty(or SDL_LoadFile reported 0 size)");
        SDL_free(data);
        return std::string();
    }
    std::string source(static_cast<const char*>(data), size);
    SDL_free(data);
    logMessage("Loaded shader source using SDL_LoadFile: %s (%zu characters)", path, size);
    return source;
}

static const char* stageName(std::uint32_t stage) {
    switch (stage) {
    case GL_FRAGMENT_SHADER:
        return "fragment";
    case GL_VERTEX_SHADER:
        return "vertex";
    case GL_COMPUTE_SHADER:
        return "compute";
    default:
        return "unknown";
    }
}

std::uint32_t compileShader(const std::string& source, std::uint32_t stage) {
    GLuint shader = gGL.glCreateShader(stage);
    if (shader == 0) {
        logError(stderr, "Failed to create shader object");
        return 0;
    }
    const GLchar* text = source.c_str();
    gGL.glShaderSource(shader, 1, &text, nullptr);
    gGL.glCompileShader(shader);
    GLint status = GL_FALSE;
    gGL.glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status == GL_TRUE) {
        logMessage("Successfully compiled %s shader", stageName(stage));
        return shader;
    }
    GLint length = 0;
    gGL.glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    if (length > 0) {
        std::vector<char> log(static_cast<size_t>(length) + 1, '\0');
        gGL.glGetShaderInfoLog(shader, length, nullptr, log.data());
        logError(stderr, "Shader compilation failed:\n%s", log.data());
    }
    gGL.glDeleteShader(shader);
    return 0;
}

std::uint32_t linkProgram(std::uint32_t vertexShader, std::uint32_t fragmentShader) {
    GLuint program = gGL.glCreateProgram();
    if (program == 0) {
        logError(stderr, "Failed to create shader program");
        return 0;
    }
    gGL.glAttachShader(program, vertexShader);
    gGL.glAttachShader(program, fragmentShader);
    gGL.glLinkProgram(program);
    GLint status = GL_FALSE;
    gGL.glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (status != GL_TRUE) {
        GLint length = 0;
        gGL.glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
        if (length > 0) {
            std::vector<char> log(static_cast<size_t>(length) + 1, '\0');
            gGL.glGetProgramInfoLog(program, length, nullptr, log.data());
            logError(stderr, "Shader program linking failed:\n%s", log.data());
        }
        gGL.glDeleteProgram(program);
        return 0;
    }
    logMessage("Successfully created shader program");
    return program;
}

static bool failWith(const char* line) {
    if (line != nullptr) {
        logError(stderr, "%s", line);
    }
    return false;
}

bool buildProgramFromFiles(const char* vertexPath, const char* fragmentPath, const ProgramFailureLines& lines,
                           std::uint32_t& vertexShader, std::uint32_t& fragmentShader,
                           std::uint32_t& program) {
    const std::string vertexSource = loadShaderSource(vertexPath);
    if (vertexSource.empty()) {
        return failWith(lines.vertexSourceMissing);
    }
    const std::string fragmentSource = loadShaderSource(fragmentPath);
    if (fragmentSource.empty()) {
        return failWith(lines.fragmentSourceMissing);
    }
    vertexShader = compileShader(vertexSource, GL_VERTEX_SHADER);
    if (vertexShader == 0) {
        return failWith(lines.vertexCompileFailed);
    }
    fragmentShader = compileShader(fragmentSource, GL_FRAGMENT_SHADER);
    if (fragmentShader == 0) {
        return failWith(lines.fragmentCompileFailed);
    }
    program = linkProgram(vertexShader, fragmentShader);
    if (program == 0) {
        return failWith(lines.linkFailed);
    }
    return true;
}
