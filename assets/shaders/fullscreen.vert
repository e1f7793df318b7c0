#version 330 core
// Covers the viewport with one triangle from three attribute-less vertices: (-1,-1), (3,-1),
// (-1,3) in clip space; vUv runs 0..1 across the visible part.
//
// It also works out, once per vertex instead of once per pixel, what the background needs from
// each stem slot. Software GL pays for every uniform read in a fragment shader at every pixel,
// while flat varyings cost next to nothing there. The block below has the layout of
// "ShaderUniforms" under a name of its own, so that a level's background shader may declare
// "ShaderUniforms" with member names of its choice and still link with this stage (the instance
// name keeps the member names apart as well). A block's
// binding point is 0 until told otherwise, which is where the game keeps the buffer.
layout(std140) uniform BackgroundVertexInputs {
    vec3 resolution;
    float resolutionPad;
    float time;
    float timeDelta;
    float frameRate;
    float frame;
    vec4 pointer;
    vec4 date;
    float sampleRate;
    float samplePad0;
    float samplePad1;
    float samplePad2;
    vec4 stems[8];
} frameInputs;
uniform vec4 neonColors[8];

out vec2 vUv;
flat out vec4 vScene;     // x: aspect, y: wave time, z: intensity, w: 1 / height in uv units
flat out vec4 vPointer;   // xy: pointer in the background's space (x scaled by aspect), zw: unused
flat out vec4 vRibbon[8]; // rgb: colour times brightness, a: swing of the ribbon
flat out vec4 vWidth[2];  // line width of ribbons 0-3 and 4-7
flat out vec3 vMood;      // the colours of what plays, for the horizon

void main() {
    vec2 corner = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
    vUv = corner;
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);

    float height = max(frameInputs.resolution.y, 1.0);
    float aspect = frameInputs.resolution.x / height;
    float intensity = frameInputs.stems[0].w;
    // Few layers: lively and bright. A full mix: calmer, so that it does not turn into noise.
    float calm = 0.35 + 0.65 * intensity;
    vScene = vec4(aspect, frameInputs.time * (0.22 + 0.22 * intensity), intensity, 1.0 / height);
    vPointer = vec4(frameInputs.pointer.x / height, 1.0 - frameInputs.pointer.y / height, 0.0, 0.0);

    // Nothing playing (the menu, a stopped song): every ribbon shows the level's palette and
    // breathes slowly. While a song plays, silent stems fade to a ghost of themselves.
    float idle = 1.0 - clamp(frameInputs.stems[0].z, 0.0, 1.0);
    vec3 mood = vec3(0.0);
    float widths[8];
    for (int i = 0; i < 8; ++i) {
        float audible = frameInputs.stems[i].y;
        float energy = clamp(frameInputs.stems[i].x - 1.0, 0.0, 2.5) * audible; // a note pulse above rest
        float breath = 0.5 + 0.5 * sin(frameInputs.time * 0.7 + float(i) * 1.3);
        float rest = mix(0.09, 0.22 + 0.18 * breath, idle);
        float lit = mix(rest, 0.75 + 0.6 * energy * calm, audible);
        vRibbon[i] = vec4(neonColors[i].rgb * lit, (0.02 + 0.022 * energy) * calm + 0.008 * idle);
        widths[i] = 0.0028 + 0.005 * energy;
        mood += neonColors[i].rgb * (audible * (0.35 + energy) + idle * 0.12);
    }
    vWidth[0] = vec4(widths[0], widths[1], widths[2], widths[3]);
    vWidth[1] = vec4(widths[4], widths[5], widths[6], widths[7]);
    vMood = mood * (0.5 + 0.5 * intensity);
}
