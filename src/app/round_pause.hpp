#pragma once
// Pausing a round: Escape (or the window losing the focus, except under autoplay) holds the music
// and freezes the circles; the overlay offers Resume, Restart and Quit. Resume rewinds the song
// 2 seconds (not before the round's start), counts 3-2-1 over the frozen scene, and plays on; the
// rewound span is played again but nothing in it can be hit or missed again (the round goes on
// from where it was paused, and drops the inputs before it). A pause is part of the round's record.
// Main thread; each routine takes the game mutex for what it changes.
struct App;

// How far Resume rewinds, and how long its countdown lasts (seconds).
constexpr double kPauseRewindSeconds = 2.0;
constexpr float kResumeCountdownSeconds = 3.0f;

// True while a round is in play (a level playing, paused or not). Game mutex held.
bool roundInPlay(const App& app);

// Holds the round: the stems stand, the round stops at the song time it had reached. Nothing
// happens unless a round is in play and not already paused.
void pauseRound(App& app);

// Rewinds the song (kPauseRewindSeconds back from the pause, not before the round's start) and
// starts the countdown; inputs before the pause's song time will be dropped. Only while paused
// and not counting down already. Logs "Round resumes from S s".
void resumeRound(App& app);

// One frame of the pause: the countdown runs on by `dt` seconds of frame time, and at its end the
// song plays on. While the overlay is up, with VIBRELLE_UI_TRACE=1, logs "Round held at S s" (the
// song time the frames read) at each whole second of the pause, so that scripts can see it stand.
void pauseFrame(App& app, float dt);

// The frame's pause keys: Escape pauses a round in play and resumes a paused one (not during the
// countdown); a lost focus pauses (not under autoplay).
void handlePauseKeys(App& app);

// Restart from the overlay: the round is dropped (nothing is saved) and the level starts again
// from its beginning (a menu level through the loading notice).
void restartRound(App& app);

// Quit from the overlay: the round ends as the HUD's exit button ends it (saved, to the results).
void quitRound(App& app);
