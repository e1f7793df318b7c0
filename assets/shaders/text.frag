#version 330 core
// The atlas's red channel is the glyph's coverage. Glyphs drawn larger than they were baked (key
// letters at 2.5x) would look soft with plain bilinear coverage, so the edge is re-sharpened to
// one screen pixel around the 50 % contour. At the baked size (one texel per pixel) the formula
// gives back the coverage itself.
uniform sampler2D uFontTexture;

in vec2 vTexCoord;
in vec4 vColor;
out vec4 fragColor;

void main() {
    float coverage = texture(uFontTexture, vTexCoord).r;
    float alpha = clamp((coverage - 0.5) / max(fwidth(coverage), 1e-4) + 0.5, 0.0, 1.0);
    fragColor = vec4(vColor.rgb, vColor.a * alpha);
}
