#include "render/screen_dim.hpp"

#include "base/log.hpp"
#include "render/gl_functions.hpp"
#include "render/shader_utils.hpp"

// ---- The bookkeeping ----

float sceneDimFrameStart(SceneDim& dim, bool canFold) {
    dim.menuLastFrame = dim.menuThisFrame;
    dim.circlesLastFrame = dim.circlesThisFrame;
    dim.menuThisFrame = false;
    dim.circlesThisFrame = false;
    dim.darkened = canFold && dim.menuLastFrame && !dim.circlesLastFrame;
    return dim.darkened ? 1.0f - kMenuDimAlpha : 1.0f;
}

DimPass sceneDimBeforeDrawingOver(SceneDim& dim) {
    dim.circlesThisFrame = true;
    if (!dim.darkened) {
        return DimPass::None;
    }
    dim.darkened = false;
    return DimPass::Brighten;
}

void sceneDimWanted(SceneDim& dim) { dim.menuThisFrame = true; }

DimPass sceneDimMenuPass(SceneDim& dim) {
    if (dim.darkened) {
        return DimPass::None;
    }
    dim.darkened = true;
    return DimPass::Darken;
}

DimPass sceneDimSettle(SceneDim& dim) {
    if (!dim.darkened || dim.menuThisFrame) {
        return DimPass::None;
    }
    dim.darkened = false;
    return DimPass::Brighten;
}

// ---- GL ----

namespace {

// One triangle covering the viewport, from the vertex index alone: no buffer to fill.
const char* const kVertexSource = R"(#version 330 core
void main() {
    vec2 corner = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}
)";

const char* const kFragmentSource = R"(#version 330 core
uniform vec4 uColor;
out vec4 fragColor;
void main() {
    fragColor = uColor;
}
)";

struct ScreenDim {
    GLuint program = 0;
    GLuint vertexArray = 0;
    GLint colorLocation = -1;
    bool failed = false; // building failed once: not tried again until released
};
ScreenDim program;
SceneDim scene;

bool buildScreenDim() {
    const GLuint vertex = compileShader(kVertexSource, GL_VERTEX_SHADER);
    const GLuint fragment = vertex != 0 ? compileShader(kFragmentSource, GL_FRAGMENT_SHADER) : 0;
    const GLuint linked = fragment != 0 ? linkProgram(vertex, fragment) : 0;
    // A linked program keeps its stages' code; the shader objects are not needed after it.
    if (vertex != 0) {
        gGL.glDeleteShader(vertex);
    }
    if (fragment != 0) {
        gGL.glDeleteShader(fragment);
    }
    if (linked == 0) {
        logError(stderr, "Failed to build the screen dimming program; the menus dim with the GUI's quad");
        return false;
    }
    program.program = linked;
    program.colorLocation = gGL.glGetUniformLocation(linked, "uColor");
    gGL.glGenVertexArrays(1, &program.vertexArray);
    return true;
}

// The state a pass changes, put back when it is done.
struct SavedPassState {
    GLint program = 0, vertexArray = 0, sourceRgb = 0, destinationRgb = 0, sourceAlpha = 0,
          destinationAlpha = 0;
    bool blend = false, scissor = false;
    SavedPassState() {
        gGL.glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        gGL.glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
        gGL.glGetIntegerv(GL_BLEND_SRC_RGB, &sourceRgb);
        gGL.glGetIntegerv(GL_BLEND_DST_RGB, &destinationRgb);
        gGL.glGetIntegerv(GL_BLEND_SRC_ALPHA, &sourceAlpha);
        gGL.glGetIntegerv(GL_BLEND_DST_ALPHA, &destinationAlpha);
        blend = gGL.glIsEnabled != nullptr && gGL.glIsEnabled(GL_BLEND) == GL_TRUE;
        scissor = gGL.glIsEnabled != nullptr && gGL.glIsEnabled(GL_SCISSOR_TEST) == GL_TRUE;
    }
    ~SavedPassState() {
        gGL.glUseProgram(static_cast<GLuint>(program));
        gGL.glBindVertexArray(static_cast<GLuint>(vertexArray));
        if (gGL.glBlendFuncSeparate != nullptr) {
            gGL.glBlendFuncSeparate(static_cast<GLenum>(sourceRgb), static_cast<GLenum>(destinationRgb),
                                    static_cast<GLenum>(sourceAlpha), static_cast<GLenum>(destinationAlpha));
        } else {
            gGL.glBlendFunc(static_cast<GLenum>(sourceRgb), static_cast<GLenum>(destinationRgb));
        }
        blend ? gGL.glEnable(GL_BLEND) : gGL.glDisable(GL_BLEND);
        scissor ? gGL.glEnable(GL_SCISSOR_TEST) : gGL.glDisable(GL_SCISSOR_TEST);
    }
};

} // namespace

SceneDim& gameSceneDim() { return scene; }

bool prepareScreenDim() {
    if (program.program == 0 && !program.failed) {
        program.failed = !buildScreenDim();
    }
    return program.program != 0;
}

void drawDimPass(DimPass pass) {
    if (pass == DimPass::None || program.program == 0) {
        return;
    }
    const SavedPassState saved;
    gGL.glUseProgram(program.program);
    gGL.glBindVertexArray(program.vertexArray);
    gGL.glDisable(GL_SCISSOR_TEST);
    gGL.glEnable(GL_BLEND);
    if (pass == DimPass::Darken) {
        // Black over the scene, as a rectangle of the GUI's would lay it.
        gGL.glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        gGL.glUniform4f(program.colorLocation, 0.0f, 0.0f, 0.0f, kMenuDimAlpha);
    } else {
        // White times the scene, plus the scene: twice it, within a level of what it was before
        // it was darkened.
        gGL.glBlendFunc(GL_DST_COLOR, GL_ONE);
        gGL.glUniform4f(program.colorLocation, 1.0f, 1.0f, 1.0f, 1.0f);
    }
    gGL.glDrawArrays(GL_TRIANGLES, 0, 3);
}

float backgroundDimForFrame(bool canFold) {
    // Without the pass's program a darkened background could not be brought back.
    return sceneDimFrameStart(scene, canFold && program.program != 0);
}

void drawFullScreenTriangle(float keep) {
    if (keep >= 1.0f) {
        gGL.glDrawArrays(GL_TRIANGLES, 0, 3);
        return;
    }
    const SavedPassState saved;
    gGL.glEnable(GL_BLEND);
    gGL.glBlendColor(keep, keep, keep, 1.0f);
    gGL.glBlendFunc(GL_CONSTANT_COLOR, GL_ZERO);
    gGL.glDrawArrays(GL_TRIANGLES, 0, 3);
}

void settleSceneDimBeforeDrawingOver() { drawDimPass(sceneDimBeforeDrawingOver(scene)); }

void drawMenuDim() { drawDimPass(sceneDimMenuPass(scene)); }

void settleSceneDim() { drawDimPass(sceneDimSettle(scene)); }

void releaseScreenDim() {
    if (program.vertexArray != 0) {
        gGL.glDeleteVertexArrays(1, &program.vertexArray);
    }
    if (program.program != 0) {
        gGL.glDeleteProgram(program.program);
    }
    program = ScreenDim{};
    scene = SceneDim{};
}
