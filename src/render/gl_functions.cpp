#include "render/gl_functions.hpp"

#include "base/log.hpp"

#include <SDL3/SDL_video.h>

#include <cstring>

GLFunctions gGL;

namespace {

struct GLEntry {
    const char* name;
    bool critical;
    SDL_FunctionPointer* slot;
};

// The table in its declared order, pointing into gGL.
template <typename F> SDL_FunctionPointer* slotOf(F& member) {
    static_assert(sizeof(F) == sizeof(SDL_FunctionPointer), "GL entry points are plain function pointers");
    return reinterpret_cast<SDL_FunctionPointer*>(&member);
}

} // namespace

bool loadGLFunctions() { return loadGLFunctionsWith(SDL_GL_GetProcAddress); }

bool loadGLFunctionsWith(GLProcLookup lookup) {
    logMessage("Loading OpenGL functions...");
    const GLEntry entries[] = {
#define VIBRELLE_GL_ENTRY(name, type, critical) {#name, critical, slotOf(gGL.name)},
        VIBRELLE_GL_FUNCTIONS(VIBRELLE_GL_ENTRY)
#undef VIBRELLE_GL_ENTRY
    };
    bool allCritical = true;
    for (const GLEntry& entry : entries) {
        *entry.slot = lookup(entry.name);
        if (entry.critical && *entry.slot == nullptr) {
            allCritical = false;
        }
    }
    if (allCritical) {
        logMessage("OpenGL functions loaded successfully!");
        std::fflush(stdout);
        return true;
    }
    logError(stderr, "Failed to load critical OpenGL functions");
    for (const GLEntry& entry : entries) {
        if (entry.critical && *entry.slot == nullptr) {
            logError(stderr, "  %s failed to load", entry.name);
        }
    }
    std::fflush(stderr);
    return false;
}

bool checkGLError(const char* context) {
    const GLenum error = gGL.glGetError();
    if (error == GL_NO_ERROR) {
        return true;
    }
    switch (error) {
    case GL_INVALID_ENUM:
        logError(stderr, "OpenGL error in %s: GL_INVALID_ENUM", context);
        break;
    case GL_INVALID_VALUE:
        logError(stderr, "OpenGL error in %s: GL_INVALID_VALUE", context);
        break;
    case GL_INVALID_OPERATION:
        logError(stderr, "OpenGL error in %s: GL_INVALID_OPERATION", context);
        break;
    case GL_OUT_OF_MEMORY:
        logError(stderr, "OpenGL error in %s: GL_OUT_OF_MEMORY", context);
        break;
    default:
        logError(stderr, "OpenGL error in %s: Unknown error %u", context, static_cast<unsigned>(error));
        break;
    }
    return false;
}
