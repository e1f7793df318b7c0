#include "render/screen_dim.hpp"

#include "app/log.hpp"
#include "render/gl_functions.hpp"
#include "render/shader_utils.hpp"

namespace {

// One triangle covering the viewport, from the vertex index alone: no buffer to fill.
const char* const kVertexSource = R"(#version 330 core
void main() {
    vec2 corner = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}
)";

const char* const kFragmentSource = R"(#version 330 core
uniform float uAlpha;
out vec4 fragColor;
void main() {
    fragColor = vec4(0.0, 0.0, 0.0, uAlpha);
}
)";

struct ScreenDim {
    GLuint program = 0;
    GLuint vertexArray = 0;
    GLint alphaLocation = -1;
    bool failed = false; // building failed once: not tried again until released
};
ScreenDim dim;

bool buildScreenDim() {
    const GLuint vertex = compileShader(kVertexSource, GL_VERTEX_SHADER);
    const GLuint fragment = vertex != 0 ? compileShader(kFragmentSource, GL_FRAGMENT_SHADER) : 0;
    const GLuint program = fragment != 0 ? linkProgram(vertex, fragment) : 0;
    // A linked program keeps its stages' code; the shader objects are not needed after it.
    if (vertex != 0) {
        gGL.glDeleteShader(vertex);
    }
    if (fragment != 0) {
        gGL.glDeleteShader(fragment);
    }
    if (program == 0) {
        logError(stderr, "Failed to build the screen dimming program; the menus dim with the GUI's quad");
        return false;
    }
    dim.program = program;
    dim.alphaLocation = gGL.glGetUniformLocation(program, "uAlpha");
    gGL.glGenVertexArrays(1, &dim.vertexArray);
    return true;
}

} // namespace

bool prepareScreenDim() {
    if (dim.program == 0 && !dim.failed) {
        dim.failed = !buildScreenDim();
    }
    return dim.program != 0;
}

void drawScreenDim(float alpha) {
    if (dim.program == 0) {
        return;
    }
    gGL.glUseProgram(dim.program);
    gGL.glUniform1f(dim.alphaLocation, alpha);
    gGL.glBindVertexArray(dim.vertexArray);
    gGL.glDisable(GL_SCISSOR_TEST);
    gGL.glDrawArrays(GL_TRIANGLES, 0, 3);
}

void releaseScreenDim() {
    if (dim.vertexArray != 0) {
        gGL.glDeleteVertexArrays(1, &dim.vertexArray);
    }
    if (dim.program != 0) {
        gGL.glDeleteProgram(dim.program);
    }
    dim = ScreenDim{};
}
