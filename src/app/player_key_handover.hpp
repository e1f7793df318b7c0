#pragma once
// The hand-over of leaderboard player keys from the network to prefs.json: an upload that claimed
// a name receives its key on a request thread and leaves it with the leaderboard client (under its
// lock); only the main thread writes prefs.json, at the start of the next frame.
#include <string>

// Stores every key received since the last call into the prefs file at `prefsPath`
// (savePlayerKey, for the server and name the upload was for). Returns how many were stored.
// Main thread, once per frame; needs no SDL.
int storeReceivedPlayerKeys(const std::string& prefsPath);
