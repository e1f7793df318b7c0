#include "screen_fit.hpp"

#include <sstream>

std::vector<TracedScreen> readTracedScreens(const std::string& log) {
    std::vector<TracedScreen> screens;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string tag, kind;
        if (!(words >> tag) || tag.rfind("UI", 0) != 0) {
            continue;
        }
        if (tag == "UI" && words >> kind && kind == "screen:") {
            TracedScreen screen;
            if (words >> screen.name >> screen.width >> screen.height) {
                screens.push_back(screen);
            }
        } else if (tag == "UI:" && !screens.empty()) {
            TracedItem item;
            if (words >> item.id >> item.x >> item.y >> item.w >> item.h) {
                screens.back().items.push_back(item);
            }
        }
    }
    return screens;
}

namespace {

bool inside(const TracedItem& a, const TracedItem& b) { // a within b
    return a.x >= b.x && a.y >= b.y && a.x + a.w <= b.x + b.w && a.y + a.h <= b.y + b.h;
}

bool meet(const TracedItem& a, const TracedItem& b) { // share an area, not just an edge
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

std::string describe(const TracedItem& item) {
    return item.id + " " + std::to_string(item.x) + " " + std::to_string(item.y) + " " +
           std::to_string(item.w) + " " + std::to_string(item.h);
}

} // namespace

std::vector<std::string> fitProblems(const TracedScreen& screen) {
    std::vector<std::string> problems;
    const TracedItem window{"window", 0, 0, screen.width, screen.height};
    const std::string where = screen.name + ": ";
    for (std::size_t i = 0; i < screen.items.size(); ++i) {
        const TracedItem& a = screen.items[i];
        if (!inside(a, window)) {
            problems.push_back(where + describe(a) + " leaves " + std::to_string(screen.width) + "x" +
                               std::to_string(screen.height));
        }
        for (std::size_t j = i + 1; j < screen.items.size(); ++j) {
            const TracedItem& b = screen.items[j];
            if (meet(a, b) && !inside(a, b) && !inside(b, a)) {
                problems.push_back(where + describe(a) + " overlaps " + describe(b));
            }
        }
    }
    return problems;
}
