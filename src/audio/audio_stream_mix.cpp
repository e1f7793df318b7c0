// The mixer's side of streamed voices: reading a stream voice's frames from its ring, and holding a
// whole group while one of its streams lacks a block's frames, so that the stems stay sample-locked
// through a late decoder, a start or a seek. Runs under the engine's spin lock (audio thread, or the
// caller of mix() on the null driver), except waitForStreams, which takes it itself.
#include "audio/audio_engine.hpp"
#include "audio/audio_stream.hpp"
#include "audio/audio_stream_feeder.hpp"

#include <algorithm>
#include <chrono>

namespace {

// Frames a stream voice needs for a block: the block, or what is left of a stream that ends.
uint64_t framesWanted(uint64_t position, uint64_t loopFrames, bool looping, unsigned frames) {
    return looping ? frames : std::min<uint64_t>(frames, loopFrames - std::min(position, loopFrames));
}

} // namespace

void AudioEngine::holdStarvedStreams(unsigned frames) {
    bool anyStream = false;
    for (Voice& voice : voices_) {
        voice.held = false;
        anyStream = anyStream || (voice.handle != 0 && voice.stream);
    }
    if (!anyStream) {
        return;
    }
    bool counted = false;
    for (Voice& voice : voices_) {
        if (voice.handle == 0 || !voice.stream || voice.paused || voice.held) {
            continue;
        }
        const uint64_t wanted = framesWanted(voice.position, voice.loopFrames, voice.looping, frames);
        if (voice.stream->readable(voice.playedFrames) >= wanted) {
            continue;
        }
        // Every voice of every group this one is in waits with it: the group stays on one frame.
        voice.held = true;
        for (const Group& group : groups_) {
            if (group.handle == 0 || std::find(group.members, group.members + group.count, voice.handle) ==
                                         group.members + group.count) {
                continue;
            }
            for (unsigned i = 0; i < group.count; ++i) {
                if (Voice* member = findVoice(group.members[i])) {
                    member->held = true;
                }
            }
        }
        // Waiting for a start's or a seek's first frames is expected; once sounding, it is an underrun.
        if (voice.sounded && !voice.waitCounted) {
            voice.waitCounted = true;
            if (!counted) {
                underruns_.fetch_add(1, std::memory_order_relaxed);
                streamWaits_.fetch_add(1, std::memory_order_relaxed);
                counted = true;
            }
        }
    }
}

void AudioEngine::mixStreamFrames(Voice& voice, float* out, unsigned frames, float gainLeft, float gainRight,
                                  float stepLeft, float stepRight) {
    AudioStream& stream = *voice.stream;
    const uint32_t channels = voice.channels;
    const uint32_t rightOffset = channels == 2 ? 1 : 0; // mono plays on both sides
    voice.sounded = true;
    voice.waitCounted = false;
    unsigned i = 0;
    while (i < frames) {
        // The ring holds the padding's silence and the loop's head in order: only the ring's own
        // wrap and the end of a stream that does not loop break a run.
        uint64_t run = std::min<uint64_t>(frames - i, voice.loopFrames - voice.position);
        const float* src = stream.framesAt(voice.playedFrames, run);
        float* dst = out + size_t(i) * 2;
        for (uint64_t k = 0; k < run; ++k) {
            gainLeft += stepLeft;
            gainRight += stepRight;
            dst[k * 2] += src[k * channels] * gainLeft;
            dst[k * 2 + 1] += src[k * channels + rightOffset] * gainRight;
        }
        i += unsigned(run);
        voice.position += run;
        voice.playedFrames += run;
        stream.consumedTo(voice.playedFrames);
        if (voice.position >= voice.loopFrames) {
            if (!voice.looping) {
                endVoice(voice);
                return;
            }
            voice.position = 0;
        }
    }
}

bool AudioEngine::streamsReady(unsigned frames) const {
    // A stretched group may feed its stretcher several blocks' worth of source for one block out
    // (most after a seek, while it fills its first sequence): a caller that pulls waits for that.
    constexpr unsigned kStretchedPullFrames = 16384;
    for (const Voice& voice : voices_) {
        const unsigned wanted = voice.stretchGroup >= 0 ? std::max(frames, kStretchedPullFrames) : frames;
        if (voice.handle != 0 && voice.stream && !voice.paused && voice.stream->fedByThread() &&
            !voice.stream->stalled() &&
            voice.stream->readable(voice.playedFrames) <
                framesWanted(voice.position, voice.loopFrames, voice.looping, wanted)) {
            return false;
        }
    }
    return true;
}

void AudioEngine::waitForStreams(unsigned frames) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;) {
        {
            std::lock_guard<SpinLock> guard(lock_);
            if (streamsReady(frames)) {
                return;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline ||
            !streamFeederWaitForPass(std::chrono::milliseconds(100))) {
            return; // no decoding thread, or it cannot keep up: the block waits as on a device
        }
    }
}
