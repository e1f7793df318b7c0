#version 330 core
// Shades one circle, or one hit burst, of the instanced quads drawn by circle_sdf.vert.
// A circle is a dark glassy disc in its stem's colour with a bright rim, growing toward a crisp
// target ring that brightens as the note nears. A hold circle has a striped disc and an outer
// track whose arc fills clockwise with the hold's progress; held, it glows white-hot.
// A burst is a ring flying outward from where a circle was hit, with a flash, fading as it goes.
// A ghost (a judged circle shown again while a pause's rewind replays its span) is drawn faded.
//
// The uniforms are declared for the game to fill; this stage reads its instance's values from
// the flat inputs the vertex stage hands over.
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

in vec2 vLocal;
flat in vec4 vTint;
flat in vec4 vShape;
flat in vec4 vFlags;
flat in vec4 vHold;
out vec4 fragColor;

// Coverage of a line of half-width w at distance d, antialiased over about one pixel.
float line(float d, float w) {
    return clamp(w + 0.5 - abs(d), 0.0, 1.0);
}

// Premultiplied colour: puts colour c with coverage a over what is below.
void over(inout vec4 dst, vec3 c, float a) {
    dst = vec4(c * a, a) + dst * (1.0 - a);
}

vec4 shadeBurst(vec3 tint, float base, float age, float r) {
    float fade = (1.0 - age) * (1.0 - age);
    // The ring leaves the circle's place quickly and slows down, out to 1.45 x its radius.
    float ringRadius = base * (1.0 + 0.45 * sqrt(age));
    float ringDistance = abs(r - ringRadius);
    float reach = max(1.0 - ringDistance / 14.0, 0.0);
    vec4 c = vec4(0.0);
    over(c, tint, 0.5 * fade * reach * reach);
    over(c, mix(tint, vec3(1.0), 0.6), line(ringDistance, 0.8 + 3.5 * (1.0 - age)) * fade);
    // A white flash fills the circle's place in the first instants.
    float flash = (1.0 - smoothstep(0.0, 0.3, age)) * clamp(base - r, 0.0, 1.0);
    over(c, mix(tint, vec3(1.0), 0.7), flash * 0.75);
    return c;
}

// 1 where the pixel at p lies on the hold's arc: clockwise from the top up to the direction e.
float onArc(vec2 p, vec2 e, float pastHalf) {
    float rightHalf = step(0.0, p.x);
    float beforeEnd = step(p.x * e.y - p.y * e.x, 0.0); // e lies clockwise of p
    return mix(rightHalf * beforeEnd, max(rightHalf, beforeEnd), pastHalf);
}

vec4 shadeCircle(vec3 tint, float r) {
    float radius = vShape.x;
    float target = vShape.y;
    float approach = vShape.z;
    bool hold = vFlags.x > 0.5;
    bool held = vFlags.y > 0.5;
    float now = vFlags.z;
    float ringDistance = abs(r - target);

    vec4 c = vec4(0.0);
    // Glow around the target ring, stronger as the note comes close, gone 16 px away.
    float reach = max(1.0 - ringDistance / 16.0, 0.0);
    over(c, tint, (0.2 + 0.4 * approach * approach) * reach * reach);

    // The growing disc: dark glass in the stem's colour, so that the key letter reads on it.
    vec3 glass = tint * (0.16 + 0.1 * approach);
    if (hold) {
        // Drifting diagonal stripes: this one is held, not tapped.
        float stripe = step(0.5, fract((vLocal.x + vLocal.y) / 18.0 - now * 1.5));
        glass = mix(glass, tint * 0.42, stripe * 0.6);
    }
    if (held) {
        glass = mix(tint, vec3(1.0), 0.35 + 0.1 * cos(now * 18.0));
    }
    over(c, glass, clamp(radius - r + 0.5, 0.0, 1.0) * 0.82);
    // The disc's bright rim.
    over(c, mix(tint, vec3(1.0), 0.25 + 0.35 * approach), line(r - radius, 1.6));
    // The target ring itself: exactly the stem's colour, opaque at its core.
    over(c, tint, line(ringDistance, 1.75));

    if (hold) {
        // Outer track, and the arc of the hold's progress clockwise from the top.
        float track = line(r - (target + 13.0), 4.0);
        float filled = onArc(vLocal, vHold.xy, vHold.z) * vHold.w;
        over(c, tint * 0.35, track * 0.7);
        over(c, mix(tint, vec3(1.0), 0.55), track * filled);
    }
    return c;
}

void main() {
    float r = length(vLocal);
    vec4 c = vTint.a > 0.5 ? shadeBurst(vTint.rgb, vShape.x, vShape.y, r) : shadeCircle(vTint.rgb, r);
    if (vTint.a < 0.5 && vShape.w > 0.5) {
        c *= 0.3; // a ghost: a circle already judged, shown again as its span replays
    }
    // Back to straight alpha for the game's SRC_ALPHA, ONE_MINUS_SRC_ALPHA blending.
    fragColor = c.a > 0.0 ? vec4(c.rgb / c.a, c.a) : vec4(0.0);
}
