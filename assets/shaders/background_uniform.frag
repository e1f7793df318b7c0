#version 330 core
// The audio-reactive background: one neon ribbon per stem slot over a deep night sky.
// A ribbon takes its stem's colour, swells and flares with each note pulse and burns bright
// only while its stem is audible; silent stems leave a faint ghost. As layers pile up the
// intensity drops and every ribbon calms down, so a full mix stays readable. The horizon glows
// in the colours of what plays. Everything per stem comes from fullscreen.vert as flat inputs.
//
// Written for software GL too: about a hundred cheap operations a pixel, no exp, sin or pow.

layout(std140) uniform ShaderUniforms {
    vec3 resolution;      // drawable pixels
    float resolutionPad;
    float time;           // seconds
    float timeDelta;
    float frameRate;
    float frame;
    vec4 pointer;         // xy: pointer, zw: last press (pixels, origin top left)
    vec4 date;
    float sampleRate;
    float samplePad0;
    float samplePad1;
    float samplePad2;
    vec4 stems[8];        // x: value, y: active; stems[0].z: active count, stems[0].w: intensity
};

in vec2 vUv;
flat in vec4 vScene;
flat in vec4 vPointer;
flat in vec4 vRibbon[8];
flat in vec4 vWidth[2];
flat in vec3 vMood;
out vec4 fragColor;

// A wave with the shape of a sine (within 6 %), period 1, from two parabolas.
float wave(float x) {
    float f = fract(x) * 2.0 - 1.0;
    return 4.0 * f * (1.0 - abs(f));
}

// Each ribbon mixes the two shared waves in its own proportions, so no two move alike.
const float kWaveA[8] = float[8](1.0, -0.8, 0.55, 0.9, -0.5, 0.7, -0.95, 0.4);
const float kWaveB[8] = float[8](0.3, 0.6, -0.75, 0.25, 0.85, -0.5, 0.35, -0.9);

void main() {
    vec2 uv = vUv;
    float x = uv.x * vScene.x;
    float t = vScene.y;
    float w1 = wave(x * 0.55 + t);
    float w2 = wave(x * 1.6 - t * 0.8 + 0.3);

    // Night sky: violet near the horizon, ink blue above.
    vec3 color = mix(vec3(0.06, 0.025, 0.12), vec3(0.01, 0.008, 0.04), uv.y);

    for (int i = 0; i < 8; ++i) {
        float lane = 0.17 + 0.095 * float(i); // rhythm stems at the bottom, leads on top
        float d = uv.y - lane - vRibbon[i].a * (w1 * kWaveA[i] + w2 * kWaveB[i]);
        float width = vWidth[i / 4][i % 4];
        // A bright core with a long soft tail: the neon tube and its glow in one term.
        color += vRibbon[i].rgb * (width / (abs(d) + width));
    }

    // The horizon glows in the colours of what plays.
    float h = uv.y - 0.1;
    color += vMood * (0.02 / (1.0 + h * h * 60.0));

    // A soft light under the pointer.
    vec2 toPointer = vec2(x, uv.y) - vPointer.xy;
    color += vec3(0.25, 0.2, 0.45) * (0.06 / (1.0 + dot(toPointer, toPointer) * 40.0));

    // Vignette, and a little dither against banding in the dark gradients, moving every frame.
    vec2 centred = uv - 0.5;
    color *= 1.0 - 0.6 * dot(centred, centred);
    float grain = fract(dot(gl_FragCoord.xy, vec2(0.7548776662, 0.56984029)) + frame * 0.618034);
    color += (grain - 0.5) * (1.5 / 255.0);

    fragColor = vec4(color, 1.0);
}
