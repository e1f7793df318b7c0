#pragma once
// One real window and GL context (Xvfb + Mesa in CI) shared by every GL test of a suite. The window
// starts at 640 x 480 drawable pixels; tests place things relative to the render record's size.
#include "capture.hpp"
#include "render/gl_functions.hpp"
#include "render/render_system.hpp"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

class GLTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
        WindowOptions options;
        options.fullscreen = false;
        bool ok = false;
        startErrors = errorsOf([&] { ok = renderInit(render, "render test", 640, 480, options); });
        ASSERT_TRUE(ok) << startErrors;
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

    using Pixel = std::array<int, 3>;

    // Drawable pixels, origin bottom left, as GL reads them.
    static std::vector<unsigned char> readRegion(int x, int y, int width, int height) {
        std::vector<unsigned char> rgba(static_cast<size_t>(width) * height * 4);
        glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        return rgba;
    }
    static std::vector<unsigned char> readFrame() { return readRegion(0, 0, render.width, render.height); }
    static Pixel pixelAt(int x, int y) {
        const std::vector<unsigned char> rgba = readRegion(x, y, 1, 1);
        return {rgba[0], rgba[1], rgba[2]};
    }
    static bool near(const Pixel& a, const Pixel& b, int tolerance) {
        return std::abs(a[0] - b[0]) <= tolerance && std::abs(a[1] - b[1]) <= tolerance &&
               std::abs(a[2] - b[2]) <= tolerance;
    }

    inline static RenderState render;
    inline static std::string startErrors;
};
