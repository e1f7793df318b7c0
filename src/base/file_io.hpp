#pragma once
// Whole-file reading and crash-safe replacement, for the small JSON files the game keeps (the
// leaderboard, the preferences). Plain POSIX calls, usable from any thread, also after SDL has
// shut down. No locking: callers that share a file serialise their own access.
#include <string>

// The whole content of the file at `path` in `text`. False when it cannot be opened or read (a
// missing file, a folder, an I/O error); an empty file is read as an empty text.
bool readWholeFile(const std::string& path, std::string& text);

// Replaces the file at `path` with `text` so that a crash at any moment leaves either the old
// file or the new one, never a torn one: the text goes to a fresh temporary file in the same
// folder, which is flushed to disk and renamed over `path` (keeping the old file's permissions).
// False, with the reason in `error`, when it could not be done; the old file is then untouched.
bool replaceFileAtomically(const std::string& path, const std::string& text, std::string& error);

// Whether `path` names a regular file (links followed). Any thread.
bool isRegularFile(const std::string& path);

// The C library's text for an errno value, safe to call from any thread.
std::string fileErrorText(int error);
