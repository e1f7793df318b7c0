#include "render/background.hpp"

#include "base/log.hpp"
#include "render/gl_functions.hpp"
#include "render/render_system.hpp"
#include "render/shader_utils.hpp"

bool initBackgroundShaders(RenderState& render) {
    const ProgramFailureLines lines = {"Failed to load vertex shader source",
                                       "Failed to load fragment shader source",
                                       "Failed to compile vertex shader", "Failed to compile fragment shader",
                                       "Failed to create shader program"};
    if (!buildProgramFromFiles("shaders/fullscreen.vert", "shaders/background_uniform.frag", lines,
                               render.backgroundVertexShader, render.backgroundFragmentShader,
                               render.backgroundProgram)) {
        return false;
    }
    const GLuint block = gGL.glGetUniformBlockIndex(render.backgroundProgram, "ShaderUniforms");
    if (block == GL_INVALID_INDEX) {
        logError(stderr, "Warning: Could not find uniform block 'ShaderUniforms'");
    } else {
        gGL.glUniformBlockBinding(render.backgroundProgram, block, 0);
        logMessage("Uniform buffer block bound successfully");
    }
    render.builtinBackgroundProgram = render.backgroundProgram;
    render.builtinBackgroundFragmentShader = render.backgroundFragmentShader;
    logMessage("Successfully created OpenGL shaders");
    return true;
}

void uploadShaderUniforms(const RenderState& render) {
    if (render.uniformBuffer == 0) {
        return;
    }
    gGL.glBindBuffer(GL_UNIFORM_BUFFER, render.uniformBuffer);
    if (gGL.glBufferSubData) {
        gGL.glBufferSubData(GL_UNIFORM_BUFFER, 0, kShaderUniformsSize, &render.uniforms);
    } else {
        // glBufferSubData is optional in the entry table; re-specifying the store is equivalent.
        gGL.glBufferData(GL_UNIFORM_BUFFER, kShaderUniformsSize, &render.uniforms, GL_DYNAMIC_DRAW);
    }
}

void refreshUniformBindings(RenderState& render) {
    fillShaderUniforms(render);
    if (render.uniformBuffer != 0) {
        uploadShaderUniforms(render);
        if (gGL.glBindBufferBase) {
            gGL.glBindBufferBase(GL_UNIFORM_BUFFER, 0, render.uniformBuffer);
        }
    }
    for (const GLuint program : {render.backgroundProgram, render.circleProgram}) {
        if (program == 0) {
            continue;
        }
        const GLuint block = gGL.glGetUniformBlockIndex(program, "ShaderUniforms");
        if (block != GL_INVALID_INDEX) {
            gGL.glUniformBlockBinding(program, block, 0);
        }
    }
    logMessage("All uniforms initialized and verified after level load");
}

bool usingCustomBackground(const RenderState& render) {
    return render.backgroundProgram != render.builtinBackgroundProgram;
}

// Deletes the background program in use and its fragment shader unless they are the built-in ones.
static void deleteCustomBackground(RenderState& render) {
    if (!usingCustomBackground(render)) {
        return;
    }
    if (render.backgroundProgram != 0) {
        gGL.glDeleteProgram(render.backgroundProgram);
    }
    if (render.backgroundFragmentShader != 0 &&
        render.backgroundFragmentShader != render.builtinBackgroundFragmentShader) {
        gGL.glDeleteShader(render.backgroundFragmentShader);
    }
    render.backgroundProgram = 0;
    render.backgroundFragmentShader = 0;
}

bool replaceBackgroundFragmentShader(RenderState& render, const std::string& source,
                                     const std::string& name) {
    const GLuint fragment = compileShader(source, GL_FRAGMENT_SHADER);
    if (fragment == 0) {
        logError(stderr, "Failed to compile custom fragment shader");
        logError(stderr, "Failed to load custom shader, keeping current shader");
        return false;
    }
    const GLuint program = linkProgram(render.backgroundVertexShader, fragment);
    if (program == 0) {
        logError(stderr, "Failed to create custom shader program");
        gGL.glDeleteShader(fragment);
        logError(stderr, "Failed to load custom shader, keeping current shader");
        return false;
    }
    deleteCustomBackground(render);
    render.backgroundProgram = program;
    render.backgroundFragmentShader = fragment;
    render.customBackgroundName = name;
    render.backgroundWatch = BackgroundWatch{};
    logMessage("Custom shader compiled and loaded successfully");
    return true;
}

void restoreBuiltinBackground(RenderState& render) {
    deleteCustomBackground(render);
    render.backgroundProgram = render.builtinBackgroundProgram;
    render.backgroundFragmentShader = render.builtinBackgroundFragmentShader;
    render.customBackgroundName.clear();
    render.backgroundWatch = BackgroundWatch{};
    if (render.backgroundProgram != 0) {
        const GLuint block = gGL.glGetUniformBlockIndex(render.backgroundProgram, "ShaderUniforms");
        if (block != GL_INVALID_INDEX) {
            gGL.glUniformBlockBinding(render.backgroundProgram, block, 0);
        }
    }
}

bool countBackgroundFrame(BackgroundWatch& watch, double frameMs, int& meanMs) {
    if (watch.framesSinceSwap < watch.warmupFrames) {
        ++watch.framesSinceSwap;
        return false;
    }
    if (frameMs <= watch.slowMs) {
        watch.slowStreak = 0;
        watch.slowTotalMs = 0.0;
        return false;
    }
    ++watch.slowStreak;
    watch.slowTotalMs += frameMs;
    if (watch.slowStreak < watch.slowFrames) {
        return false;
    }
    meanMs = static_cast<int>(watch.slowTotalMs / watch.slowStreak + 0.5);
    return true;
}

bool watchBackgroundFrame(RenderState& render, double frameMs, bool loadingFrame) {
    int meanMs = 0;
    if (!usingCustomBackground(render) || loadingFrame ||
        !countBackgroundFrame(render.backgroundWatch, frameMs, meanMs)) {
        return false;
    }
    const std::string name = render.customBackgroundName;
    restoreBuiltinBackground(render);
    logError(stderr, "Custom shader too slow (%d ms per frame), restoring the built-in background: %s",
             meanMs, name.c_str());
    return true;
}
