#include "render/pad_glyphs.hpp"

#include "render/render_system.hpp"
#include "render/text_renderer.hpp"

#include <SDL3/SDL_gamepad.h>

#include <algorithm>
#include <cmath>

static_assert(kPadSouth == SDL_GAMEPAD_BUTTON_SOUTH && kPadEast == SDL_GAMEPAD_BUTTON_EAST &&
                  kPadWest == SDL_GAMEPAD_BUTTON_WEST && kPadNorth == SDL_GAMEPAD_BUTTON_NORTH,
              "face buttons are SDL's values");
static_assert(kPadLeftShoulder == SDL_GAMEPAD_BUTTON_LEFT_SHOULDER &&
                  kPadRightShoulder == SDL_GAMEPAD_BUTTON_RIGHT_SHOULDER,
              "shoulders are SDL's values");
static_assert(kPadDpadUp == SDL_GAMEPAD_BUTTON_DPAD_UP && kPadDpadDown == SDL_GAMEPAD_BUTTON_DPAD_DOWN &&
                  kPadDpadLeft == SDL_GAMEPAD_BUTTON_DPAD_LEFT &&
                  kPadDpadRight == SDL_GAMEPAD_BUTTON_DPAD_RIGHT,
              "D-pad directions are SDL's values");
static_assert(kPadLeftTrigger >= SDL_GAMEPAD_BUTTON_COUNT && kPadRightTrigger >= SDL_GAMEPAD_BUTTON_COUNT,
              "the triggers' values are no SDL button");

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kFringe = 1.0f; // pixels over which an edge fades out: the shapes' antialiasing

struct Point {
    float x, y;
};

// Appends shapes as triangles whose texture coordinate is the atlas's solid block.
struct ShapeSink {
    const RenderState& render;
    std::vector<float>& vertices;
    const float* rgb;

    void vertex(Point p, float alpha) const {
        const float v[8] = {p.x, p.y, render.solidU, render.solidV, rgb[0], rgb[1], rgb[2], alpha};
        vertices.insert(vertices.end(), v, v + 8);
    }
    void triangle(Point a, float alphaA, Point b, float alphaB, Point c, float alphaC) const {
        vertex(a, alphaA);
        vertex(b, alphaB);
        vertex(c, alphaC);
    }

    // A polygon every point of which `centre` sees (a disc, a pill, a cross), filled as a fan from
    // the centre, its outline fading out over kFringe pixels outward.
    void fill(Point centre, const std::vector<Point>& outline, float alpha) const {
        const std::size_t n = outline.size();
        std::vector<Point> normals(n), outer(n);
        for (std::size_t i = 0; i < n; ++i) {
            const Point a = outline[i], b = outline[(i + 1) % n];
            const float length = std::max(std::hypot(b.x - a.x, b.y - a.y), 1e-6f);
            Point normal{(b.y - a.y) / length, -(b.x - a.x) / length};
            if (normal.x * ((a.x + b.x) * 0.5f - centre.x) + normal.y * ((a.y + b.y) * 0.5f - centre.y) <
                0.0f) {
                normal = {-normal.x, -normal.y};
            }
            normals[i] = normal;
        }
        for (std::size_t i = 0; i < n; ++i) {
            // The mitre: moves both edges meeting here outward by the fringe's width.
            const Point a = normals[(i + n - 1) % n], b = normals[i];
            const float join = std::max(1.0f + a.x * b.x + a.y * b.y, 0.2f);
            outer[i] = {outline[i].x + (a.x + b.x) / join * kFringe,
                        outline[i].y + (a.y + b.y) / join * kFringe};
        }
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t j = (i + 1) % n;
            triangle(centre, alpha, outline[i], alpha, outline[j], alpha);
            triangle(outline[i], alpha, outline[j], alpha, outer[j], 0.0f);
            triangle(outline[i], alpha, outer[j], 0.0f, outer[i], 0.0f);
        }
    }

    // A ring between radii `inner` and `outer` around `c`, both edges fading out.
    void ring(Point c, float inner, float outer, float alpha) const {
        const int segments = std::clamp(static_cast<int>(outer * 0.6f) + 12, 12, 64);
        const float radii[4] = {std::max(inner - kFringe, 0.0f), inner, outer, outer + kFringe};
        const float alphas[4] = {0.0f, alpha, alpha, 0.0f};
        for (int s = 0; s < segments; ++s) {
            const float a0 = 2.0f * kPi * static_cast<float>(s) / static_cast<float>(segments);
            const float a1 = 2.0f * kPi * static_cast<float>(s + 1) / static_cast<float>(segments);
            for (int band = 0; band < 3; ++band) {
                const auto at = [&](float angle, int k) {
                    return Point{c.x + std::cos(angle) * radii[k], c.y + std::sin(angle) * radii[k]};
                };
                triangle(at(a0, band), alphas[band], at(a1, band), alphas[band], at(a1, band + 1),
                         alphas[band + 1]);
                triangle(at(a0, band), alphas[band], at(a1, band + 1), alphas[band + 1], at(a0, band + 1),
                         alphas[band + 1]);
            }
        }
    }
};

// The outline of a rectangle centred on `c` with corners rounded to `corner` pixels.
std::vector<Point> roundedBox(Point c, float halfWidth, float halfHeight, float corner) {
    corner = std::min({corner, halfWidth, halfHeight});
    const int steps = std::clamp(static_cast<int>(corner * 0.4f) + 3, 3, 16);
    const Point centres[4] = {{c.x + halfWidth - corner, c.y + halfHeight - corner},
                              {c.x - halfWidth + corner, c.y + halfHeight - corner},
                              {c.x - halfWidth + corner, c.y - halfHeight + corner},
                              {c.x + halfWidth - corner, c.y - halfHeight + corner}};
    std::vector<Point> outline;
    for (int k = 0; k < 4; ++k) {
        for (int s = 0; s <= steps; ++s) {
            const float angle =
                (static_cast<float>(k) + static_cast<float>(s) / static_cast<float>(steps)) * kPi * 0.5f;
            outline.push_back(
                {centres[k].x + std::cos(angle) * corner, centres[k].y + std::sin(angle) * corner});
        }
    }
    return outline;
}

std::vector<Point> disc(Point c, float radius) {
    const int segments = std::clamp(static_cast<int>(radius * 0.6f) + 12, 12, 64);
    std::vector<Point> outline;
    for (int s = 0; s < segments; ++s) {
        const float angle = 2.0f * kPi * static_cast<float>(s) / static_cast<float>(segments);
        outline.push_back({c.x + std::cos(angle) * radius, c.y + std::sin(angle) * radius});
    }
    return outline;
}

// The way a face button or D-pad direction points from the pad's centre, on screen (y downward).
Point directionOf(PadButton button) {
    switch (button) {
    case kPadNorth:
    case kPadDpadUp:
        return {0.0f, -1.0f};
    case kPadSouth:
    case kPadDpadDown:
        return {0.0f, 1.0f};
    case kPadWest:
    case kPadDpadLeft:
        return {-1.0f, 0.0f};
    default:
        return {1.0f, 0.0f}; // east, D-pad right
    }
}

void faceButtons(const ShapeSink& sink, Point c, Point pressed, float size, float alpha) {
    const float offset = 0.40f * size, radius = 0.17f * size;
    const float stroke = std::max(1.5f, 0.05f * size);
    const Point directions[4] = {{0.0f, -1.0f}, {1.0f, 0.0f}, {0.0f, 1.0f}, {-1.0f, 0.0f}};
    for (const Point& d : directions) {
        const Point dot{c.x + d.x * offset, c.y + d.y * offset};
        if (d.x == pressed.x && d.y == pressed.y) {
            sink.fill(dot, disc(dot, radius), alpha);
        } else {
            sink.ring(dot, radius - stroke, radius, alpha * 0.7f);
        }
    }
}

void dpad(const ShapeSink& sink, Point c, Point pressed, float size, float alpha) {
    const float half = 0.15f * size, reach = 0.55f * size;
    std::vector<Point> cross;
    // Around the plus sign, each arm's two corners and the notch before the next arm.
    const Point axes[4] = {{1.0f, 0.0f}, {0.0f, 1.0f}, {-1.0f, 0.0f}, {0.0f, -1.0f}};
    for (const Point& a : axes) {
        const Point side{-a.y, a.x};
        cross.push_back({c.x + a.x * reach - side.x * half, c.y + a.y * reach - side.y * half});
        cross.push_back({c.x + a.x * reach + side.x * half, c.y + a.y * reach + side.y * half});
        cross.push_back({c.x + (a.x + side.x) * half, c.y + (a.y + side.y) * half});
    }
    sink.fill(c, cross, alpha * 0.3f);
    // The pressed arm, solid, pointed at its end like an arrow.
    const Point side{-pressed.y, pressed.x};
    const float base = half * 1.1f, shaft = reach - half;
    const auto at = [&](float along, float across) {
        return Point{c.x + pressed.x * along + side.x * across, c.y + pressed.y * along + side.y * across};
    };
    const Point armCentre = at((base + reach) * 0.5f, 0.0f);
    sink.fill(
        armCentre,
        {at(base, -half), at(shaft, -half), at(reach + half * 0.6f, 0.0f), at(shaft, half), at(base, half)},
        alpha);
}

void labelledBar(const ShapeSink& sink, Point c, const char* text, bool trigger, float size, float alpha) {
    const float halfWidth = 0.62f * size;
    const float halfHeight = (trigger ? 0.36f : 0.28f) * size;
    const float corner = trigger ? 0.14f * size : halfHeight;
    sink.fill(c, roundedBox(c, halfWidth, halfHeight, corner), alpha);
    const TextExtent unit = measureText(sink.render, text, 1.0f);
    if (!unit.inked) {
        return;
    }
    const float scale =
        std::min(1.5f * halfWidth / (unit.right - unit.left), 1.2f * halfHeight / (unit.bottom - unit.top));
    const float ink[4] = {0.04f, 0.04f, 0.08f, alpha};
    appendTextVertices(sink.render, text, c.x - (unit.left + unit.right) * 0.5f * scale,
                       c.y - (unit.top + unit.bottom) * 0.5f * scale, ink, scale, sink.vertices);
}

} // namespace

bool appendPadGlyph(const RenderState& render, PadButton button, float x, float y, float size,
                    const float rgba[4], std::vector<float>& vertices) {
    const ShapeSink sink{render, vertices, rgba};
    const Point c{x, y};
    switch (button) {
    case kPadSouth:
    case kPadEast:
    case kPadWest:
    case kPadNorth:
        faceButtons(sink, c, directionOf(button), size, rgba[3]);
        return true;
    case kPadDpadUp:
    case kPadDpadDown:
    case kPadDpadLeft:
    case kPadDpadRight:
        dpad(sink, c, directionOf(button), size, rgba[3]);
        return true;
    case kPadLeftShoulder:
        labelledBar(sink, c, "LB", false, size, rgba[3]);
        return true;
    case kPadRightShoulder:
        labelledBar(sink, c, "RB", false, size, rgba[3]);
        return true;
    case kPadLeftTrigger:
        labelledBar(sink, c, "LT", true, size, rgba[3]);
        return true;
    case kPadRightTrigger:
        labelledBar(sink, c, "RT", true, size, rgba[3]);
        return true;
    default:
        return false;
    }
}
