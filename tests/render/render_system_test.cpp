#include "render/shader_utils.hpp"

#include "gl_test_fixture.hpp"

#include <cstring>
#include <functional>
#include <string>

namespace {

const char* gMissingName = nullptr;
SDL_FunctionPointer lookupWithout(const char* name) {
    if (gMissingName && std::strcmp(name, gMissingName) == 0) {
        return nullptr;
    }
    return SDL_GL_GetProcAddress(name);
}

GLenum fakeUnknownError() { return 0x0506; }

TEST_F(GLTest, StartsOnACoreContextOfVersionThreeOrLater) {
    GLint major = 0;
    gGL.glGetIntegerv(GL_MAJOR_VERSION, &major);
    EXPECT_GE(major, 3);
    EXPECT_EQ(render.glMajorVersion, major) << "the version obtained is kept for the GUI";
    EXPECT_EQ(startErrors, "") << "every program built and the atlas baked without a warning";
    EXPECT_EQ(errorsOf([] { EXPECT_FALSE(checkGLVersion(2, 1)); }),
              "OpenGL ES 3.0 or higher required, but found 2.1\n");
    EXPECT_TRUE(checkGLVersion(3, 3));
}

TEST_F(GLTest, OnlyAMissingCriticalEntryFailsTheLoad) {
    const struct {
        const char* missing;
        bool loads;
        const char* errors;
    } cases[] = {
        {"glCopyBufferSubData", false,
         "Failed to load critical OpenGL functions\n  glCopyBufferSubData failed to load\n"},
        {"glUniform3f", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.missing);
        gMissingName = c.missing;
        EXPECT_EQ(errorsOf([&] { EXPECT_EQ(loadGLFunctionsWith(lookupWithout), c.loads); }), c.errors);
        gMissingName = nullptr;
    }
    EXPECT_EQ(gGL.glUniform3f, nullptr);
}

TEST_F(GLTest, CheckGLErrorNamesOneErrorPerCall) {
    ASSERT_TRUE(checkGLError("clean"));
    const struct {
        std::function<void()> provoke;
        const char* name;
    } cases[] = {
        {[] { gGL.glEnable(0xDEAD); }, "GL_INVALID_ENUM"},
        {[] { gGL.glBindBuffer(GL_ARRAY_BUFFER, 0xFFFFFF); }, "GL_INVALID_OPERATION"}, // never generated
        {[] { gGL.glViewport(0, 0, -1, -1); }, "GL_INVALID_VALUE"},
    };
    for (const auto& c : cases) {
        c.provoke();
        EXPECT_EQ(errorsOf([] { EXPECT_FALSE(checkGLError("Frame rendering")); }),
                  std::string("OpenGL error in Frame rendering: ") + c.name + "\n");
        EXPECT_TRUE(checkGLError("after")) << c.name;
    }
    gGL.glViewport(0, 0, render.width, render.height);
    gGL.glGetError = fakeUnknownError;
    EXPECT_EQ(errorsOf([] { EXPECT_FALSE(checkGLError("Frame rendering")); }),
              "OpenGL error in Frame rendering: Unknown error 1286\n");
}

TEST_F(GLTest, ShaderSourceIsReadExactlyOrRefusedWithItsLine) {
    const std::string text = "\xEF\xBB\xBFvoid main() {}\n"; // a byte-order mark is passed on unchanged
    const std::string path = writeFile("bom.frag", text);
    std::string out;
    EXPECT_EQ(errorsOf([&] { EXPECT_EQ(loadShaderSource(path.c_str()), text); }, &out), "");
    EXPECT_EQ(out, "Loaded shader source using SDL_LoadFile: " + path + " (" + std::to_string(text.size()) +
                       " characters)\n");

    const std::string empty = writeFile("empty.frag", "");
    EXPECT_EQ(errorsOf([&] { EXPECT_EQ(loadShaderSource(empty.c_str()), ""); }),
              "Shader file is empty(or SDL_LoadFile reported 0 size)\n");

    const std::string missing =
        errorsOf([] { EXPECT_EQ(loadShaderSource("/nonexistent/missing.frag"), ""); });
    EXPECT_EQ(missing.rfind("Failed to load shader file with SDL_LoadFile, Error: ", 0), 0u);
    EXPECT_EQ(missing.substr(missing.size() - 2), ")\n");
}

TEST_F(GLTest, CompileAndLinkReportEachStepAndFailWithTheInfoLog) {
    std::uint32_t vs = 0, fs = 0, calling = 0;
    std::string out;
    errorsOf(
        [&] {
            vs = compileShader("#version 330 core\nvoid main() { gl_Position = vec4(0.0); }\n",
                               GL_VERTEX_SHADER);
            fs = compileShader("#version 330 core\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n",
                               GL_FRAGMENT_SHADER);
            gGL.glDeleteProgram(linkProgram(vs, fs));
        },
        &out);
    EXPECT_EQ(out, "Successfully compiled vertex shader\nSuccessfully compiled fragment shader\n"
                   "Successfully created shader program\n");
    const std::string log = errorsOf(
        [] { EXPECT_EQ(compileShader("void main() { this is not glsl }", GL_FRAGMENT_SHADER), 0u); });
    EXPECT_EQ(log.rfind("Shader compilation failed:\n", 0), 0u) << log;
    EXPECT_GT(log.size(), std::strlen("Shader compilation failed:\n") + 1) << "with the info log";

    // A function nobody defines: it compiles, linking fails, and the shaders stay with the caller.
    errorsOf([&] {
        calling =
            compileShader("#version 330 core\nvec4 shade();\nout vec4 c;\nvoid main() { c = shade(); }\n",
                          GL_FRAGMENT_SHADER);
    });
    const std::string linkLog = errorsOf([&] { EXPECT_EQ(linkProgram(vs, calling), 0u); });
    EXPECT_EQ(linkLog.rfind("Shader program linking failed:\n", 0), 0u) << linkLog;
    GLint deleteStatus = GL_TRUE;
    gGL.glGetShaderiv(vs, GL_DELETE_STATUS, &deleteStatus);
    EXPECT_EQ(deleteStatus, GL_FALSE);
    EXPECT_TRUE(checkGLError("after link failure")) << "the shaders are still valid names";
    for (std::uint32_t shader : {vs, fs, calling}) {
        gGL.glDeleteShader(shader);
    }
}

TEST_F(GLTest, ViewportFollowsTheDrawableSize) {
    ASSERT_TRUE(SDL_SetWindowSize(render.window, 800, 600));
    SDL_SyncWindow(render.window);
    beginFrame(render);
    int width = 0, height = 0;
    SDL_GetWindowSizeInPixels(render.window, &width, &height);
    GLint viewport[4] = {};
    gGL.glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(width, 800);
    EXPECT_EQ((std::vector<int>{render.width, render.height, viewport[2], viewport[3]}),
              (std::vector<int>{width, height, width, height}));
    swapBuffers(render);
}

TEST(RenderShutdown, IsSafeOnAZeroedRecord) {
    RenderState render;
    renderShutdown(render);
    EXPECT_EQ(render.window, nullptr);
}

} // namespace
