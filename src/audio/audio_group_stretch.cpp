// Voice groups played below their native speed: the group's voices are mixed at native speed into
// one buffer, which a TimeStretch slows down without changing its pitch, and the stretched mix is
// added to the output. The group's clock then follows the stretcher's output rather than the
// voices' own positions, which run ahead of what is heard by the stretcher's buffer.
// Everything here but setGroupSpeed runs under the engine's spin lock.
#include "audio/audio_engine.hpp"
#include "audio/audio_stream.hpp"
#include "audio/audio_stream_feeder.hpp"
#include "audio/time_stretch.hpp"

#include <algorithm>
#include <cmath>

namespace {

// Feeds per output block at most: a block of kMixBlockFrames needs about speed × that many source
// frames, but a stretcher that has just been cleared needs its first sequence and seek window
// (some 2500 frames) before it gives out anything. The bound only guards against a stretcher that
// gives nothing at all; what it has not produced plays as silence.
constexpr unsigned kMaxFeedsPerBlock = 64;

} // namespace

AudioResult AudioEngine::setGroupSpeed(AudioHandle handle, double speed) {
    if (!std::isfinite(speed) || speed < 0.5 || speed > 1.0) {
        return AudioResult::InvalidParameter;
    }
    std::unique_ptr<TimeStretch> fresh;
    if (speed < 1.0) {
        // Made and primed here, outside the lock: it allocates.
        fresh = std::make_unique<TimeStretch>();
        fresh->setSpeed(speed);
    }
    {
        std::lock_guard<SpinLock> guard(lock_);
        Group* group = findGroup(handle);
        if (!group) {
            return AudioResult::InvalidParameter;
        }
        if (group->speed == speed) {
            return AudioResult::Ok;
        }
        const int index = int(group - groups_);
        // Go on from what is being heard: the old stretcher's buffered sound is mixed again, by the
        // new one or at native speed, rather than skipped.
        const Voice* first = firstVoice(handle);
        const std::uint64_t played = first ? first->playedFrames : 0;
        std::uint64_t frame = played;
        if (group->speed < 1.0 && first && first->stretchGroup == index) {
            frame = std::min(played, static_cast<std::uint64_t>(
                                         std::llround(std::max(0.0, stretchers_[index]->sourcePosition()))));
        }
        for (unsigned i = 0; i < group->count; ++i) {
            Voice* voice = findVoice(group->members[i]);
            if (!voice) {
                continue;
            }
            if (voice->playedFrames >= played - frame && frame != played) {
                moveVoiceBack(*voice, played - frame);
            }
            voice->stretchGroup = speed < 1.0 ? index : -1;
        }
        if (fresh) {
            fresh->clear(frame);
        }
        group->speed = speed;
        std::swap(stretchers_[index], fresh);
    }
    // The old stretcher, if any, is freed here, outside the lock; streamed voices that went back
    // wait for their rings to hold the frames from there.
    streamFeederWake();
    return AudioResult::Ok;
}

double AudioEngine::getGroupSpeed(AudioHandle handle) const {
    std::lock_guard<SpinLock> guard(lock_);
    const Group* group = findGroup(handle);
    return group ? group->speed : 1.0;
}

double AudioEngine::mixedSeconds(const Voice& voice, double* speed) const {
    if (voice.stretchGroup >= 0) {
        const Group& group = groups_[voice.stretchGroup];
        if (group.speed < 1.0 && stretchers_[voice.stretchGroup]) {
            if (speed) {
                *speed = group.speed;
            }
            return stretchers_[voice.stretchGroup]->sourcePosition() / kEngineSampleRate;
        }
    }
    if (speed) {
        *speed = 1.0;
    }
    return (double(voice.playedFrames) + voice.fraction) / kEngineSampleRate;
}

void AudioEngine::clearStretch(AudioHandle handle, std::uint64_t frame) {
    int index = -1;
    if (const Group* group = findGroup(handle)) {
        index = int(group - groups_);
    } else if (const Voice* voice = findVoice(handle)) {
        index = voice->stretchGroup;
    }
    if (index >= 0 && stretchers_[index]) {
        stretchers_[index]->clear(frame);
    }
}

void AudioEngine::mixStretchedGroups(float* out, unsigned frames) {
    for (unsigned g = 0; g < kMaxVoiceGroups; ++g) {
        Group& group = groups_[g];
        TimeStretch* stretch = stretchers_[g].get();
        if (group.handle == 0 || group.speed >= 1.0 || !stretch || group.count == 0) {
            continue;
        }
        // Mixing may end a voice, which takes it out of the group's array: walk a copy.
        AudioHandle members[kMaxVoices];
        const unsigned count = group.count;
        std::copy(group.members, group.members + count, members);
        bool running = false;
        for (unsigned i = 0; i < count && !running; ++i) {
            const Voice* voice = findVoice(members[i]);
            running = voice && voice->stretchGroup == int(g) && !voice->paused;
        }
        if (!running) {
            continue; // paused: the stretcher keeps what it holds for the resume
        }
        for (unsigned feeds = 0; stretch->ready() < frames && feeds < kMaxFeedsPerBlock; ++feeds) {
            // A stream of the group without the feed's frames holds the whole group where it stands:
            // the stretcher gives out what it has, and silence after it.
            holdStarvedStreams(TimeStretch::kFeedFrames);
            bool starved = false;
            for (unsigned i = 0; i < count && !starved; ++i) {
                const Voice* voice = findVoice(members[i]);
                starved = voice && voice->stretchGroup == int(g) && voice->held;
            }
            if (starved) {
                break;
            }
            float* in = stretch->input();
            std::fill(in, in + TimeStretch::kFeedFrames * 2, 0.0f);
            for (unsigned i = 0; i < count; ++i) {
                Voice* voice = findVoice(members[i]);
                if (voice && voice->stretchGroup == int(g) && !voice->paused) {
                    mixVoice(*voice, in, TimeStretch::kFeedFrames);
                }
            }
            stretch->feed(TimeStretch::kFeedFrames);
        }
        stretch->addTo(out, frames);
    }
}

void AudioEngine::moveVoiceBack(Voice& voice, std::uint64_t frames) {
    voice.playedFrames -= frames;
    voice.position = voice.loopFrames > 0 ? voice.playedFrames % voice.loopFrames : 0;
    voice.fraction = 0.0;
    if (voice.stream && frames > 0) {
        // What the ring holds lies ahead of the new position: it refills from there.
        voice.stream->requestSeek(voice.playedFrames);
        voice.sounded = false;
    }
}

void AudioEngine::rewindStretchedGroups(std::uint64_t nowNs) {
    for (unsigned g = 0; g < kMaxVoiceGroups; ++g) {
        Group& group = groups_[g];
        if (group.handle == 0 || group.speed >= 1.0 || !stretchers_[g] || group.count == 0) {
            continue;
        }
        const Voice* first = findVoice(group.members[0]);
        if (!first || first->stretchGroup != int(g)) {
            continue;
        }
        // Back to where the song clock stopped (the clock read last), or where the reports put the
        // sound: what the stretcher and the device still held was never heard.
        const double heard = first->heard.started
                                 ? first->heard.seconds
                                 : heardPosition(first->reportedSeconds, reportAtSpeed(report_, group.speed),
                                                 nowNs, !first->paused);
        const std::uint64_t played = first->playedFrames;
        const std::uint64_t frame = std::min(
            played, static_cast<std::uint64_t>(std::llround(std::max(0.0, heard) * kEngineSampleRate)));
        for (unsigned i = 0; i < group.count; ++i) {
            Voice* voice = findVoice(group.members[i]);
            if (!voice || voice->stretchGroup != int(g) || voice->playedFrames < played - frame) {
                continue;
            }
            moveVoiceBack(*voice, played - frame);
            voice->reportedSeconds = double(voice->playedFrames) / kEngineSampleRate;
        }
        stretchers_[g]->clear(frame);
    }
}
