// The engine's voice groups and what moves a whole group at once: creating and filling groups,
// and seeking every voice of one to the same frame. Voices, the device and the mix are in
// audio_engine.cpp and audio_mixer.cpp; everything here runs under the engine's spin lock.
#include "audio/audio_engine.hpp"

#include "audio/audio_stream.hpp"
#include "audio/audio_stream_feeder.hpp"

#include <SDL3/SDL.h>

#include <algorithm>

// ---- Groups ----

AudioHandle AudioEngine::createVoiceGroup() {
    if (!initialized_) {
        return 0;
    }
    std::lock_guard<SpinLock> guard(lock_);
    for (Group& group : groups_) {
        if (group.handle == 0) {
            group = Group{};
            group.handle = kGroupHandleBit | nextGroupHandle_;
            nextGroupHandle_ = (nextGroupHandle_ + 1) & ~kGroupHandleBit;
            if (nextGroupHandle_ == 0) {
                nextGroupHandle_ = 1;
            }
            return group.handle;
        }
    }
    return 0;
}

AudioResult AudioEngine::destroyVoiceGroup(AudioHandle handle) {
    std::lock_guard<SpinLock> guard(lock_);
    Group* group = findGroup(handle);
    if (!group) {
        return AudioResult::InvalidParameter;
    }
    // Its voices mix on their own again, at native speed; the stretcher stays for the slot's next
    // group, cleared, and is replaced when that one's speed is set.
    const int index = int(group - groups_);
    for (Voice& voice : voices_) {
        if (voice.stretchGroup == index) {
            voice.stretchGroup = -1;
        }
    }
    *group = Group{};
    return AudioResult::Ok;
}

bool AudioEngine::isVoiceGroup(AudioHandle handle) const {
    std::lock_guard<SpinLock> guard(lock_);
    return findGroup(handle) != nullptr;
}

AudioResult AudioEngine::addVoiceToGroup(AudioHandle groupHandle, AudioHandle voiceHandle) {
    std::lock_guard<SpinLock> guard(lock_);
    Group* group = findGroup(groupHandle);
    if (!group || !findVoice(voiceHandle)) {
        return AudioResult::InvalidParameter;
    }
    for (unsigned i = 0; i < group->count; ++i) {
        if (group->members[i] == voiceHandle) {
            return AudioResult::Ok;
        }
    }
    if (group->speed < 1.0) {
        Voice* voice = findVoice(voiceHandle);
        if (group->count == 0) {
            // A group emptied and filled again starts its stretched sound afresh from its new voice.
            clearStretch(groupHandle, voice->playedFrames);
        }
        voice->stretchGroup = int(group - groups_);
    }
    // A group can hold every voice slot, and ended voices leave it, so there is always room.
    group->members[group->count++] = voiceHandle;
    return AudioResult::Ok;
}

bool AudioEngine::isVoiceInGroup(AudioHandle groupHandle, AudioHandle voiceHandle) const {
    std::lock_guard<SpinLock> guard(lock_);
    const Group* group = findGroup(groupHandle);
    if (!group || voiceHandle == 0) {
        return false;
    }
    return std::find(group->members, group->members + group->count, voiceHandle) !=
           group->members + group->count;
}

unsigned AudioEngine::getVoiceGroupVoiceCount(AudioHandle groupHandle) const {
    std::lock_guard<SpinLock> guard(lock_);
    const Group* group = findGroup(groupHandle);
    return group ? group->count : 0;
}

// ---- Seeking ----

AudioResult AudioEngine::seek(AudioHandle handle, std::uint64_t frame) {
    const std::uint64_t now = SDL_GetTicksNS();
    const double seconds = double(frame) / kEngineSampleRate;
    bool streamed = false;
    std::unique_lock<SpinLock> guard(lock_);
    if (!findGroup(handle) && !findVoice(handle)) {
        return AudioResult::InvalidParameter;
    }
    // One lock hold: the mixer, which takes the lock once per block, sees every voice of the group
    // at its old frame or every voice at its new one, so they go on locked to the same sample.
    forEachVoice(handle, [this, frame, seconds, now, &streamed](Voice& voice) {
        if (frame >= voice.loopFrames && !voice.looping) {
            endVoice(voice); // past its end: where playing on would have ended it
            return;
        }
        voice.playedFrames = frame;
        voice.position = frame % voice.loopFrames;
        voice.fraction = 0.0;
        voice.reportedSeconds = seconds;
        // The one way back for the clock: it reads the new position from now on, standing there
        // until the sound from it reaches the ear (what the device holds is from before the seek).
        voice.heard = SlewedClock{};
        voice.heard.started = true;
        voice.heard.seconds = seconds;
        voice.heard.atNs = now;
        voice.heard.holding = true;
        if (voice.stream) {
            // The group waits, silent and in place, until every stream holds the new frames.
            voice.stream->requestSeek(frame);
            voice.sounded = false;
            streamed = true;
        }
    });
    // What a stretched group still holds is from before the seek.
    clearStretch(handle, frame);
    guard.unlock();
    if (streamed) {
        streamFeederWake();
    }
    return AudioResult::Ok;
}
