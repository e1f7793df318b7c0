// The engine's mixing loop: what the SDL audio callback (or a caller of mix() on the null driver)
// runs to turn the playing voices into output frames. Voices, groups and the device are set up in
// audio_engine.cpp; this file only reads their settings and advances their positions, under the
// engine's spin lock, one block at a time.
#include "audio/audio_engine.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <cmath>

namespace {

// The mix is limited, not clipped: it passes untouched up to the knee, then bends (same value and
// slope at the knee) towards ±1, which it approaches without reaching. Louder stays louder, so
// eight stems at full level sound loud rather than square. Not-a-number comes out as silence.
constexpr float kLimiterKnee = 0.8f;

float softLimit(float x) {
    const float magnitude = std::fabs(x);
    if (magnitude <= kLimiterKnee) {
        return x;
    }
    if (std::isnan(x)) {
        return 0.0f;
    }
    const float over = (magnitude - kLimiterKnee) / (1.0f - kLimiterKnee); // infinity stays infinite
    // Far past the knee (an infinity, a sample of 1e30) the bend rounds to exactly 1 in floats: keep
    // it below, as promised.
    constexpr float kBelowOne = 0.99999994f; // the largest float under 1
    return std::copysign(std::min(1.0f - (1.0f - kLimiterKnee) / (1.0f + over), kBelowOne), x);
}

// Left and right gains for a volume and pan: unity on both sides at the centre, the far side
// turned down linearly as the pan moves away from it, so a centred stereo stem plays as recorded.
void panGains(float volume, float pan, float& left, float& right) {
    left = volume * (pan > 0.0f ? 1.0f - pan : 1.0f);
    right = volume * (pan < 0.0f ? 1.0f + pan : 1.0f);
}

} // namespace

// ---- Mixing ----

void AudioEngine::mix(float* out, unsigned frames) {
    while (frames > 0) {
        unsigned block = std::min(frames, kMixBlockFrames);
        if (pulled_) {
            waitForStreams(block);
        }
        {
            std::lock_guard<SpinLock> guard(lock_);
            mixBlock(out, block);
        }
        out += size_t(block) * 2;
        frames -= block;
    }
}

void AudioEngine::mixBlock(float* out, unsigned frames) {
    std::fill(out, out + size_t(frames) * 2, 0.0f);
    holdStarvedStreams(frames);
    for (Voice& voice : voices_) {
        if (voice.handle != 0 && !voice.paused && !voice.held && voice.stretchGroup < 0) {
            mixVoice(voice, out, frames);
        }
    }
    // Voices of a group below native speed come through the group's stretcher.
    mixStretchedGroups(out, frames);
    for (unsigned i = 0; i < frames * 2; ++i) {
        out[i] = softLimit(out[i]);
    }
}

void AudioEngine::mixVoice(Voice& voice, float* out, unsigned frames) {
    float targetLeft = 0.0f;
    float targetRight = 0.0f;
    panGains(voice.volume * globalVolume_, voice.pan, targetLeft, targetRight);
    if (!voice.gainsPrimed) {
        voice.gainLeft = targetLeft;
        voice.gainRight = targetRight;
        voice.gainsPrimed = true;
    }
    // Volume changes glide across the block instead of jumping (a jump clicks).
    float gainLeft = voice.gainLeft;
    float gainRight = voice.gainRight;
    const float stepLeft = (targetLeft - gainLeft) / float(frames);
    const float stepRight = (targetRight - gainRight) / float(frames);
    voice.gainLeft = targetLeft;
    voice.gainRight = targetRight;
    if (voice.firstSoundNs == 0) {
        voice.firstSoundNs = SDL_GetTicksNS();
    }
    if (voice.stream) {
        mixStreamFrames(voice, out, frames, gainLeft, gainRight, stepLeft, stepRight);
        return;
    }

    const float* samples = voice.samples;
    const uint32_t channels = voice.channels;
    const uint32_t rightOffset = channels == 2 ? 1 : 0; // mono plays on both sides

    if (voice.speed == 1.0 && voice.fraction == 0.0) {
        // Native speed: whole frames, so voices started together stay sample-locked forever.
        unsigned i = 0;
        while (i < frames) {
            uint64_t run = 0;
            if (voice.position < voice.frames) {
                run = std::min<uint64_t>(frames - i, voice.frames - voice.position);
                const float* src = samples + voice.position * channels;
                float* dst = out + size_t(i) * 2;
                for (uint64_t k = 0; k < run; ++k) {
                    gainLeft += stepLeft;
                    gainRight += stepRight;
                    dst[k * 2] += src[k * channels] * gainLeft;
                    dst[k * 2 + 1] += src[k * channels + rightOffset] * gainRight;
                }
            } else {
                // The padding after the samples: silence, with the gains still gliding.
                run = std::min<uint64_t>(frames - i, voice.loopFrames - voice.position);
                gainLeft += stepLeft * float(run);
                gainRight += stepRight * float(run);
            }
            i += unsigned(run);
            voice.position += run;
            voice.playedFrames += run;
            if (voice.position >= voice.loopFrames) {
                if (!voice.looping) {
                    endVoice(voice);
                    return;
                }
                voice.position = 0;
            }
        }
        return;
    }

    // Other speeds: linear interpolation between neighbouring frames (the padding reads as silence).
    for (unsigned i = 0; i < frames; ++i) {
        gainLeft += stepLeft;
        gainRight += stepRight;
        float left = 0.0f;
        float right = 0.0f;
        if (voice.position < voice.frames) {
            left = samples[voice.position * channels];
            right = samples[voice.position * channels + rightOffset];
        }
        uint64_t next = voice.position + 1;
        if (next >= voice.loopFrames && voice.looping) {
            next = 0;
        }
        float nextLeft = 0.0f;
        float nextRight = 0.0f;
        if (next < voice.frames) {
            nextLeft = samples[next * channels];
            nextRight = samples[next * channels + rightOffset];
        }
        float t = float(voice.fraction);
        out[i * 2] += (left + (nextLeft - left) * t) * gainLeft;
        out[i * 2 + 1] += (right + (nextRight - right) * t) * gainRight;
        voice.fraction += voice.speed;
        while (voice.fraction >= 1.0) {
            voice.fraction -= 1.0;
            ++voice.playedFrames;
            if (++voice.position >= voice.loopFrames) {
                if (!voice.looping) {
                    endVoice(voice);
                    return;
                }
                voice.position = 0;
            }
        }
    }
}

void AudioEngine::outputCallback(void* userdata, SDL_AudioStream* stream, int additionalBytes,
                                 int totalBytes) {
    (void)totalBytes;
    auto* engine = static_cast<AudioEngine*>(userdata);
    int frames = (additionalBytes + int(sizeof(float) * 2) - 1) / int(sizeof(float) * 2);
    // The device asked now: had it been waiting longer than its sound lasted, it ran dry.
    if (noteMixCallback(engine->underrunWatch_, SDL_GetTicksNS(), unsigned(std::max(frames, 0)),
                        unsigned(std::max(engine->deviceFrames_, 1)), kEngineSampleRate,
                        engine->deviceRate_.rate)) {
        engine->underruns_.fetch_add(1, std::memory_order_relaxed);
    }
    while (frames > 0) {
        unsigned block = std::min(unsigned(frames), kOutputChunkFrames);
        engine->mix(engine->outputBuffer_, block);
        SDL_PutAudioStreamData(stream, engine->outputBuffer_, int(block * sizeof(float) * 2));
        frames -= int(block);
    }
    // The clock: when this mix was done, where every voice stood, and how long until the last
    // frame queued reaches the ear (what the stream still holds, then one device period).
    const int queuedBytes = SDL_GetAudioStreamQueued(stream);
    const double queued = double(std::max(queuedBytes, 0)) / (sizeof(float) * 2) / kEngineSampleRate;
    engine->framesOut_ +=
        std::uint64_t((additionalBytes + int(sizeof(float) * 2) - 1) / int(sizeof(float) * 2));
    MixReport report;
    report.atNs = SDL_GetTicksNS();
    report.period = double(std::max(engine->deviceFrames_, 1)) / kEngineSampleRate;
    report.latency = report.period + queued;
    // What the device has taken so far: all that was handed over, less what still waits.
    report.rate = measureDeviceRate(engine->deviceRate_, report.atNs,
                                    double(engine->framesOut_) / kEngineSampleRate - queued);
    std::lock_guard<SpinLock> guard(engine->lock_);
    engine->report_ = report;
    for (Voice& voice : engine->voices_) {
        if (voice.handle != 0) {
            voice.reportedSeconds = engine->mixedSeconds(voice);
        }
    }
}
