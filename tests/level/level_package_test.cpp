#include "level/level_package.hpp"

#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

TEST(LevelPackage, NameAndManifestComeFromTheFolderPath) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"levels/neon_drive", "neon_drive", "levels/neon_drive/level.json"},
        {"levels/sample_a.zip", "sample_a", "levels/sample_a.zip/level.json"},
        {"levels/trailing/", "", "levels/trailing//level.json"},
        {"C:\\games\\my.v2.level", "my.v2", "C:\\games\\my.v2.level/level.json"},
        {"plain", "plain", "plain/level.json"}};
    for (const auto& [directory, name, manifest] : cases) {
        LevelPackage package;
        package.hasShader = true; // preparing starts afresh
        CaptureStdout();
        EXPECT_TRUE(prepareLevelPackage(directory, package));
        const std::string log = GetCapturedStdout();
        EXPECT_EQ(package.name, name) << directory;
        EXPECT_EQ(package.manifestPath, manifest);
        EXPECT_TRUE(package.hasManifest);
        EXPECT_FALSE(package.hasShader);
        EXPECT_NE(log.find(std::string("No shader found at ") + directory + "/background.frag."),
                  std::string::npos)
            << log;
    }
}

TEST(LevelPackage, AShaderIsReadByteForByte) {
    TempDir dir;
    const std::string source("#version 330 core\n// \0 and all\n", 31);
    std::ofstream(dir.file("background.frag"), std::ios::binary) << source;
    LevelPackage package;
    CaptureStdout();
    prepareLevelPackage(dir.path().string(), package);
    const std::string log = GetCapturedStdout();
    EXPECT_TRUE(package.hasShader);
    EXPECT_EQ(package.shaderSource, source);
    EXPECT_NE(log.find("Found and loaded conventional shader: " + dir.file("background.frag")),
              std::string::npos);
    EXPECT_NE(log.find("Has Shader: Yes"), std::string::npos);
}

} // namespace
