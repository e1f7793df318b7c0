#pragma once
// Layer control of the stems: fade one in, cut one off, start a level with its first stem.
// The fade itself advances in updateStemVolumes (audio_system.hpp), once per frame.
//
// Threads: the main thread (start of playback, level selection, tutorial) and the game logic
// thread (layer progression) both call these; the caller serialises them with the main thread's
// updateStemVolumes.
#include "audio/audio_system.hpp"

// Makes stem index an active layer rising from silence to full layer volume over seconds
// (linear in volume). Does nothing for an index out of range or a stem already active (also
// while it is fading in). A length of 0 or less ends the fade on the next update.
void fadeInStem(AudioSystem& audio, int index, float seconds);

// Makes stem index inactive and silences its voice at once; also cuts off a running fade.
// Does nothing for an index out of range; logs even when the stem was already inactive.
void deactivateStem(AudioSystem& audio, int index);

// fadeInStem(0, 1.0) when there is at least one stem.
void activateFirstStem(AudioSystem& audio);
