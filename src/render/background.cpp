#include "render/background.hpp"

#include "app/log.hpp"
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

bool replaceBackgroundFragmentShader(RenderState& render, const std::string& source) {
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
    if (render.backgroundProgram != 0) {
        gGL.glDeleteProgram(render.backgroundProgram);
    }
    if (render.backgroundFragmentShader != 0) {
        gGL.glDeleteShader(render.backgroundFragmentShader);
    }
    render.backgroundProgram = program;
    render.backgroundFragmentShader = fragment;
    logMessage("Custom shader compiled and loaded successfully");
    return true;
}
