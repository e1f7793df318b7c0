// The GUI on a real window and GL context (Xvfb + Mesa in CI). Hot keys typed into a text field are
// checked in tests/app/input_test.cpp and, with real key events, in the end-to-end tests.
#include "ui/ui_system.hpp"

#include "render/gl_test_fixture.hpp"

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
    EXPECT_FLOAT_EQ(gUI.uiScale, kMinUiScale) << "a 640 x 480 window: the smallest text, the screens scroll";
}

} // namespace
