#include "render/circle_renderer.hpp"

#include "base/log.hpp"
#include "game/game_state.hpp"
#include "game/round_progress.hpp"
#include "render/gl_functions.hpp"
#include "render/pad_glyphs.hpp"
#include "render/render_system.hpp"
#include "render/screen_dim.hpp"
#include "render/shader_utils.hpp"
#include "render/text_renderer.hpp"

#include <algorithm>
#include <string>
#include <vector>

// ---- Per-frame arrays ----

float holdProgress(const Circle& circle, double songTime) {
    if (circle.channel != kHoldChannel || !(circle.holdDuration > 0.0f)) {
        return 0.0f;
    }
    const double elapsed = songTime - circle.time;
    if (!(elapsed > 0.0)) {
        return 0.0f;
    }
    return static_cast<float>(std::min(1.0, elapsed / static_cast<double>(circle.holdDuration)));
}

static void addToBatch(CircleBatch& batch, const Circle& circle, std::int32_t source, double songTime) {
    const int i = batch.count++;
    batch.centers[i][0] = circle.x;
    batch.centers[i][1] = circle.y;
    batch.radii[i] = circle.radius;
    batch.targetRadii[i] = circle.targetRadius;
    batch.holdProgress[i] = holdProgress(circle, songTime);
    batch.active[i] = !circle.active ? 0 : source == kGhostSource ? kGhostActive : 1;
    batch.hit[i] = circle.hit ? 1 : 0;
    batch.stemIndex[i] = circle.stemIndex;
    batch.isHold[i] = circle.channel == kHoldChannel ? 1 : 0;
    batch.source[i] = source;
}

void buildCircleBatch(const GameState& game, CircleBatch& batch) {
    batch.count = 0;
    const std::vector<Circle>& circles = game.circles;
    const auto shown = [&game](const Circle& circle) { return !awaitingSpawn(game, circle); };
    const auto count = static_cast<std::size_t>(std::count_if(circles.begin(), circles.end(), shown));
    // The usual frame: every shown circle fits, in list order, with no list of its own to build.
    std::vector<std::size_t> order;
    if (count > static_cast<std::size_t>(kMaxCircles)) {
        order.reserve(count);
        for (std::size_t i = 0; i < circles.size(); ++i) {
            if (shown(circles[i])) {
                order.push_back(i);
            }
        }
        // More circles than the shader holds (only a hand-made chart gets here): keep the live
        // circles due soonest, since those are the ones the player must hit next.
        const auto sooner = [&circles](std::size_t a, std::size_t b) {
            if (circles[a].active != circles[b].active) {
                return circles[a].active;
            }
            if (circles[a].time != circles[b].time) {
                return circles[a].time < circles[b].time;
            }
            return a < b;
        };
        std::nth_element(order.begin(), order.begin() + kMaxCircles, order.end(), sooner);
        order.resize(kMaxCircles);
        std::sort(order.begin(), order.end());
        for (std::size_t i : order) {
            addToBatch(batch, circles[i], static_cast<std::int32_t>(i), game.songTime);
        }
    } else {
        for (std::size_t i = 0; i < circles.size(); ++i) {
            if (shown(circles[i])) {
                addToBatch(batch, circles[i], static_cast<std::int32_t>(i), game.songTime);
            }
        }
    }
    // The ghosts of a rewound span take what room is left: the live circles matter more.
    for (const Circle& ghost : game.progress.ghosts) {
        if (batch.count == kMaxCircles) {
            break;
        }
        if (ghost.active) {
            addToBatch(batch, ghost, kGhostSource, game.songTime);
        }
    }
}

LabelPlacement placeLabel(const TextExtent& unit, float x, float y, int height, float preferredScale,
                          float maxWidth, float maxHeight) {
    LabelPlacement placement;
    placement.scale = preferredScale;
    const float width = unit.right - unit.left, tall = unit.bottom - unit.top;
    if (width * placement.scale > maxWidth && width > 0.0f) {
        placement.scale = maxWidth / width;
    }
    if (tall * placement.scale > maxHeight && tall > 0.0f) {
        placement.scale = maxHeight / tall;
    }
    // The ink box scales with the pen at its origin: its centre lies at pen + centre × scale.
    placement.penX = x - (unit.left + unit.right) * 0.5f * placement.scale;
    placement.penY = (static_cast<float>(height) - y) - (unit.top + unit.bottom) * 0.5f * placement.scale;
    return placement;
}

// ---- Start-up ----

bool initCircleRenderer(RenderState& render) {
    // Compile and link failures have already been explained by the shader utilities.
    const ProgramFailureLines lines = {"Failed to load circle SDF vertex shader source",
                                       "Failed to load circle SDF fragment shader source", nullptr, nullptr,
                                       nullptr};
    if (!buildProgramFromFiles("shaders/circle_sdf.vert", "shaders/circle_sdf.frag", lines,
                               render.circleVertexShader, render.circleFragmentShader,
                               render.circleProgram)) {
        return false;
    }
    const GLuint block = gGL.glGetUniformBlockIndex(render.circleProgram, "ShaderUniforms");
    if (block == GL_INVALID_INDEX) {
        logError(stderr, "Warning: Could not find uniform block 'ShaderUniforms' in circle shader");
    } else {
        gGL.glUniformBlockBinding(render.circleProgram, block, 0);
        logMessage("Circle shader uniform buffer block bound successfully");
    }
    gGL.glGenVertexArrays(1, &render.circleVertexArray);
    gGL.glBindVertexArray(render.circleVertexArray);
    gGL.glBindVertexArray(0);
    logMessage("Circle SDF rendering system initialized successfully!");
    return true;
}

// ---- Per frame ----

void mapToCircleArea(const CircleArea& area, int width, int height, float& x, float& y, float& radius) {
    if (!area.enabled || width <= 0 || height <= 0) {
        return;
    }
    const float u = std::clamp(x / static_cast<float>(width), 0.0f, 1.0f);
    const float v = std::clamp(y / static_cast<float>(height), 0.0f, 1.0f);
    x = area.left + u * (area.right - area.left);
    y = area.bottom + v * (area.top - area.bottom);
    radius *= area.radiusScale;
}

// The batch as drawn: moved into the tutorial's demonstration area when it has one.
static void placeBatch(CircleBatch& batch, const RenderState& render) {
    if (!render.circleArea.enabled) {
        return;
    }
    for (int i = 0; i < batch.count; ++i) {
        float target = batch.targetRadii[i];
        float x = batch.centers[i][0], y = batch.centers[i][1];
        if (x == kOffScreen) {
            continue; // judged this frame: not drawn anywhere
        }
        mapToCircleArea(render.circleArea, render.width, render.height, batch.centers[i][0],
                        batch.centers[i][1], batch.radii[i]);
        mapToCircleArea(render.circleArea, render.width, render.height, x, y, target);
        batch.targetRadii[i] = target;
    }
}

// Locations are looked up by name every frame: a level's shader may have replaced any program,
// and the lookup is cheap next to the draw.
static void uploadBatch(GLuint program, const CircleBatch& batch, const RenderState& render) {
    const GLsizei n = batch.count;
    GLint at = gGL.glGetUniformLocation(program, "uNumCircles");
    if (at != -1) {
        gGL.glUniform1i(at, n);
    }
    if ((at = gGL.glGetUniformLocation(program, "uCircleCenters")) != -1 && n > 0) {
        gGL.glUniform2fv(at, n, &batch.centers[0][0]);
    }
    const struct {
        const char* name;
        const float* values;
    } floats[] = {{"uCircleRadii", batch.radii},
                  {"uTargetRadii", batch.targetRadii},
                  {"uCircleHoldProgress", batch.holdProgress}};
    for (const auto& f : floats) {
        if ((at = gGL.glGetUniformLocation(program, f.name)) != -1 && n > 0) {
            gGL.glUniform1fv(at, n, f.values);
        }
    }
    const struct {
        const char* name;
        const std::int32_t* values;
    } ints[] = {{"uCircleActive", batch.active},
                {"uCircleHit", batch.hit},
                {"uCircleStemIndex", batch.stemIndex},
                {"uCircleIsHoldNote", batch.isHold}};
    for (const auto& v : ints) {
        if ((at = gGL.glGetUniformLocation(program, v.name)) != -1 && n > 0) {
            gGL.glUniform1iv(at, n, v.values);
        }
    }
    if ((at = gGL.glGetUniformLocation(program, "neonColors")) != -1) {
        gGL.glUniform4fv(at, kStemSlots, &render.stemColors[0][0]);
    }
}

// The bursts ride in the same draw call as extra instances after the circles.
static void uploadBursts(GLuint program, const CircleEffects& effects, float now, const RenderState& render) {
    float centers[kMaxHitBursts][2];
    float radii[kMaxHitBursts];
    float ages[kMaxHitBursts];
    std::int32_t stems[kMaxHitBursts];
    const int n = effects.burstCount;
    for (int i = 0; i < n; ++i) {
        const HitBurst& burst = effects.bursts[i];
        centers[i][0] = burst.x;
        centers[i][1] = burst.y;
        radii[i] = burst.radius;
        mapToCircleArea(render.circleArea, render.width, render.height, centers[i][0], centers[i][1],
                        radii[i]);
        ages[i] = (now - burst.bornAt) / kHitBurstLife; // 0 at the hit, 1 when gone
        stems[i] = burst.stemIndex;
    }
    GLint at = gGL.glGetUniformLocation(program, "uNumBursts");
    if (at != -1) {
        gGL.glUniform1i(at, n);
    }
    if (n == 0) {
        return;
    }
    if ((at = gGL.glGetUniformLocation(program, "uBurstCenters")) != -1) {
        gGL.glUniform2fv(at, n, &centers[0][0]);
    }
    if ((at = gGL.glGetUniformLocation(program, "uBurstRadii")) != -1) {
        gGL.glUniform1fv(at, n, radii);
    }
    if ((at = gGL.glGetUniformLocation(program, "uBurstAges")) != -1) {
        gGL.glUniform1fv(at, n, ages);
    }
    if ((at = gGL.glGetUniformLocation(program, "uBurstStemIndex")) != -1) {
        gGL.glUniform1iv(at, n, stems);
    }
}

// A label's ink may span this much of its circle's target ring: room to spare inside the ring.
constexpr float kLabelWidthOfRadius = 1.3f;
constexpr float kLabelHeightOfRadius = 1.0f;

static void drawCircleLabels(const GameState& game, const CircleBatch& batch, RenderState& render) {
    constexpr float kLetterScale = 2.5f;
    std::vector<float>& vertices = render.textVertices;
    vertices.clear();
    for (int i = 0; i < batch.count; ++i) {
        if (batch.source[i] == kGhostSource) {
            continue; // a ghost is answered by no key
        }
        const Circle& circle = game.circles[static_cast<std::size_t>(batch.source[i])];
        // A circle judged this frame has already left the screen.
        if (!circle.active || circle.x == kOffScreen) {
            continue;
        }
        float x = circle.x, y = circle.y, radius = circle.targetRadius;
        mapToCircleArea(render.circleArea, render.width, render.height, x, y, radius);
        // The letter's size follows the circle's in the tutorial's area; its place is taken above.
        float placeX = circle.x, placeY = circle.y, scale = kLetterScale;
        mapToCircleArea(render.circleArea, render.width, render.height, placeX, placeY, scale);
        float rgba[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        if (circle.stemIndex >= 0 && circle.stemIndex < kStemSlots) {
            std::copy(render.stemColors[circle.stemIndex], render.stemColors[circle.stemIndex] + 3, rgba);
        }
        const float top = static_cast<float>(render.height) - y;
        // The pad's glyph while a pad was used last; else the key's letter in keyboard gameplay.
        const bool padShown = game.lastDevice == InputDevice::Gamepad;
        if ((padShown && appendPadGlyph(render, circle.padButton, x, top, radius, rgba, vertices)) ||
            !game.keyboardGameplay) {
            continue;
        }
        // The key's label as UTF-8: the layout's letter, or the key's short name.
        const std::string& label = circle.keyLabel;
        const TextExtent unit = measureText(render, label, 1.0f);
        if (!unit.inked) {
            continue;
        }
        const LabelPlacement place = placeLabel(unit, x, y, render.height, scale,
                                                radius * kLabelWidthOfRadius, radius * kLabelHeightOfRadius);
        appendTextVertices(render, label, place.penX, place.penY, rgba, place.scale, vertices);
    }
    if (!vertices.empty()) {
        drawTextVertices(render, vertices);
    }
}

void drawCircles(const GameState& game, RenderState& render) {
    CircleEffects& effects = render.circleEffects;
    trackHitBursts(effects, game, render.time);
    const bool anyActive =
        std::any_of(game.circles.begin(), game.circles.end(), [](const Circle& c) { return c.active; });
    if (!anyActive && effects.burstCount == 0) {
        return;
    }
    // A background darkened ahead for a menu comes back first: the menu darkens the circles too.
    settleSceneDimBeforeDrawingOver();
    CircleBatch batch;
    buildCircleBatch(game, batch);
    placeBatch(batch, render);

    gGL.glUseProgram(render.circleProgram);
    uploadBatch(render.circleProgram, batch, render);
    uploadBursts(render.circleProgram, effects, render.time, render);
    gGL.glEnable(GL_BLEND);
    gGL.glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    gGL.glBindVertexArray(render.circleVertexArray);
    // Six vertices: the quad of one instance; instances past the circles are the bursts.
    gGL.glDrawArraysInstanced(GL_TRIANGLES, 0, 6, batch.count + effects.burstCount);
    gGL.glBindVertexArray(0);
    gGL.glUseProgram(0);
    gGL.glDisable(GL_BLEND);

    if (render.fontTexture != 0) {
        drawCircleLabels(game, batch, render);
    }
    checkGLError("Circle SDF rendering");
}
