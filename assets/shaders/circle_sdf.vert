#version 330 core
// One quad per instance: instances 0 .. uNumCircles-1 are the circles, the rest the hit bursts.
// Each quad covers its circle's target ring with the glow around it; inactive circles collapse to
// nothing. Positions are drawable pixels, origin bottom left.
//
// Everything the fragment stage needs about its instance is read here and handed over as flat
// inputs: software GL pays for uniform array reads at every pixel, but hardly for flat inputs.
#define MAX_CIRCLES 64
#define MAX_BURSTS 16

layout(std140) uniform ShaderUniforms {
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
};

uniform int uNumCircles;
uniform vec2 uCircleCenters[MAX_CIRCLES];
uniform float uCircleRadii[MAX_CIRCLES];
uniform float uTargetRadii[MAX_CIRCLES];
uniform int uCircleActive[MAX_CIRCLES];
uniform int uCircleHit[MAX_CIRCLES];
uniform int uCircleStemIndex[MAX_CIRCLES];
uniform vec4 neonColors[8];
uniform int uCircleIsHoldNote[MAX_CIRCLES];
uniform float uCircleHoldProgress[MAX_CIRCLES];

uniform vec2 uBurstCenters[MAX_BURSTS];
uniform float uBurstRadii[MAX_BURSTS];
uniform float uBurstAges[MAX_BURSTS]; // 0 at the hit, 1 when the burst is gone
uniform int uBurstStemIndex[MAX_BURSTS];

out vec2 vLocal;        // pixels from the centre
flat out vec4 vTint;    // rgb: the stem's colour; a: 0 circle, 1 burst
flat out vec4 vShape;   // circle: radius, target radius, approach 0..1, ghost 0/1 | burst: radius, age 0..1
flat out vec4 vFlags;   // x: hold circle, y: held, z: the time (for the held glow and the stripes)
flat out vec4 vHold;    // xy: direction where the hold's arc ends, z: 1 past half way, w: 1 once begun

const vec2 kCorners[6] = vec2[6](vec2(-1.0, -1.0), vec2(1.0, -1.0), vec2(1.0, 1.0),
                                 vec2(-1.0, -1.0), vec2(1.0, 1.0), vec2(-1.0, 1.0));

vec3 stemColor(int stem) {
    return (stem >= 0 && stem < 8) ? neonColors[stem].rgb : vec3(1.0);
}

void main() {
    vec2 corner = kCorners[gl_VertexID];
    vec2 centre;
    float extent;
    if (gl_InstanceID < uNumCircles) {
        int i = gl_InstanceID;
        if (uCircleActive[i] == 0) {
            gl_Position = vec4(2.0, 2.0, 2.0, 1.0); // outside the clip volume: nothing drawn
            vLocal = vec2(0.0);
            vTint = vec4(0.0);
            vShape = vec4(0.0);
            vFlags = vec4(0.0);
            vHold = vec4(0.0);
            return;
        }
        bool hold = uCircleIsHoldNote[i] != 0;
        centre = uCircleCenters[i];
        float target = uTargetRadii[i];
        float radius = uCircleRadii[i];
        // The glow fades out 16 px past the ring; the hold track lies just outside it.
        extent = max(target, radius) + (hold ? 22.0 : 17.0);
        vTint = vec4(stemColor(uCircleStemIndex[i]), 0.0);
        // 0 when the circle appears (20 px), 1 when it reaches its ring.
        float approach = clamp((radius - 20.0) / max(target - 20.0, 1.0), 0.0, 1.0);
        vShape = vec4(radius, target, approach, uCircleActive[i] == 2 ? 1.0 : 0.0); // 2: a ghost
        vFlags = vec4(hold ? 1.0 : 0.0, uCircleHit[i] != 0 ? 1.0 : 0.0, time, 0.0);
        // The arc runs clockwise from the top: its end, as a direction, saves an atan per pixel.
        float progress = clamp(uCircleHoldProgress[i], 0.0, 1.0);
        float angle = progress * 6.2831853;
        vHold = vec4(sin(angle), cos(angle), progress > 0.5 ? 1.0 : 0.0, progress > 0.0 ? 1.0 : 0.0);
    } else {
        int b = gl_InstanceID - uNumCircles;
        centre = uBurstCenters[b];
        float age = clamp(uBurstAges[b], 0.0, 1.0);
        // The ring flies out to 1.45 x the circle over the burst's life; its glow reaches 14 px.
        extent = uBurstRadii[b] * 1.45 + 16.0;
        vTint = vec4(stemColor(uBurstStemIndex[b]), 1.0);
        vShape = vec4(uBurstRadii[b], age, 0.0, 0.0);
        vFlags = vec4(0.0);
        vHold = vec4(0.0);
    }
    vLocal = corner * extent;
    vec2 pixel = centre + vLocal;
    gl_Position = vec4(pixel / max(resolution.xy, vec2(1.0)) * 2.0 - 1.0, 0.0, 1.0);
}
