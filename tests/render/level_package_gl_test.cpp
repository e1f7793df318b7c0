// Level packages with their own background shaders, on a real GL context.
#include "audio/audio_system.hpp"
#include "level/level_package.hpp"
#include "render/background.hpp"
#include "render/shader_uniforms.hpp"

#include "gl_test_fixture.hpp"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* kMagenta = "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(1.0, 0.0, 1.0, 1.0); }\n";

class PackageGL : public GLTest {
protected:
    void SetUp() override {
        errorsOf([&] { ASSERT_TRUE(audioInit(audio, AudioBackend::NullDriver)); });
    }
    void TearDown() override {
        restoreBuiltinBackground(render);
        errorsOf([&] { audioShutdown(audio); });
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
    // Applies the package in `dir`, which must load; answers what went to standard error.
    std::string apply(const std::string& dir) {
        LevelPackage package;
        return errorsOf([&] {
            prepareLevelPackage(dir, package);
            EXPECT_TRUE(applyLevelPackage(package, audio, render)) << dir;
        });
    }
    AudioSystem audio;
    // One folder per test process: CTest runs these tests side by side.
    std::filesystem::path root =
        std::filesystem::path(::testing::TempDir()) / ("gl_packages_" + std::to_string(::getpid()));
};

// A shader that does not compile, or compiles but does not link (a function nobody defines).
TEST_F(PackageGL, ABrokenShaderOrNoneKeepsTheBackgroundInUseAndTheLevelStillLoads) {
    const std::uint32_t builtin = render.backgroundProgram;
    const struct {
        const char *name, *source, *reason;
    } broken[] = {
        {"uncompiled", "#version 330 core\nvoid main( {\n", "Failed to compile custom fragment shader\n"},
        {"unlinked", "#version 330 core\nvec4 shade();\nout vec4 c;\nvoid main() { c = shade(); }\n",
         "Failed to create custom shader program\n"}};
    for (const auto& [name, source, reason] : broken) {
        const std::string err = apply(makePackage(name, source));
        EXPECT_NE(err.find(reason + std::string("Failed to load custom shader, keeping current shader\n")),
                  std::string::npos)
            << err;
        EXPECT_EQ(render.backgroundProgram, builtin);
        EXPECT_EQ(audio.stems.size(), 1u);
    }
    apply(makePackage("first", kMagenta));
    const std::uint32_t custom = render.backgroundProgram;
    EXPECT_TRUE(usingCustomBackground(render));
    apply(makePackage("second", nullptr));
    EXPECT_EQ(render.backgroundProgram, custom);
    fillShaderUniforms(render);
    beginFrame(render);
    EXPECT_EQ(pixelAt(5, 5)[0], 255) << "the first package's background is on screen";
}

// A background that takes far too long per frame: the watch gives the built-in one back. The
// limits are lowered so that a couple of slow frames are enough here.
TEST_F(PackageGL, ATooSlowShaderGivesWayToTheBuiltInBackground) {
    fillShaderUniforms(render);
    beginFrame(render);
    glFinish();
    const Pixel builtin = pixelAt(20, 20);

    const char* slow = "#version 330 core\nout vec4 c;\n"
                       "void main() { float x = gl_FragCoord.x * 0.001;\n"
                       "  for (int i = 0; i < 5000; ++i) { x = fract(x * 1.37 + 0.11); }\n"
                       "  c = vec4(x, 0.0, 0.0, 1.0); }\n";
    apply(makePackage("slow_level", slow));
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
        err += errorsOf([&] { restored = watchBackgroundFrame(render, ms, false); });
    }
    ASSERT_TRUE(restored) << "each frame of the slow shader should take well over 100 ms on software GL";
    EXPECT_NE(err.find(" ms per frame), restoring the built-in background: slow_level\n"), std::string::npos)
        << err;
    EXPECT_EQ(err.rfind("Custom shader too slow (", 0), 0u) << err;
    EXPECT_FALSE(usingCustomBackground(render));
    beginFrame(render);
    const Pixel after = pixelAt(20, 20);
    // The level's stem colours differ from before by a shade; the slow shader's would have no blue.
    EXPECT_TRUE(near(after, builtin, 4)) << "the built-in background draws as before, its block bound";
    EXPECT_GT(after[2], 0);
}

} // namespace
