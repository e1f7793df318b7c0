#pragma once
// One real window and GL context (Xvfb + Mesa in CI) shared by every GL test of the render suite.
// The window starts at 640 x 480 drawable pixels; tests that draw place things relative to the
// render record's size, which a test may change.
#include "render/gl_functions.hpp"
#include "render/render_system.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

class GLTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
        WindowOptions options;
        options.fullscreen = false;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        initialised = renderInit(render, "render test", 640, 480, options);
        startLog = ::testing::internal::GetCapturedStdout();
        startErrors = ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(initialised) << startErrors;
    }
    static void TearDownTestSuite() {
        renderShutdown(render);
        SDL_Quit();
    }
    void TearDown() override {
        // Leave neither a pending GL error nor a doctored table to the next test.
        ASSERT_TRUE(loadGLFunctions());
        while (gGL.glGetError() != GL_NO_ERROR) {
        }
    }

    static std::string writeFile(const char* name, const std::string& text) {
        std::string path = ::testing::TempDir() + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    inline static RenderState render;
    inline static bool initialised = false;
    inline static std::string startLog;
    inline static std::string startErrors;
};
