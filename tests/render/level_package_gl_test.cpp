// Level packages with their own background shaders, on a real GL context.
#include "audio/audio_system.hpp"
#include "level/level_package.hpp"
#include "render/background.hpp"
#include "render/shader_uniforms.hpp"

#include "gl_test_fixture.hpp"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

const char* kMagenta = "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(1.0, 0.0, 1.0, 1.0); }\n";

class PackageGL : public GLTest {
protected:
    void SetUp() override {
        CaptureStdout();
        ASSERT_TRUE(audioInit(audio, AudioBackend::NullDriver));
        GetCapturedStdout();
    }
    void TearDown() override {
        restoreBuiltinBackground(render);
        CaptureStdout();
        audioShutdown(audio);
        GetCapturedStdout();
        std::filesystem::remove_all(root);
        GLTest::TearDown();
    }
    // A package folder with one stem and, when given, a background shader.
    std::string makePackage(const std::string& name, const char* shader) {
        const std::filesystem::path dir = root / name;
        std::filesystem::create_directories(dir);
        std::filesystem::copy_file(VIBRELLE_TEST_DATA "/audio/stem.wav", dir / "stem.wav");
        std::ofstream(dir / "level.json") << R"({"bpm": 100, "stems": [{"file": "stem.wav"}]})";
        if (shader != nullptr) {
            std::ofstream(dir / "background.frag") << shader;
        }
        return dir.string();
    }
    bool apply(const std::string& dir, std::string* err = nullptr) {
        LevelPackage package;
        CaptureStdout();
        CaptureStderr();
        prepareLevelPackage(dir, package);
        const bool ok = applyLevelPackage(package, audio, render);
        GetCapturedStdout();
        const std::string errors = GetCapturedStderr();
        if (err != nullptr) {
            *err = errors;
        }
        return ok;
    }
    static unsigned pixelRed(int x, int y) {
        unsigned char rgba[4] = {};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        return rgba[0];
    }

    AudioSystem audio;
    std::filesystem::path root = std::filesystem::path(::testing::TempDir()) / "gl_packages";
};

TEST_F(PackageGL, ABrokenShaderKeepsTheBackgroundAndTheLevelStillLoads) {
    const std::uint32_t before = render.backgroundProgram;
    std::string err;
    EXPECT_TRUE(apply(makePackage("broken", "#version 330 core\nvoid main( {\n"), &err));
    EXPECT_NE(err.find("Failed to load custom shader, keeping current shader"), std::string::npos) << err;
    EXPECT_EQ(render.backgroundProgram, before);
    EXPECT_EQ(audio.stems.size(), 1u);
}

TEST_F(PackageGL, APackageWithoutAShaderKeepsThePreviousPackagesOne) {
    ASSERT_TRUE(apply(makePackage("first", kMagenta)));
    const std::uint32_t custom = render.backgroundProgram;
    EXPECT_TRUE(usingCustomBackground(render));
    ASSERT_TRUE(apply(makePackage("second", nullptr)));
    EXPECT_EQ(render.backgroundProgram, custom);
    fillShaderUniforms(render);
    beginFrame(render);
    EXPECT_EQ(pixelRed(5, 5), 255u) << "the first package's background is on screen";
}

// A background that takes far too long per frame: the watch gives the built-in one back. The
// limits are lowered so that a couple of slow frames are enough here.
TEST_F(PackageGL, ATooSlowShaderGivesWayToTheBuiltInBackground) {
    fillShaderUniforms(render);
    beginFrame(render);
    glFinish();
    std::vector<unsigned char> builtin(4);
    glReadPixels(20, 20, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, builtin.data());

    const char* slow = "#version 330 core\nout vec4 c;\n"
                       "void main() { float x = gl_FragCoord.x * 0.001;\n"
                       "  for (int i = 0; i < 5000; ++i) { x = fract(x * 1.37 + 0.11); }\n"
                       "  c = vec4(x, 0.0, 0.0, 1.0); }\n";
    ASSERT_TRUE(apply(makePackage("slow_level", slow)));
    render.backgroundWatch.warmupFrames = 1;
    render.backgroundWatch.slowFrames = 2;
    render.backgroundWatch.slowMs = 100.0;
    std::string err;
    bool restored = false;
    for (int frame = 0; frame < 6 && !restored; ++frame) {
        const auto start = std::chrono::steady_clock::now();
        beginFrame(render);
        glFinish();
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        CaptureStderr();
        restored = watchBackgroundFrame(render, ms, false);
        err += GetCapturedStderr();
    }
    ASSERT_TRUE(restored) << "each frame of the slow shader should take well over 100 ms on software GL";
    EXPECT_NE(err.find(" ms per frame), restoring the built-in background: slow_level\n"), std::string::npos)
        << err;
    EXPECT_EQ(err.rfind("Custom shader too slow (", 0), 0u) << err;
    EXPECT_FALSE(usingCustomBackground(render));
    beginFrame(render);
    std::vector<unsigned char> after(4);
    glReadPixels(20, 20, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, after.data());
    // The level's stem colours differ from before by a shade; the slow shader's would have no blue.
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(after[c], builtin[c], 4) << "the built-in background draws as before, its block bound";
    }
    EXPECT_GT(after[2], 0);
}

} // namespace
