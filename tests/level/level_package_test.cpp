#include "audio/audio_system.hpp"
#include "level/level_package.hpp"
#include "render/render_system.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

TEST(LevelPackage, NameAndManifestComeFromTheFolderPath) {
    const struct {
        const char* directory;
        const char* name;
        const char* manifest;
    } cases[] = {{"levels/neon_drive", "neon_drive", "levels/neon_drive/level.json"},
                 {"levels/sample_a.zip", "sample_a", "levels/sample_a.zip/level.json"},
                 {"levels/trailing/", "", "levels/trailing//level.json"},
                 {"C:\\games\\my.level", "my", "C:\\games\\my.level/level.json"},
                 {"plain", "plain", "plain/level.json"}};
    for (const auto& c : cases) {
        LevelPackage package;
        package.hasShader = true; // preparing starts afresh
        CaptureStdout();
        EXPECT_TRUE(prepareLevelPackage(c.directory, package));
        const std::string log = GetCapturedStdout();
        EXPECT_EQ(package.name, c.name) << c.directory;
        EXPECT_EQ(package.manifestPath, c.manifest);
        EXPECT_TRUE(package.hasManifest);
        EXPECT_FALSE(package.hasShader);
        EXPECT_NE(log.find(std::string("Loading level package from conventional paths in: ") + c.directory +
                           "\n" + "No shader found at " + c.directory +
                           "/background.frag. The current shader will be used.\n" +
                           "Package prepared. Manifest: '" + c.manifest + "', Has Shader: No\n"),
                  std::string::npos)
            << log;
    }
}

TEST(LevelPackage, AShaderIsReadByteForByte) {
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "package_with_shader";
    std::filesystem::create_directories(dir);
    const std::string source("#version 330 core\n// \0 and all\n", 31);
    std::ofstream(dir / "background.frag", std::ios::binary) << source;
    LevelPackage package;
    CaptureStdout();
    prepareLevelPackage(dir.string(), package);
    const std::string log = GetCapturedStdout();
    EXPECT_TRUE(package.hasShader);
    EXPECT_EQ(package.shaderSource, source);
    EXPECT_NE(log.find("Found and loaded conventional shader: " + (dir / "background.frag").string()),
              std::string::npos);
    EXPECT_NE(log.find("Has Shader: Yes"), std::string::npos);
    std::filesystem::remove_all(dir);
}

TEST(LevelPackage, AMissingManifestLeavesNoLevelPlaying) {
    AudioSystem audio;
    RenderState render;
    CaptureStdout();
    CaptureStderr();
    ASSERT_TRUE(audioInit(audio, AudioBackend::NullDriver));
    ASSERT_TRUE(loadLevelFromManifest(VIBRELLE_TEST_DATA "/level/sub/level.json", audio, render));
    playAllStems(audio);
    LevelPackage package;
    prepareLevelPackage(::testing::TempDir() + "no_level_here", package);
    const bool applied = applyLevelPackage(package, audio, render);
    GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    EXPECT_FALSE(applied);
    EXPECT_TRUE(audio.stems.empty()) << "the previous level is gone";
    EXPECT_FALSE(audio.playing);
    EXPECT_NE(err.find("Failed to read level JSON: "), std::string::npos);
    EXPECT_NE(err.find("CRITICAL: Failed to load level from manifest: " + package.manifestPath),
              std::string::npos);
    CaptureStdout();
    audioShutdown(audio);
    GetCapturedStdout();
}

} // namespace
