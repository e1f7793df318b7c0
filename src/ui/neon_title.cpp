#include "ui/neon_title.hpp"

#include "base/log.hpp"
#include "render/gl_functions.hpp"
#include "render/screen_dim.hpp"

#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>

// ---- The cache's rules ----

bool sameGlow(const GlowKey& a, const GlowKey& b) {
    return a.text == b.text && a.font == b.font && a.fontSize == b.fontSize && a.uiScale == b.uiScale &&
           a.x == b.x && a.y == b.y && a.framebufferScale == b.framebufferScale;
}

GlowEntry& glowEntryFor(GlowCache& cache, const std::string& text) {
    ++cache.uses;
    for (GlowEntry& entry : cache.entries) {
        if (entry.text == text) {
            entry.lastUsed = cache.uses;
            return entry;
        }
    }
    if (cache.entries.size() >= kGlowCacheEntries) {
        const auto oldest =
            std::min_element(cache.entries.begin(), cache.entries.end(),
                             [](const GlowEntry& a, const GlowEntry& b) { return a.lastUsed < b.lastUsed; });
        if (oldest->texture != 0) {
            cache.retired.push_back(oldest->texture);
        }
        cache.entries.erase(oldest);
    }
    cache.entries.emplace_back();
    GlowEntry& entry = cache.entries.back();
    entry.text = text;
    entry.lastUsed = cache.uses;
    return entry;
}

GlowStep nextGlowStep(GlowEntry& entry, const GlowKey& key, bool canBake, std::int64_t frame) {
    if (entry.texture != 0 && sameGlow(entry.baked, key)) {
        return GlowStep::UseTexture;
    }
    const bool failedBefore = entry.hasFailed && sameGlow(entry.failed, key);
    if (canBake && !failedBefore && entry.drawnFrame + 1 == frame && sameGlow(entry.drawn, key)) {
        return GlowStep::Bake;
    }
    entry.drawn = key;
    entry.drawnFrame = frame;
    return GlowStep::DrawCopies;
}

void glowBaked(GlowCache& cache, GlowEntry& entry, const GlowKey& key, std::uint32_t texture, float x0,
               float y0, float x1, float y1) {
    if (entry.texture != 0 && entry.texture != texture) {
        cache.retired.push_back(entry.texture);
    }
    entry.baked = key;
    entry.texture = texture;
    entry.x0 = x0;
    entry.y0 = y0;
    entry.x1 = x1;
    entry.y1 = y1;
}

void glowBakeFailed(GlowCache& cache, GlowEntry& entry, const GlowKey& key) {
    if (entry.texture != 0) {
        cache.retired.push_back(entry.texture);
        entry.texture = 0;
    }
    entry.failed = key;
    entry.hasFailed = true;
}

// ---- Drawing ----

namespace {

GlowCache cache;

// The copies that make the glow: 12 around each of four rings 1.5 pixels apart (at scale 1),
// fading outward, and 8 more, a little stronger, inside the first two. `rgb` carries no alpha.
void addGlowCopies(ImDrawList& draw, const char* text, const ImVec2& p, float s, ImU32 rgb) {
    constexpr float kTau = 6.2831853f;
    const auto withAlpha = [rgb](int alpha) { return rgb | (static_cast<ImU32>(alpha) << IM_COL32_A_SHIFT); };
    for (int ring = 1; ring <= 4; ++ring) {
        const int alpha = 120 - 20 * ring;
        const float d = 1.5f * static_cast<float>(ring) * s;
        for (int k = 0; k < 12; ++k) {
            const float angle = kTau * static_cast<float>(k) / 12.0f;
            draw.AddText(ImVec2(p.x + d * std::cos(angle), p.y + d * std::sin(angle)), withAlpha(alpha),
                         text);
        }
        if (ring <= 2) {
            for (int k = 0; k < 8; ++k) {
                const float angle = kTau * static_cast<float>(k) / 8.0f;
                draw.AddText(ImVec2(p.x + 0.7f * d * std::cos(angle), p.y + 0.7f * d * std::sin(angle)),
                             withAlpha(alpha + 20), text);
            }
        }
    }
}

// Baking draws from the font atlas's texture in GL: it must hold what the atlas says it holds,
// with nothing added or moved since the last upload.
bool canBakeGlow() {
    if (ImGui::GetIO().BackendRendererUserData == nullptr || gGL.glGenFramebuffers == nullptr ||
        gGL.glBindFramebuffer == nullptr || gGL.glFramebufferTexture2D == nullptr ||
        gGL.glCheckFramebufferStatus == nullptr || gGL.glDeleteFramebuffers == nullptr ||
        gGL.glClearColor == nullptr || gGL.glGetIntegerv == nullptr) {
        return false;
    }
    const ImTextureData* atlas = ImGui::GetIO().Fonts->TexData;
    return atlas != nullptr && atlas->TexID != ImTextureID_Invalid && atlas->Status == ImTextureStatus_OK;
}

// The GL state the bake changes beyond what the GUI's renderer puts back itself.
struct SavedBakeState {
    GLint framebuffer = 0, texture = 0;
    GLfloat clear[4] = {};
    GLboolean scissor = GL_FALSE;
    SavedBakeState() {
        gGL.glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
        gGL.glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
        gGL.glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
        scissor = gGL.glIsEnabled != nullptr ? gGL.glIsEnabled(GL_SCISSOR_TEST) : GL_FALSE;
    }
    ~SavedBakeState() {
        gGL.glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(framebuffer));
        gGL.glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
        gGL.glClearColor(clear[0], clear[1], clear[2], clear[3]);
        scissor ? gGL.glEnable(GL_SCISSOR_TEST) : gGL.glDisable(GL_SCISSOR_TEST);
    }
};

// Draws the copies in white into a new texture that covers them, through the GUI's own renderer so
// that every glyph lands and blends as it would on screen. The renderer's blending keeps the
// colour white (white over white) and builds the opacity up as copies pile on. The texture covers
// whole GUI pixels and is placed on them, so that its texels fall on the screen's pixels. False,
// with nothing made, when the copies fall outside the screen or GL refuses.
bool bakeGlow(const GlowKey& key, GLuint& texture, ImVec2& min, ImVec2& max, const char*& why) {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImDrawList list(ImGui::GetDrawListSharedData());
    list._ResetForNewFrame();
    list.PushTexture(ImGui::GetIO().Fonts->TexRef);
    list.PushClipRect(viewport->Pos,
                      ImVec2(viewport->Pos.x + viewport->Size.x, viewport->Pos.y + viewport->Size.y), false);
    addGlowCopies(list, key.text.c_str(), ImVec2(key.x, key.y), key.uiScale, IM_COL32(255, 255, 255, 0));
    list._PopUnusedDrawCmd();
    if (list.VtxBuffer.Size == 0) {
        why = "nothing on screen";
        return false;
    }
    min = ImVec2(viewport->Pos.x + viewport->Size.x, viewport->Pos.y + viewport->Size.y);
    max = viewport->Pos;
    for (const ImDrawVert& vertex : list.VtxBuffer) {
        min = ImVec2(std::min(min.x, vertex.pos.x), std::min(min.y, vertex.pos.y));
        max = ImVec2(std::max(max.x, vertex.pos.x), std::max(max.y, vertex.pos.y));
    }
    // What the screen shows of it, on whole pixels.
    min = ImVec2(std::floor(std::max(min.x, viewport->Pos.x)), std::floor(std::max(min.y, viewport->Pos.y)));
    max = ImVec2(std::ceil(std::min(max.x, viewport->Pos.x + viewport->Size.x)),
                 std::ceil(std::min(max.y, viewport->Pos.y + viewport->Size.y)));
    const int width = static_cast<int>(std::ceil((max.x - min.x) * key.framebufferScale));
    const int height = static_cast<int>(std::ceil((max.y - min.y) * key.framebufferScale));
    GLint largest = 0;
    gGL.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    if (width <= 0 || height <= 0 || width > largest || height > largest) {
        why = "nothing on screen, or larger than a texture may be";
        return false;
    }

    checkGLError("Frame before baking a title's glow"); // an earlier error is not the bake's
    const SavedBakeState saved;
    GLuint name = 0, framebuffer = 0;
    glGenTextures(1, &name);
    gGL.glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    gGL.glGenFramebuffers(1, &framebuffer);
    gGL.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gGL.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, name, 0);
    const bool complete = gGL.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        gGL.glDisable(GL_SCISSOR_TEST);
        gGL.glClearColor(1.0f, 1.0f, 1.0f, 0.0f);
        gGL.glClear(GL_COLOR_BUFFER_BIT);
        ImDrawData data;
        data.Valid = true;
        data.CmdListsCount = 1;
        data.TotalVtxCount = list.VtxBuffer.Size;
        data.TotalIdxCount = list.IdxBuffer.Size;
        data.CmdLists.push_back(&list);
        data.DisplayPos = min;
        data.DisplaySize = ImVec2(max.x - min.x, max.y - min.y);
        data.FramebufferScale = ImVec2(key.framebufferScale, key.framebufferScale);
        data.Textures = nullptr; // the atlas's texture is up to date: an earlier frame drew these glyphs
        ImGui_ImplOpenGL3_RenderDrawData(&data);
    }
    gGL.glDeleteFramebuffers(1, &framebuffer);
    const bool clean = gGL.glGetError() == GL_NO_ERROR;
    if (!complete || !clean) {
        glDeleteTextures(1, &name);
        why = complete ? "a GL error" : "the texture cannot be drawn into";
        return false;
    }
    texture = name;
    return true;
}

void releaseRetired() {
    for (std::uint32_t& name : cache.retired) {
        glDeleteTextures(1, &name);
    }
    cache.retired.clear();
}

// The colour (r, g, b) (0..1) with no alpha, for the copies to add theirs.
ImU32 colourWithoutAlpha(float r, float g, float b) {
    return IM_COL32(static_cast<int>(r * 255.0f), static_cast<int>(g * 255.0f), static_cast<int>(b * 255.0f),
                    0);
}

void menuDimCallback(const ImDrawList*, const ImDrawCmd*) { drawMenuDim(); }

void settleCallback(const ImDrawList*, const ImDrawCmd*) { settleSceneDim(); }

// Every frame of the GUI, menu or not, starts its drawing by settling the scene: a background
// darkened ahead for a menu that is no longer up is brought back before the GUI draws over it.
ImGuiContext* settlingContext = nullptr;
void addSettleStep(ImGuiContext*, ImGuiContextHook*) {
    ImDrawList* first = ImGui::GetBackgroundDrawList();
    first->AddCallback(settleCallback, nullptr);
    first->AddCallback(ImDrawCallback_ResetRenderState, nullptr);
}

} // namespace

void drawNeonGlow(ImDrawList* draw, const char* text, const ImVec2& textPos, float uiScale, float r, float g,
                  float b) {
    GlowKey key;
    key.text = text;
    key.font = ImGui::GetFont();
    key.fontSize = ImGui::GetFontSize();
    key.uiScale = uiScale;
    key.x = textPos.x;
    key.y = textPos.y;
    key.framebufferScale = ImGui::GetIO().DisplayFramebufferScale.x;
    const bool canBake = canBakeGlow();
    if (canBake) {
        releaseRetired();
    }
    GlowEntry& entry = glowEntryFor(cache, key.text);
    GlowStep step = nextGlowStep(entry, key, canBake, ImGui::GetFrameCount());
    if (step == GlowStep::Bake) {
        GLuint texture = 0;
        ImVec2 min, max;
        const char* why = "";
        if (bakeGlow(key, texture, min, max, why)) {
            glowBaked(cache, entry, key, texture, min.x, min.y, max.x, max.y);
            step = GlowStep::UseTexture;
        } else {
            logError(stderr, "Drawing the glow of the title '%s' copy by copy: %s", text, why);
            glowBakeFailed(cache, entry, key);
            step = GlowStep::DrawCopies;
        }
    }
    if (step == GlowStep::UseTexture) {
        // The texture's rows run bottom up, as GL draws them.
        draw->AddImage(ImTextureRef(static_cast<ImTextureID>(entry.texture)), ImVec2(entry.x0, entry.y0),
                       ImVec2(entry.x1, entry.y1), ImVec2(0.0f, 1.0f), ImVec2(1.0f, 0.0f),
                       colourWithoutAlpha(r, g, b) | IM_COL32_A_MASK);
    } else {
        addGlowCopies(*draw, text, textPos, uiScale, colourWithoutAlpha(r, g, b));
    }
}

void dimScreenUnder(ImDrawList* draw) {
    if (ImGui::GetIO().BackendRendererUserData != nullptr && prepareScreenDim()) {
        if (settlingContext != ImGui::GetCurrentContext()) {
            ImGuiContextHook hook;
            hook.Type = ImGuiContextHookType_NewFramePost;
            hook.Callback = addSettleStep;
            ImGui::AddContextHook(ImGui::GetCurrentContext(), &hook);
            settlingContext = ImGui::GetCurrentContext();
        }
        sceneDimWanted(gameSceneDim());
        draw->AddCallback(menuDimCallback, nullptr);
        draw->AddCallback(ImDrawCallback_ResetRenderState, nullptr);
        return;
    }
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    draw->AddRectFilled(viewport->Pos,
                        ImVec2(viewport->Pos.x + viewport->Size.x, viewport->Pos.y + viewport->Size.y),
                        IM_COL32(0, 0, 0, static_cast<int>(kMenuDimAlpha * 255.0f + 0.5f)));
}

void releaseNeonTitle() {
    for (GlowEntry& entry : cache.entries) {
        if (entry.texture != 0) {
            cache.retired.push_back(entry.texture);
        }
    }
    cache.entries.clear();
    releaseRetired();
    releaseScreenDim();
    settlingContext = nullptr; // the hook went with the GUI's context
}

GlowCache& neonGlowCache() { return cache; }
