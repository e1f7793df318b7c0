#pragma once
// The stream decoding thread: one thread for every AudioStream opened with it, which keeps each
// stream's ring topped up ahead of the mixer (AudioStream::refill, a run of kStreamRefillFrames at
// a time, stream after stream, so that none waits behind another's long refill). It wakes when
// asked (a seek, a start) and otherwise every few milliseconds. It takes no lock but its own list's
// (never the engine's spin lock, never a game mutex). Started with the first stream, ended with
// the last.
#include <chrono>
#include <cstdint>

class AudioStream;

// Adds or removes a stream. Removing waits for a refill of it that is under way. Any thread but
// the decoding thread.
void streamFeederAdd(AudioStream& stream);
void streamFeederRemove(AudioStream& stream);

// Wakes the thread now (a seek or a start waits for its frames). Never blocks: any thread but the
// audio callback, which has no need to (the thread wakes on its own soon enough).
void streamFeederWake();

// Waits until the thread has gone once more over its streams, at most `timeout`; false at the
// timeout or without a thread. For callers that pull the mix themselves (the null driver), which
// wait for the decoder rather than mix silence. Never the audio callback.
bool streamFeederWaitForPass(std::chrono::milliseconds timeout);

// Processor time the decoding thread has used since the program started (seconds), for benchmarks.
double streamFeederCpuSeconds();
