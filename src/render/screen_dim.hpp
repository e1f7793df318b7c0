#pragma once
// Darkens everything drawn so far in the frame by a constant fraction, in one pass without a
// texture: the menus dim the scene under them this way. A full-screen quad of the GUI's own costs
// a texture fetch per pixel, which software GL pays at full price over the whole screen.
// Main thread only (GL).

// Builds the program at the first call; true when it is there to draw with. A failure is logged
// once ("Failed to build the screen dimming program; ...") and not retried until released.
bool prepareScreenDim();

// Draws black of opacity `alpha` (0..1) over the whole viewport with the blending in force (the
// GUI's: source alpha over). Leaves its program, its vertex array and a disabled scissor test
// behind: the caller puts its own state back. Nothing without a prepared program.
void drawScreenDim(float alpha);

// Deletes the program and vertex array (before the GL context goes). The next draw builds them
// again.
void releaseScreenDim();
