#include "ui/ui_trace.hpp"

#include "base/log.hpp"
#include "ui/ui_system.hpp"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>

// Puts the keyboard focus on the last item, visibly, once its screen has settled.
static void focusLastItemOnRequest(const char* id) {
    if (gUI.focusRequest.empty() || gUI.screenFrames < 3 || gUI.focusRequest != id) {
        return;
    }
    ImGuiContext& g = *ImGui::GetCurrentContext();
    ImGui::FocusWindow(g.CurrentWindow);
    ImGui::SetFocusID(g.LastItemData.ID, g.CurrentWindow);
    ImGui::SetNavCursorVisible(true);
    gUI.focusRequest.clear();
}

void uiTraceLastItem(const char* id) {
    focusLastItemOnRequest(id);
    if (!ImGui::IsItemVisible()) {
        return; // scrolled out of view: nothing there to click
    }
    const ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 clipMin = draw->GetClipRectMin(), clipMax = draw->GetClipRectMax();
    const ImVec2 min = ImGui::GetItemRectMin(), max = ImGui::GetItemRectMax();
    uiTraceRect(id, std::max(min.x, clipMin.x), std::max(min.y, clipMin.y), std::min(max.x, clipMax.x),
                std::min(max.y, clipMax.y));
}

void uiTraceRect(const char* id, float x0, float y0, float x1, float y1) {
    // Auto-sized windows settle over their first frames; from the third frame on the layout is the
    // real one. Each item is traced once per appearance of its screen, also when it shows up later
    // (the tutorial's Finish, say).
    if (!gUI.trace || gUI.traceSuspended || gUI.screenFrames < 3 || !gUI.tracedItems.insert(id).second) {
        return;
    }
    const ImVec2 scale = ImGui::GetIO().DisplayFramebufferScale;
    // Whole pixels that stay inside the rectangle, so that two items that merely touch do not
    // seem to overlap.
    const int left = static_cast<int>(std::ceil(x0 * scale.x)),
              top = static_cast<int>(std::ceil(y0 * scale.y));
    const int right = static_cast<int>(std::floor(x1 * scale.x)),
              bottom = static_cast<int>(std::floor(y1 * scale.y));
    logMessage("UI: %s %d %d %d %d", id, left, top, std::max(0, right - left), std::max(0, bottom - top));
}
