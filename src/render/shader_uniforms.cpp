#include "render/shader_uniforms.hpp"

#include "audio/midi_chart.hpp"
#include "render/render_system.hpp"

#include <algorithm>
#include <cmath>
#include <ctime>

void setStemSlotDefaults(RenderState& render) {
    for (int i = 0; i < kStemSlots; ++i) {
        render.stemValue[i] = 1.0f;
        render.stemTarget[i] = 1.0f;
        render.stemBase[i] = 1.0f;
        render.stemPeak[i] = 2.0f;
        render.stemLerpSpeed[i] = 18.0f;
        render.stemPulsing[i] = false;
        const float p = static_cast<float>(i) * 0.125f * 6.28318f;
        render.stemColors[i][0] = 0.5f + 0.5f * std::sin(p);
        render.stemColors[i][1] = 0.5f + 0.5f * std::sin(p + 2.0944f);
        render.stemColors[i][2] = 0.5f + 0.5f * std::sin(p + 4.1888f);
        render.stemColors[i][3] = 1.0f;
    }
}

void setPointer(RenderState& render, float x, float y, bool pressed) {
    render.uniforms.pointer[0] = x;
    render.uniforms.pointer[1] = y;
    if (pressed) {
        render.uniforms.pointer[2] = x;
        render.uniforms.pointer[3] = y;
    }
}

void advanceRenderState(RenderState& render, float dt) {
    const float target = render.activeStemCount >= 6 ? 0.4f : (render.activeStemCount >= 3 ? 0.75f : 0.95f);
    render.intensity += 2.0f * dt * (target - render.intensity);
    render.frameCount += 1;
    render.time += dt;
    for (int i = 0; i < kStemSlots; ++i) {
        const float f = std::min(render.stemLerpSpeed[i] * dt, 1.0f);
        render.stemValue[i] += (render.stemTarget[i] - render.stemValue[i]) * f;
        // Close enough to the peak: the pulse turns and falls back to rest.
        if (render.stemPulsing[i] && std::fabs(render.stemValue[i] - render.stemTarget[i]) < 0.5f) {
            render.stemTarget[i] = render.stemBase[i];
            render.stemPulsing[i] = false;
        }
    }
    fillShaderUniforms(render);
}

void fillShaderUniforms(RenderState& render) {
    ShaderUniforms& u = render.uniforms;
    u.resolution[0] = static_cast<float>(render.width);
    u.resolution[1] = static_cast<float>(render.height);
    u.resolution[2] = 1.0f;
    u.resolutionPad = 0.0f;

    u.time = render.time;
    u.timeDelta = render.time - render.previousFillTime;
    render.previousFillTime = render.time;
    u.frameRate = u.timeDelta > 0.0f ? 1.0f / u.timeDelta : 60.0f;
    u.frame = static_cast<float>(render.frameCount);

    for (int i = 0; i < kStemSlots; ++i) {
        u.stems[i][0] = render.stemValue[i];
        u.stems[i][1] = render.stemActive[i] ? 1.0f : 0.0f;
        u.stems[i][2] = 0.0f;
        u.stems[i][3] = 0.0f;
    }
    u.stems[0][2] = static_cast<float>(render.activeStemCount);
    u.stems[0][3] = render.intensity;

    // localtime_r: the GUI and the leaderboard threads may format times too.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr) {
        u.date[0] = static_cast<float>(local.tm_year + 1900);
        u.date[1] = static_cast<float>(local.tm_mon + 1);
        u.date[2] = static_cast<float>(local.tm_mday);
        u.date[3] = static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
    }

    u.sampleRate = 44100.0f;
    u.samplePad[0] = u.samplePad[1] = u.samplePad[2] = 0.0f;
}

// Low registers carry the weight of a mix (kick, bass), so they push their layer's visuals the
// hardest; high melodic notes only flicker.
static float registerFactor(int note) {
    if (note >= 73) {
        return 0.4f;
    }
    if (note >= 60) {
        return 0.6f;
    }
    if (note >= 48) {
        return 0.8f;
    }
    if (note >= 36) {
        return 1.2f;
    }
    return 1.0f;
}

void pulseStem(const MidiNoteEvent& note, RenderState* render) {
    if (render == nullptr || !note.isNoteOn || note.velocity <= 0 || note.stemIndex < 0 ||
        note.stemIndex >= kStemSlots) {
        return;
    }
    const int s = note.stemIndex;
    const float peak = render->stemPeak[s];
    const float pulse =
        (0.5f + 0.5f * static_cast<float>(note.velocity) / 127.0f) * registerFactor(note.note) * peak;
    render->stemTarget[s] = std::min(1.5f * peak, pulse);
    render->stemPulsing[s] = true;
}
