#include "ui/ui_system.hpp"

#include "base/log.hpp"
#include "render/font_file.hpp"
#include "render/gl_functions.hpp"
#include "render/render_system.hpp"
#include "ui/neon_title.hpp"
#include "ui/screen_context.hpp"

#include <SDL3/SDL.h>
#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_sdl3.h>
#include <imgui_internal.h>
#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

UIState gUI;

// ---- Plain rules ----

float computeUiScale(float contentScale, int pixelWidth, int pixelHeight, float userScale) {
    const float longSide = static_cast<float>(std::max(pixelWidth, pixelHeight));
    const float shortSide = static_cast<float>(std::min(pixelWidth, pixelHeight));
    const float fit = std::min(longSide / kDesignLongSide, shortSide / kDesignShortSide);
    const float display = std::max(contentScale, 1.0f);
    // A setting from a hand-edited file, or none at all, never makes the GUI vanish or explode.
    const float user =
        std::isfinite(userScale) ? std::clamp(userScale, kMinUserUiScale, kMaxUserUiScale) : 1.0f;
    const float base = std::min(display, fit);
    return std::max(kMinUiScale, std::min(base * user, fit));
}

const char* guiShaderVersion(int major, int minor, bool es3Compatible) {
    if (major > 4 || (major == 4 && minor >= 3) || es3Compatible) {
        return "#version 300 es";
    }
    if (major == 4 || (major == 3 && minor >= 3)) {
        return "#version 330 core";
    }
    if (major == 3 && minor == 2) {
        return "#version 150";
    }
    return "#version 130";
}

// ---- Start-up ----

static bool hasExtension(const char* name) {
    GLint count = 0;
    gGL.glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    using GetStringi = const GLubyte*(APIENTRY*)(GLenum, GLuint);
    const auto getStringi = reinterpret_cast<GetStringi>(SDL_GL_GetProcAddress("glGetStringi"));
    for (GLint i = 0; getStringi && i < count; ++i) {
        const char* extension =
            reinterpret_cast<const char*>(getStringi(GL_EXTENSIONS, static_cast<GLuint>(i)));
        if (extension && std::strcmp(extension, name) == 0) {
            return true;
        }
    }
    return false;
}

ImFont* loadUIFont(const char* path, float sizePixels) {
    size_t size = 0;
    void* data = SDL_LoadFile(path, &size);
    if (data == nullptr || size == 0) {
        logError(stderr, "CRITICAL: SDL_LoadFile failed for font: '%s'. SDL_Error: %s", path, SDL_GetError());
        SDL_free(data);
        return nullptr;
    }
    // The font loader trusts the file's tables; a file that is not a font is refused first.
    if (!fontDirectoryFits(static_cast<const unsigned char*>(data), size)) {
        logError(stderr, "ImGui::AddFontFromMemoryTTF failed for '%s'. The font file may be corrupt.", path);
        SDL_free(data);
        return nullptr;
    }
    void* buffer = IM_ALLOC(size);
    if (buffer == nullptr) {
        logError(stderr, "CRITICAL: malloc failed for font buffer of size %zu", size);
        SDL_free(data);
        return nullptr;
    }
    std::memcpy(buffer, data, size);
    SDL_free(data);
    ImFont* font = ImGui::GetIO().Fonts->AddFontFromMemoryTTF(buffer, static_cast<int>(size), sizePixels);
    if (font == nullptr) {
        // The atlas owns the buffer from the call on, and frees it itself when it rejects the font:
        // freeing it here too would free it twice.
        logError(stderr, "ImGui::AddFontFromMemoryTTF failed for '%s'. The font file may be corrupt.", path);
        return nullptr;
    }
    logMessage("Successfully submitted font '%s' to ImGui.", path);
    return font;
}

bool loadTextureFromFile(const char* path, std::uint32_t& texture, int& width, int& height) {
    size_t size = 0;
    void* data = SDL_LoadFile(path, &size);
    if (data == nullptr || size == 0) {
        SDL_free(data);
        return false;
    }
    int w = 0, h = 0, channels = 0;
    unsigned char* pixels = stbi_load_from_memory(static_cast<const stbi_uc*>(data), static_cast<int>(size),
                                                  &w, &h, &channels, 4);
    SDL_free(data);
    if (pixels == nullptr) {
        return false;
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    gGL.glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    gGL.glBindTexture(GL_TEXTURE_2D, 0);
    stbi_image_free(pixels);
    texture = name;
    width = w;
    height = h;
    return true;
}

static ImFont* loadFontOr(const char* path, float size, const char* failure, ImFont* fallback) {
    ImFont* font = loadUIFont(path, size);
    if (font == nullptr) {
        logError(stderr, failure, path);
        return fallback;
    }
    return font;
}

// Each font is loaded once, at its size for scale 1; the GUI draws it at any size (the scale goes
// through style.FontScaleMain), so a new scale rebuilds nothing.
static void loadFonts() {
    ImFontAtlas& atlas = *ImGui::GetIO().Fonts;
    atlas.Clear();
    UIFonts& fonts = gUI.fonts;
    fonts.defaultFont = loadUIFont("fonts/Roboto-Regular.ttf", 36.0f);
    if (fonts.defaultFont == nullptr) {
        logError(stderr, "Failed to load default font: %s. Using fallback.", "fonts/Roboto-Regular.ttf");
        ImFontConfig config;
        config.SizePixels = 36.0f;
        fonts.defaultFont = atlas.AddFontDefault(&config);
    }
    fonts.boldFont = loadFontOr("fonts/Roboto-Bold.ttf", 36.0f,
                                "Failed to load bold font: %s. Using fallback.", fonts.defaultFont);
    fonts.titleFont = loadFontOr("fonts/Orbitron-Regular.ttf", 96.0f,
                                 "Failed to load title font: %s. Using default.", fonts.defaultFont);
    fonts.scoreFont = fonts.defaultFont; // the same face, drawn at kScoreFontPixels
    fonts.buttonFont = loadFontOr("fonts/Roboto-Medium.ttf", 42.0f,
                                  "Failed to load button font: %s. Using default.", fonts.defaultFont);
    ImGui::GetIO().FontDefault = fonts.defaultFont;
}

// From the library's defaults each time, so that a new scale does not compound the previous one.
static void applyStyle() {
    ImGuiStyle& style = ImGui::GetStyle();
    style = ImGuiStyle();
    ImGui::StyleColorsDark(&style);
    const float s = gUI.uiScale;
    style.ScaleAllSizes(s);
    style.FontSizeBase = 36.0f;
    style.FontScaleMain = s;
    style.Alpha = 0.85f;
    style.WindowPadding = ImVec2(8.0f * s, 8.0f * s);
    style.WindowRounding = 8.0f;
    style.WindowBorderSize = 1.0f;
    style.FrameRounding = 4.0f;
    style.GrabRounding = 4.0f;
    style.Colors[ImGuiCol_WindowBg] = ImVec4(0.02f, 0.02f, 0.02f, 0.75f);
    style.Colors[ImGuiCol_ChildBg] = ImVec4(0.0f, 0.0f, 0.0f, 0.5f);
    style.Colors[ImGuiCol_FrameBg] = ImVec4(0.1f, 0.1f, 0.1f, 0.7f);
    style.Colors[ImGuiCol_Button] = ImVec4(0.2f, 0.2f, 0.2f, 0.8f);
    style.Colors[ImGuiCol_ButtonHovered] = ImVec4(0.3f, 0.3f, 0.3f, 0.9f);
    // The keyboard and gamepad focus: a bright cyan that stands out from the dark panels and the
    // neon buttons alike (the library's blue sinks into both).
    style.Colors[ImGuiCol_NavCursor] =
        ImVec4(kFocusColour[0], kFocusColour[1], kFocusColour[2], kFocusColour[3]);
}

static void loadButtonTextures() {
    ButtonTextures& t = gUI.textures;
    const struct {
        const char* path;
        std::uint32_t* name;
        const char* failure;
    } files[] = {
        {"textures/button_normal_inactive.png", &t.normalInactive,
         "Failed to load button.png for main menu ImageButtons"},
        {"textures/button_start_inactive.png", &t.startInactive,
         "Failed to load button_start.png for start button"},
        {"textures/button_exit_inactive.png", &t.exitInactive,
         "Failed to load button_exit.png for exit button"},
        {"textures/button_normal_active.png", &t.normalActive,
         "Failed to load button.png for main menu ImageButtons"},
        {"textures/button_start_active.png", &t.startActive,
         "Failed to load button_start.png for start button"},
        {"textures/button_exit_active.png", &t.exitActive, "Failed to load button_exit.png for exit button"},
    };
    for (const auto& file : files) {
        if (*file.name != 0) {
            continue;
        }
        if (!loadTextureFromFile(file.path, *file.name, t.width, t.height)) {
            logError(stderr, "%s", file.failure);
            *file.name = 0;
        }
    }
}

// What the GUI needs apart from the window and GL: fonts, style, the level list, tracing.
static void setUpGui() {
    loadFonts();
    applyStyle();
    uiSetNavigation(true);
    gUI.portrait = false;
    const char* trace = std::getenv("VIBRELLE_UI_TRACE");
    gUI.trace = trace != nullptr && std::strcmp(trace, "1") == 0;
}

bool uiInit(RenderState& render) {
    IMGUI_CHECKVERSION();
    ImGui::CreateContext(nullptr);
    ImGui::GetIO().IniFilename = nullptr; // no layout file in the working directory
    ImGui_ImplSDL3_InitForOpenGL(render.window, render.glContext);
    ImGui_ImplOpenGL3_Init(guiShaderVersion(render.glMajorVersion, render.glMinorVersion,
                                            hasExtension("GL_ARB_ES3_compatibility")));

    setUpGui();
    gUI.pixelWidth = gUI.pixelHeight = 0; // chosen afresh for this window
    uiFollowWindow(render.window);
    loadButtonTextures();
    return true;
}

void uiApplyScale(float uiScale) {
    gUI.uiScale = uiScale;
    applyStyle();
}

void uiFollowWindow(SDL_Window* window) {
    const float userScale = gUI.userScale;
    int width = 0, height = 0, pointWidth = 0, pointHeight = 0;
    SDL_GetWindowSizeInPixels(window, &width, &height);
    SDL_GetWindowSize(window, &pointWidth, &pointHeight);
    const float content = SDL_GetDisplayContentScale(SDL_GetDisplayForWindow(window));
    if (width == gUI.pixelWidth && height == gUI.pixelHeight && content == gUI.contentScale &&
        userScale == gUI.appliedUserScale) {
        return;
    }
    gUI.pixelWidth = width;
    gUI.pixelHeight = height;
    gUI.contentScale = content;
    gUI.appliedUserScale = userScale;
    gUI.portrait = height > width;
    const float pixels = computeUiScale(content, width, height, userScale);
    // The GUI works in window points; on a high-density window a point is several pixels.
    const float density = pointWidth > 0 && width > 0 ? static_cast<float>(width) / pointWidth : 1.0f;
    uiApplyScale(pixels / density);
    logMessage("UI scale: %.3f for %d x %d (content scale %.2f, player's scale %.2f)", pixels, width, height,
               content, userScale);
}

void uiInitWithoutWindow(float uiScale) {
    IMGUI_CHECKVERSION();
    ImGui::CreateContext(nullptr);
    ImGui::GetIO().IniFilename = nullptr;
    gUI.uiScale = uiScale;
    setUpGui();
}

void uiShutdown() {
    if (ImGui::GetCurrentContext() == nullptr) {
        return;
    }
    if (ImGui::GetIO().BackendRendererUserData != nullptr) {
        ImGui_ImplOpenGL3_Shutdown();
    }
    if (ImGui::GetIO().BackendPlatformUserData != nullptr) {
        ImGui_ImplSDL3_Shutdown();
    }
    ImGui::DestroyContext(nullptr);
    ButtonTextures& t = gUI.textures;
    for (std::uint32_t* name : {&t.normalInactive, &t.startInactive, &t.exitInactive, &t.normalActive,
                                &t.startActive, &t.exitActive}) {
        if (*name != 0) {
            glDeleteTextures(1, name);
            *name = 0;
        }
    }
    releaseNeonTitle();
}

// ---- Per frame ----

void uiBeginFrame() {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL3_NewFrame();
    ImGui::NewFrame();
}

void uiRender() {
    GLboolean blend = gGL.glIsEnabled ? gGL.glIsEnabled(GL_BLEND) : GL_FALSE;
    GLboolean depth = gGL.glIsEnabled ? gGL.glIsEnabled(GL_DEPTH_TEST) : GL_FALSE;
    GLboolean cull = gGL.glIsEnabled ? gGL.glIsEnabled(GL_CULL_FACE) : GL_FALSE;
    GLboolean scissor = gGL.glIsEnabled ? gGL.glIsEnabled(GL_SCISSOR_TEST) : GL_FALSE;
    GLint blendSrc = 0, blendDst = 0, blendEquation = 0, depthFunc = 0, cullMode = 0, frontFace = 0;
    GLint scissorBox[4] = {}, activeTexture = 0, texture = 0, program = 0, vertexArray = 0;
    GLboolean depthMask = GL_TRUE;
    gGL.glGetIntegerv(GL_BLEND_SRC_ALPHA, &blendSrc);
    gGL.glGetIntegerv(GL_BLEND_DST_ALPHA, &blendDst);
    gGL.glGetIntegerv(GL_BLEND_EQUATION_RGB, &blendEquation);
    gGL.glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    gGL.glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    gGL.glGetIntegerv(GL_CULL_FACE_MODE, &cullMode);
    gGL.glGetIntegerv(GL_FRONT_FACE, &frontFace);
    gGL.glGetIntegerv(GL_SCISSOR_BOX, scissorBox);
    gGL.glGetIntegerv(GL_ACTIVE_TEXTURE, &activeTexture);
    gGL.glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    gGL.glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    gGL.glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);

    gGL.glEnable(GL_BLEND);
    gGL.glBlendEquation(GL_FUNC_ADD);
    gGL.glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    gGL.glDisable(GL_CULL_FACE);
    gGL.glDisable(GL_DEPTH_TEST);
    gGL.glEnable(GL_SCISSOR_TEST);
    ImGui::Render();
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());

    const auto restore = [](GLenum capability, GLboolean on) {
        on ? gGL.glEnable(capability) : gGL.glDisable(capability);
    };
    restore(GL_BLEND, blend);
    restore(GL_DEPTH_TEST, depth);
    restore(GL_CULL_FACE, cull);
    restore(GL_SCISSOR_TEST, scissor);
    gGL.glBlendFunc(static_cast<GLenum>(blendSrc), static_cast<GLenum>(blendDst));
    gGL.glBlendEquation(static_cast<GLenum>(blendEquation));
    gGL.glDepthFunc(static_cast<GLenum>(depthFunc));
    gGL.glDepthMask(depthMask);
    gGL.glCullFace(static_cast<GLenum>(cullMode));
    gGL.glFrontFace(static_cast<GLenum>(frontFace));
    gGL.glScissor(scissorBox[0], scissorBox[1], scissorBox[2], scissorBox[3]);
    gGL.glActiveTexture(static_cast<GLenum>(activeTexture));
    gGL.glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    gGL.glUseProgram(static_cast<GLuint>(program));
    gGL.glBindVertexArray(static_cast<GLuint>(vertexArray));
}

void uiSetNavigation(bool enabled) {
    ImGuiIO& io = ImGui::GetIO();
    constexpr ImGuiConfigFlags nav = ImGuiConfigFlags_NavEnableKeyboard | ImGuiConfigFlags_NavEnableGamepad;
    if (enabled) {
        io.ConfigFlags |= nav;
        return;
    }
    io.ConfigFlags &= ~nav;
    // No focus shows over a round: the HUD's buttons are for the pointer.
    ImGui::SetNavCursorVisible(false);
}

void goToScreen(const ScreenContext& context, UIScreen next, int tutorialPage) {
    if (next == UIScreen::Playing) {
        return;
    }
    const UIScreen left = gUI.screen;
    const int page =
        next == UIScreen::Tutorial ? std::clamp(tutorialPage, 0, kTutorialPages - 1) : gUI.tutorialPage;
    if (next == left && page == gUI.tutorialPage) {
        return;
    }
    gUI.screen = next;
    gUI.tutorialPage = page;
    if (context.screenChanged) {
        context.screenChanged(left, next);
    }
}
