#include "render/shader_utils.hpp"

#include "gl_test_fixture.hpp"

#include <cstdio>
#include <cstring>
#include <string>

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

const char* gMissingName = nullptr;
SDL_FunctionPointer lookupWithout(const char* name) {
    if (gMissingName && std::strcmp(name, gMissingName) == 0) {
        return nullptr;
    }
    return SDL_GL_GetProcAddress(name);
}

GLenum fakeUnknownError() { return 0x0506; }

const char* kVertex = "#version 330 core\nout vec3 vColor;\nvoid main() { vColor = vec3(1.0); "
                      "gl_Position = vec4(0.0, 0.0, 0.0, 1.0); }\n";
const char* kFragment = "#version 330 core\nin vec3 vColor;\nout vec4 fragColor;\n"
                        "void main() { fragColor = vec4(vColor, 1.0); }\n";

TEST_F(GLTest, StartsOnACoreContextOfVersionThreeOrLater) {
    GLint major = 0;
    gGL.glGetIntegerv(GL_MAJOR_VERSION, &major);
    EXPECT_GE(major, 3);
    EXPECT_NE(startLog.find("OpenGL functions loaded successfully!\n"), std::string::npos);
    EXPECT_NE(startLog.find("OpenGL render system initialized successfully!\n"), std::string::npos);
    EXPECT_NE(startLog.find("GLSL Version: "), std::string::npos);
    EXPECT_NE(render.uniformBuffer, 0u);
    EXPECT_NE(render.backgroundVertexArray, 0u);
    EXPECT_EQ(render.glMajorVersion, major) << "the version obtained is kept for the GUI";
    // Every program built, its block bound, the atlas baked: no warning on the way.
    for (const char* line : {"Uniform buffer block bound successfully\nSuccessfully created OpenGL shaders\n",
                             "Circle shader uniform buffer block bound successfully\n",
                             "Circle SDF rendering system initialized successfully!\n",
                             "Text rendering system initialized successfully!\n",
                             "Font atlas loaded successfully: 512x512, 95 characters\n"}) {
        EXPECT_NE(startLog.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(startErrors, "");
    EXPECT_NE(render.backgroundProgram, 0u);
    EXPECT_NE(render.circleProgram, 0u);
    EXPECT_NE(render.textProgram, 0u);
    EXPECT_EQ(render.glyphs.size(), 95u);
}

TEST_F(GLTest, MissingCriticalEntryFailsWithItsName) {
    gMissingName = "glCopyBufferSubData";
    CaptureStdout();
    CaptureStderr();
    EXPECT_FALSE(loadGLFunctionsWith(lookupWithout));
    GetCapturedStdout();
    EXPECT_EQ(GetCapturedStderr(),
              "Failed to load critical OpenGL functions\n  glCopyBufferSubData failed to load\n");
    gMissingName = nullptr;
}

TEST_F(GLTest, MissingNonCriticalEntryIsNotReported) {
    gMissingName = "glUniform3f";
    CaptureStdout();
    CaptureStderr();
    EXPECT_TRUE(loadGLFunctionsWith(lookupWithout));
    EXPECT_EQ(GetCapturedStdout(), "Loading OpenGL functions...\nOpenGL functions loaded successfully!\n");
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(gGL.glUniform3f, nullptr);
    gMissingName = nullptr;
}

TEST_F(GLTest, CheckGLErrorTakesOneErrorPerCall) {
    ASSERT_TRUE(checkGLError("clean"));
    gGL.glEnable(0xDEAD);
    gGL.glBindBuffer(0xBEEF, 0);
    CaptureStderr();
    EXPECT_FALSE(checkGLError("first"));
    EXPECT_EQ(GetCapturedStderr(), "OpenGL error in first: GL_INVALID_ENUM\n");
    // Mesa records only the first error until it is read; whatever is left is the next call's.
    CaptureStderr();
    while (!checkGLError("rest")) {
    }
    const std::string rest = GetCapturedStderr();
    EXPECT_EQ(rest.find("first"), std::string::npos);
    EXPECT_TRUE(checkGLError("after"));

    gGL.glGetError = fakeUnknownError;
    CaptureStderr();
    EXPECT_FALSE(checkGLError("Frame rendering"));
    EXPECT_EQ(GetCapturedStderr(), "OpenGL error in Frame rendering: Unknown error 1286\n");
}

TEST_F(GLTest, CheckGLErrorNamesTheStandardErrors) {
    gGL.glBindBuffer(GL_ARRAY_BUFFER, 0xFFFFFF); // a name never generated
    CaptureStderr();
    EXPECT_FALSE(checkGLError("Uniform buffer creation"));
    EXPECT_EQ(GetCapturedStderr(), "OpenGL error in Uniform buffer creation: GL_INVALID_OPERATION\n");
    gGL.glViewport(0, 0, -1, -1);
    CaptureStderr();
    EXPECT_FALSE(checkGLError("OpenGL initialization"));
    EXPECT_EQ(GetCapturedStderr(), "OpenGL error in OpenGL initialization: GL_INVALID_VALUE\n");
    gGL.glViewport(0, 0, render.width, render.height);
}

TEST_F(GLTest, VersionBelowThreeIsRefused) {
    CaptureStderr();
    EXPECT_FALSE(checkGLVersion(2, 1));
    EXPECT_EQ(GetCapturedStderr(), "OpenGL ES 3.0 or higher required, but found 2.1\n");
    EXPECT_TRUE(checkGLVersion(3, 3));
}

TEST_F(GLTest, ShaderSourceIsReadExactlyOrRefusedWithItsLine) {
    const std::string text = "\xEF\xBB\xBFvoid main() {}\n"; // a byte-order mark is passed on unchanged
    const std::string path = writeFile("bom.frag", text);
    CaptureStdout();
    EXPECT_EQ(loadShaderSource(path.c_str()), text);
    EXPECT_EQ(GetCapturedStdout(), "Loaded shader source using SDL_LoadFile: " + path + " (" +
                                       std::to_string(text.size()) + " characters)\n");

    const std::string empty = writeFile("empty.frag", "");
    CaptureStderr();
    EXPECT_EQ(loadShaderSource(empty.c_str()), "");
    EXPECT_EQ(GetCapturedStderr(), "Shader file is empty(or SDL_LoadFile reported 0 size)\n");

    CaptureStderr();
    EXPECT_EQ(loadShaderSource("/nonexistent/missing.frag"), "");
    const std::string missing = GetCapturedStderr();
    EXPECT_EQ(missing.rfind("Failed to load shader file with SDL_LoadFile, Error: ", 0), 0u);
    EXPECT_EQ(missing.substr(missing.size() - 2), ")\n");
}

TEST_F(GLTest, CompilesAndLinksWithTheirLines) {
    CaptureStdout();
    const std::uint32_t vertex = compileShader(kVertex, GL_VERTEX_SHADER);
    const std::uint32_t fragment = compileShader(kFragment, GL_FRAGMENT_SHADER);
    const std::uint32_t program = linkProgram(vertex, fragment);
    EXPECT_EQ(GetCapturedStdout(),
              "Successfully compiled vertex shader\nSuccessfully compiled fragment shader\n"
              "Successfully created shader program\n");
    EXPECT_NE(vertex, 0u);
    EXPECT_NE(fragment, 0u);
    EXPECT_NE(program, 0u);
    gGL.glDeleteProgram(program);
    gGL.glDeleteShader(vertex);
    gGL.glDeleteShader(fragment);
}

TEST_F(GLTest, CompileFailureLogsTheInfoLogAndReturnsZero) {
    CaptureStderr();
    EXPECT_EQ(compileShader("void main() { this is not glsl }", GL_FRAGMENT_SHADER), 0u);
    const std::string log = GetCapturedStderr();
    EXPECT_EQ(log.rfind("Shader compilation failed:\n", 0), 0u) << log;
    EXPECT_GT(log.size(), std::strlen("Shader compilation failed:\n") + 1);
}

TEST_F(GLTest, LinkFailureKeepsTheShadersWithTheCaller) {
    // The fragment stage calls a function that no stage defines: it compiles, linking fails.
    const char* vertex = "#version 330 core\nvoid main() { gl_Position = vec4(0.0); }\n";
    const char* fragment = "#version 330 core\nvec4 shade();\nout vec4 c;\nvoid main() { c = shade(); }\n";
    CaptureStdout();
    const std::uint32_t vs = compileShader(vertex, GL_VERTEX_SHADER);
    const std::uint32_t fs = compileShader(fragment, GL_FRAGMENT_SHADER);
    GetCapturedStdout();
    CaptureStderr();
    EXPECT_EQ(linkProgram(vs, fs), 0u);
    EXPECT_EQ(GetCapturedStderr().rfind("Shader program linking failed:\n", 0), 0u);
    GLint deleteStatus = GL_TRUE;
    gGL.glGetShaderiv(vs, GL_DELETE_STATUS, &deleteStatus);
    EXPECT_EQ(deleteStatus, GL_FALSE);
    EXPECT_TRUE(checkGLError("after link failure")) << "the shaders are still valid names";
    gGL.glDeleteShader(vs);
    gGL.glDeleteShader(fs);
}

TEST_F(GLTest, ViewportFollowsTheDrawableSize) {
    ASSERT_TRUE(SDL_SetWindowSize(render.window, 800, 600));
    SDL_SyncWindow(render.window);
    beginFrame(render);
    int width = 0, height = 0;
    SDL_GetWindowSizeInPixels(render.window, &width, &height);
    GLint viewport[4] = {};
    gGL.glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(render.width, width);
    EXPECT_EQ(render.height, height);
    EXPECT_EQ(viewport[2], width);
    EXPECT_EQ(viewport[3], height);
    EXPECT_EQ(width, 800);
    swapBuffers(render);
}

TEST(RenderShutdown, IsSafeOnAZeroedRecord) {
    RenderState render;
    renderShutdown(render);
    EXPECT_EQ(render.window, nullptr);
    EXPECT_EQ(render.uniformBuffer, 0u);
}

} // namespace
