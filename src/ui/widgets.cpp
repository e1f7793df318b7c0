#include "ui/widgets.hpp"

#include "ui/neon_title.hpp"
#include "ui/ui_system.hpp"

#include <SDL3/SDL.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

float panelWidthFraction(float landscape) { return gUI.portrait ? 0.92f : landscape; }

void drawTitleAndPlacePanel(const char* title, float hueSpeed, float saturation, float widthFraction,
                            float gap, float bottomMargin) {
    const float s = gUI.uiScale;
    const ImGuiViewport& viewport = *ImGui::GetMainViewport();
    const ImVec2 work = viewport.WorkSize;
    drawNeonTitle(title, hueSpeed, saturation);
    const float top = std::max(viewport.WorkPos.y + 0.08f * work.y + ImGui::CalcTextSize(title).y + gap * s,
                               neonTitleRect(title).y1);
    const float fraction = panelWidthFraction(widthFraction);
    ImGui::SetNextWindowPos(ImVec2(viewport.WorkPos.x + (1.0f - fraction) / 2.0f * work.x, top),
                            ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(
        ImVec2(fraction * work.x, work.y - (top - viewport.WorkPos.y) - bottomMargin * s), ImGuiCond_Always);
}

bool beginPanelContent(const char* id, const char* traceId, float buttonHeight, float s) {
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(40.0f * s, 30.0f * s));
    ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.05f, 0.05f, 0.1f, 0.85f));
    ImGui::PushStyleColor(ImGuiCol_Border, ImVec4(0.3f, 0.3f, 0.5f, 0.5f));
    const float height = ImGui::GetContentRegionAvail().y - buttonHeight - 30.0f * s;
    const bool shown = ImGui::BeginChild(id, ImVec2(0.0f, height), ImGuiChildFlags_Borders);
    if (shown) {
        const ImVec2 at = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
        uiTraceRect(traceId, at.x, at.y, at.x + size.x, at.y + size.y);
    }
    return shown;
}

void endPanelContent() {
    ImGui::EndChild();
    ImGui::PopStyleColor(2);
    ImGui::PopStyleVar(2);
}

void pushUIFont(ImFont* font) { ImGui::PushFont(font, font != nullptr ? font->LegacySize : 0.0f); }

// The title's font size for scale 1 (pushed; the GUI scale applies on top) and its top left: the
// title font's 96 pixels unless the text would be wider than 90 % of the window, centred, 8 % of
// the window's height down.
static float neonTitlePlace(const char* text, ImVec2& topLeft, ImVec2& size) {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImFont* font = gUI.fonts.titleFont;
    const float full = font ? font->LegacySize : 96.0f;
    ImGui::PushFont(font, full);
    size = ImGui::CalcTextSize(text);
    ImGui::PopFont();
    const float room = 0.9f * viewport->WorkSize.x;
    const float pixels = size.x > room ? full * room / size.x : full;
    if (pixels != full) {
        size = ImVec2(size.x * pixels / full, size.y * pixels / full);
    }
    topLeft = ImVec2(viewport->WorkPos.x + (viewport->WorkSize.x - size.x) / 2.0f,
                     viewport->WorkPos.y + 0.08f * viewport->WorkSize.y);
    return pixels;
}

TitleRect neonTitleRect(const char* text) {
    ImVec2 p, size;
    neonTitlePlace(text, p, size);
    // The line's box: the glow (6 pixels x scale round the letters) stays inside it, since the
    // capitals leave the line's leading above them and its descent below.
    return TitleRect{p.x, p.y, p.x + size.x, p.y + size.y};
}

void drawNeonTitle(const char* text, float hueSpeed, float saturation) {
    dimScreenUnder(ImGui::GetBackgroundDrawList());
    ImVec2 p, size;
    const float pixels = neonTitlePlace(text, p, size);
    const TitleRect box = neonTitleRect(text);
    uiTraceRect("title", box.x0, box.y0, box.x1, box.y1);
    ImFont* font = gUI.fonts.titleFont;
    ImGui::PushFont(font, pixels);
    ImDrawList* draw = ImGui::GetForegroundDrawList();
    const float t = static_cast<float>(SDL_GetTicks()) / 1000.0f;
    float r = 1.0f, g = 1.0f, b = 1.0f;
    ImGui::ColorConvertHSVtoRGB(t * hueSpeed - std::floor(t * hueSpeed), saturation, 1.0f, r, g, b);
    const float s = gUI.uiScale;
    const auto colour = [](float cr, float cg, float cb, int alpha) {
        return IM_COL32(static_cast<int>(cr * 255.0f), static_cast<int>(cg * 255.0f),
                        static_cast<int>(cb * 255.0f), alpha);
    };
    draw->AddText(ImVec2(p.x + 2.0f * s, p.y + 2.0f * s), IM_COL32(0, 0, 0, 150), text);
    drawNeonGlow(draw, text, p, s, r, g, b);
    const float pulse = 0.8f + 0.2f * std::sin(3.0f * t);
    draw->AddText(p, colour(r * pulse, g * pulse, b * pulse, 255), text);
    ImGui::PopFont();
}

bool lastItemHasVisibleFocus() {
    const ImGuiContext& g = *ImGui::GetCurrentContext();
    return g.NavCursorVisible && g.NavId != 0 && g.NavId == g.LastItemData.ID &&
           (g.IO.ConfigFlags & (ImGuiConfigFlags_NavEnableKeyboard | ImGuiConfigFlags_NavEnableGamepad)) != 0;
}

void drawFocusRing(ImDrawList* draw, const ImVec2& min, const ImVec2& max, float rounding) {
    const float s = gUI.uiScale;
    const ImVec4 c(kFocusColour[0], kFocusColour[1], kFocusColour[2], kFocusColour[3]);
    const ImVec2 out(4.0f * s, 4.0f * s);
    // A soft glow under a firm line, so that the ring reads on the dark panels and on the neon images.
    draw->AddRect(ImVec2(min.x - out.x, min.y - out.y), ImVec2(max.x + out.x, max.y + out.y),
                  ImGui::GetColorU32(ImVec4(c.x, c.y, c.z, 0.3f)), rounding + out.x, 0, 9.0f * s);
    draw->AddRect(ImVec2(min.x - out.x, min.y - out.y), ImVec2(max.x + out.x, max.y + out.y),
                  ImGui::GetColorU32(c), rounding + out.x, 0, 3.0f * s);
}

bool labeledImageButton(const char* id, const char* label, const ImVec2& size, std::uint32_t inactiveTexture,
                        std::uint32_t activeTexture) {
    const bool pressed = ImGui::GetCurrentContext()->ActiveId == ImGui::GetID(id);
    const std::uint32_t texture = pressed ? activeTexture : inactiveTexture;
    const bool clicked =
        ImGui::ImageButton(id, ImTextureRef(static_cast<ImTextureID>(texture)), size, ImVec2(0, 0),
                           ImVec2(1, 1), ImVec4(0, 0, 0, 0), ImVec4(1, 1, 1, 1));
    uiTraceLastItem(id);
    if (lastItemHasVisibleFocus()) {
        // Over the window's own clip, which may cut a ring that stands out of the button.
        drawFocusRing(ImGui::GetForegroundDrawList(), ImGui::GetItemRectMin(), ImGui::GetItemRectMax(),
                      12.0f * gUI.uiScale);
    }
    ImFont* font = gUI.fonts.buttonFont;
    ImGui::PushFont(font, font ? font->LegacySize : 0.0f); // at its scale-1 size: the GUI scale applies
    const ImVec2 min = ImGui::GetItemRectMin(), max = ImGui::GetItemRectMax();
    const ImVec2 text = ImGui::CalcTextSize(label);
    // White, faded as a disabled button's image is.
    const bool disabled = (ImGui::GetCurrentContext()->CurrentItemFlags & ImGuiItemFlags_Disabled) != 0;
    const int alpha = disabled ? static_cast<int>(ImGui::GetStyle().DisabledAlpha * 255.0f + 0.5f) : 255;
    ImGui::GetForegroundDrawList()->AddText(
        ImVec2((min.x + max.x - text.x) / 2.0f, (min.y + max.y - text.y) / 2.0f),
        IM_COL32(255, 255, 255, alpha), label);
    ImGui::PopFont();
    return clicked;
}

void pushClearButtonColours() {
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0, 0, 0, 0));
}

int drawButtonRow(const RowButton* buttons, int count, const ImVec2& size, float gap) {
    pushClearButtonColours();
    ImGui::SetCursorPosX((ImGui::GetWindowWidth() - ((count - 1) * gap + count * size.x)) / 2.0f);
    int clicked = -1;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            ImGui::SameLine(0.0f, gap);
        }
        ImGui::BeginDisabled(!buttons[i].enabled);
        if (labeledImageButton(buttons[i].id, buttons[i].label, size, gUI.textures.normalInactive,
                               gUI.textures.normalActive)) {
            clicked = i;
        }
        ImGui::EndDisabled();
    }
    ImGui::PopStyleColor(3);
    return clicked;
}

// The bordered, rounded text area both screens share, as tall as its text within the size
// range from `least` to `most` (GUI units); returns whether it is visible. It scrolls
// only when it was held at `most` in the frame before (`heldDown`, the caller's to keep): the
// auto-fitted height is whole pixels, a fraction short of the text, which must not bring a bar.
bool beginContent(const char* id, float least, float most, bool& heldDown, float s) {
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(40.0f * s, 40.0f * s));
    ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.05f, 0.05f, 0.1f, 0.85f));
    ImGui::PushStyleColor(ImGuiCol_Border, ImVec4(0.3f, 0.3f, 0.5f, 0.5f));
    ImGui::SetNextWindowSizeConstraints(ImVec2(0.0f, least), ImVec2(FLT_MAX, most));
    const bool shown =
        ImGui::BeginChild(id, ImVec2(0.0f, 0.0f), ImGuiChildFlags_Borders | ImGuiChildFlags_AutoResizeY,
                          heldDown ? ImGuiWindowFlags_None : ImGuiWindowFlags_NoScrollbar);
    heldDown = ImGui::GetWindowSize().y >= most - 1.0f;
    return shown;
}

void endContent(float buttonHeight, float s) {
    ImGui::EndChild();
    ImGui::PopStyleColor(2);
    ImGui::PopStyleVar(2);
    const float gap = ImGui::GetContentRegionAvail().y - buttonHeight - 10.0f * s;
    if (gap > 0.0f) {
        ImGui::Dummy(ImVec2(0.0f, gap));
    }
}

// Centred; a line wider than the panel wraps, each of its lines centred.
void centredText(const char* text, const float color[4]) {
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(color[0], color[1], color[2], color[3]));
    const float left = ImGui::GetCursorPosX();
    const float room = ImGui::GetContentRegionAvail().x;
    const char* end = text + std::strlen(text);
    ImFont* font = ImGui::GetFont();
    const float size = ImGui::GetFontSize();
    for (const char* line = text; line < end;) {
        const char* lineEnd = font->CalcWordWrapPosition(size, line, end, room);
        if (lineEnd == line) {
            lineEnd = line + 1; // a character wider than the panel still moves on
        }
        const float width = ImGui::CalcTextSize(line, lineEnd).x;
        ImGui::SetCursorPosX(left + std::max(0.0f, (room - width) / 2.0f));
        ImGui::TextUnformatted(line, lineEnd);
        line = lineEnd;
        while (line < end && *line == ' ') {
            ++line;
        }
    }
    ImGui::PopStyleColor();
}

int screenPanelFlags() {
    return ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
           ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoBackground;
}
