// The GUI on a real window and GL context (Xvfb + Mesa in CI). Hot keys typed into a text field are
// checked in tests/app/input_test.cpp and, with real key events, in the end-to-end tests.
#include "ui/ui_system.hpp"

#include "render/gl_test_fixture.hpp"
#include "ui/neon_title.hpp"

#include <imgui.h>

namespace {

class GuiWindow : public GLTest {
protected:
    static void SetUpTestSuite() {
        GLTest::SetUpTestSuite();
        bool ok = false;
        uiErrors = errorsOf([&] { ok = uiInit(render); }, &uiLog);
        ASSERT_TRUE(ok) << uiErrors;
    }
    static void TearDownTestSuite() {
        uiShutdown();
        GLTest::TearDownTestSuite();
    }
    inline static std::string uiLog, uiErrors;

    // One GUI frame that draws only `title`; answers the vertices it put in the foreground list.
    static int titleFrame(const char* title) {
        uiBeginFrame();
        drawNeonTitle(title, 0.5f, 1.0f);
        const int vertices = ImGui::GetForegroundDrawList()->VtxBuffer.Size;
        uiRender();
        return vertices;
    }
    static std::uint32_t bakedGlow(const char* title) { return glowEntryFor(neonGlowCache(), title).texture; }
};

TEST_F(GuiWindow, StartsWithItsFontsAndButtonImages) {
    EXPECT_EQ(startErrors + uiErrors, "");
    EXPECT_NE(uiLog.find("Successfully submitted font 'fonts/Roboto-Medium.ttf' to ImGui."),
              std::string::npos);
    const ButtonTextures& t = gUI.textures;
    for (std::uint32_t name :
         {t.normalInactive, t.startInactive, t.exitInactive, t.normalActive, t.startActive, t.exitActive}) {
        EXPECT_NE(name, 0u);
    }
    EXPECT_GT(t.width, 0);
    EXPECT_FLOAT_EQ(gUI.uiScale, 1.0f) << "a 640 x 480 window is too small for more";
}

TEST_F(GuiWindow, TheTitleGlowIsBakedOnceAndAgainOnlyWhenTheScaleChanges) {
    std::string errors;
    errors += errorsOf([] {
        const int copies = titleFrame("VIBRELLE");
        EXPECT_EQ(bakedGlow("VIBRELLE"), 0u) << "the first frame draws the glow copy by copy";
        const int baked = titleFrame("VIBRELLE");
        const std::uint32_t texture = bakedGlow("VIBRELLE");
        ASSERT_NE(texture, 0u);
        EXPECT_LT(baked * 10, copies) << "one quad in place of 64 copies";
        titleFrame("SETTINGS");
        titleFrame("SETTINGS");
        EXPECT_EQ(titleFrame("VIBRELLE"), baked) << "another title keeps its own texture";
        EXPECT_EQ(bakedGlow("VIBRELLE"), texture);

        gUI.uiScale = 1.5f; // the copies spread further
        EXPECT_EQ(titleFrame("VIBRELLE"), copies);
        titleFrame("VIBRELLE");
        EXPECT_NE(bakedGlow("VIBRELLE"), texture);
        titleFrame("VIBRELLE");
        EXPECT_FALSE(glIsTexture(texture)) << "the texture it replaced is deleted";
        gUI.uiScale = 1.0f;
    });
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(checkGLError("title frames"));
}

TEST_F(GuiWindow, TheMenusDimTheSceneToHalfWithoutTheGuisQuad) {
    gGL.glClearColor(0.8f, 0.4f, 0.2f, 1.0f);
    gGL.glClear(GL_COLOR_BUFFER_BIT);
    uiBeginFrame();
    dimScreenUnder(ImGui::GetBackgroundDrawList(), 128.0f / 255.0f);
    EXPECT_EQ(ImGui::GetBackgroundDrawList()->VtxBuffer.Size, 0) << "drawn by its own pass";
    uiRender();
    // As black at 128 of 255 over the scene: 204, 102, 51 keep 127 parts in 255.
    EXPECT_TRUE(near(pixelAt(render.width / 2, render.height / 2), Pixel{102, 51, 25}, 1));
    EXPECT_TRUE(near(pixelAt(0, 0), Pixel{102, 51, 25}, 1)) << "up to the corners";
    EXPECT_TRUE(checkGLError("dimming"));
}

} // namespace
