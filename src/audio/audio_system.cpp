#include "audio/audio_system.hpp"

#include "app/log.hpp"
#include "audio/asset_path.hpp"

#include <SDL3/SDL.h>

#include <cmath>
#include <sstream>

namespace {

// How close to 1 a fade's progress must come to count as finished (an inaudible 0.01 %).
constexpr float kFadeEndTolerance = 1e-4f;

void resetChartClock(MidiChart& chart) {
    chart.lastPosition = 0.0;
    chart.loopCount = 0;
    chart.lastClock = 0.0;
}

} // namespace

// The device's period and the latency the clock takes off, as the first callbacks report them (a
// device that has not called back within a quarter of a second is reported as it was opened).
static void logDeviceTiming(AudioEngine& engine) {
    const Uint64 deadline = SDL_GetTicksNS() + 250 * SDL_NS_PER_MS;
    MixReport report = engine.lastMixReport();
    // The stream fills over the first callbacks; the latency is read once it has settled.
    for (int seen = 0; seen < 3 && SDL_GetTicksNS() < deadline;) {
        const MixReport next = engine.lastMixReport();
        if (next.atNs != report.atNs) {
            report = next;
            ++seen;
        }
        SDL_Delay(1);
    }
    const int frames = engine.getBackendBufferFrames();
    const double period = double(frames) / kEngineSampleRate;
    const double latency = report.atNs != 0 ? report.latency : period;
    logMessage("Audio device: %d frames per period (%.1f ms), output latency %.1f ms", frames,
               period * 1000.0, latency * 1000.0);
}

bool audioInit(AudioSystem& audio, AudioBackend backend) {
    if (!audio.engine) {
        audio.engine = std::make_unique<AudioEngine>();
    }
    // A short device period keeps the mix close to the ear and the clock fine-grained.
    AudioResult result = audio.engine->init(kClipRoundoff, backend, 0, kDevicePeriodFrames, 2);
    if (result != AudioResult::Ok) {
        logError(stderr, "Failed to initialize miniaudio: Error code %u", static_cast<unsigned>(result));
        return false;
    }
    audio.voiceGroup = audio.engine->createVoiceGroup();
    if (audio.voiceGroup == 0) {
        logError(stderr, "Failed to create voice group");
        return false;
    }
    audio.playing = false;
    audio.looping = true;
    audio.masterVolume = 1.0f;
    audio.bpm = 120.0f;
    audio.speedFactor = 1.0f;
    audio.engine->setGlobalVolume(1.0f);
    logMessage("miniaudio audio system initialized successfully.");
    if (backend != AudioBackend::NullDriver) {
        logDeviceTiming(*audio.engine);
    }
    return true;
}

bool loadStem(AudioSystem& audio, const std::string& path) {
    std::string cleaned = cleanAssetPath(path);
    logMessage("Loading stem: %s", cleaned.c_str());

    SDL_PathInfo info;
    if (!SDL_GetPathInfo(cleaned.c_str(), &info)) {
        logError(stderr, "Error: File does not exist: %s", cleaned.c_str());
        return false;
    }
    size_t size = 0;
    void* bytes = SDL_LoadFile(cleaned.c_str(), &size);
    if (!bytes) {
        logError(stderr, "SDL_LoadFile failed for: %s, Error: %s)", cleaned.c_str(), SDL_GetError());
        return false;
    }
    if (size == 0) {
        logError(stderr, "File loaded via SDL is empty (0 bytes): %s", cleaned.c_str());
        SDL_free(bytes);
        return false;
    }
    auto source = std::make_unique<Wav>();
    AudioResult result = source->loadMem(static_cast<const unsigned char*>(bytes), size);
    // The samples are decoded; the file bytes are not needed any more.
    SDL_free(bytes);
    if (result != AudioResult::Ok) {
        logError(stderr, "Failed to load audio file: %s  (Error: %u)", cleaned.c_str(),
                 static_cast<unsigned>(result));
        return false;
    }
    source->setLooping(audio.looping);

    LoadedStem stem;
    stem.chart.audioLength = source->getLength();
    stem.source = std::move(source);
    stem.name = assetBaseName(cleaned);
    stem.index = static_cast<int>(audio.stems.size());
    audio.stems.push_back(std::move(stem));
    logMessage("Successfully loaded stem: %s", audio.stems.back().name.c_str());
    return true;
}

bool loadStemWithMidi(AudioSystem& audio, const std::string& audioPath, const std::string& midiPath) {
    if (!loadStem(audio, audioPath)) {
        return false;
    }
    return loadMidiChart(audio.stems.back().chart, midiPath);
}

void playAllStems(AudioSystem& audio) {
    logMessage("Playing all stems with voice group.");
    if (audio.stems.empty()) {
        logMessage("No stems to play.");
        return;
    }
    if (!audio.engine) {
        return; // audioInit never ran: nothing can play
    }
    AudioEngine& engine = *audio.engine;
    engine.stopAll();
    for (LoadedStem& stem : audio.stems) {
        resetChartClock(stem.chart);
        stem.voice = 0;
    }
    // Every voice starts paused and the group is released at once below, so that all stems
    // begin on the same output sample and stay locked however long they loop.
    bool allGrouped = true;
    for (LoadedStem& stem : audio.stems) {
        if (!stem.source) {
            continue;
        }
        stem.source->setLooping(audio.looping);
        stem.voice = engine.play(*stem.source, 0.0f, 0.0f, true);
        if (stem.voice == 0) {
            continue;
        }
        allGrouped = engine.addVoiceToGroup(audio.voiceGroup, stem.voice) == AudioResult::Ok && allGrouped;
        engine.setVolume(stem.voice, stem.active ? audio.masterVolume * stem.volume : 0.0f);
        engine.setRelativePlaySpeed(stem.voice, audio.speedFactor);
    }
    engine.setPause(audio.voiceGroup, false);
    if (!allGrouped) {
        // A voice the group could not take still has to play.
        for (LoadedStem& stem : audio.stems) {
            if (stem.voice != 0 && !engine.isVoiceInGroup(audio.voiceGroup, stem.voice)) {
                engine.setPause(stem.voice, false);
            }
        }
    }
    audio.playing = true;
    logMessage("Playback initiated for %zu stem(s) using voice group.", audio.stems.size());
}

void stopAllStems(AudioSystem& audio) {
    logMessage("Stopping all stems.");
    if (audio.engine) {
        audio.engine->stopAll();
    }
    for (LoadedStem& stem : audio.stems) {
        stem.voice = 0;
        resetChartClock(stem.chart);
    }
    audio.playing = false;
    logMessage("Playback stopped.");
}

void setBpm(AudioSystem& audio, float bpm) {
    audio.bpm = bpm;
    std::ostringstream line;
    if (std::fabs(1.0f - audio.speedFactor) <= 0.01f) {
        line << "BPM set to " << bpm << " (no playback speed change needed)";
        logMessage("%s", line.str().c_str());
        return;
    }
    audio.speedFactor = 1.0f;
    line << "Set BPM to " << bpm << " (native tempo, speed factor: " << audio.speedFactor << ")";
    logMessage("%s", line.str().c_str());
    if (audio.engine && audio.voiceGroup != 0 && audio.engine->isVoiceGroup(audio.voiceGroup)) {
        audio.engine->setRelativePlaySpeed(audio.voiceGroup, audio.speedFactor);
    }
}

void updateStemVolumes(AudioSystem& audio, float dt) {
    if (!std::isfinite(dt) || dt < 0.0f) {
        dt = 0.0f;
    }
    for (LoadedStem& stem : audio.stems) {
        if (stem.fading) {
            // A fade without a positive length would divide by zero (or run backwards): it
            // ends at once instead.
            if (stem.fadeDuration > 0.0f) {
                stem.fadeProgress += dt / stem.fadeDuration;
            } else {
                stem.fadeProgress = 1.0f;
            }
            // Float sums of frame times fall a hair short (60 × 1/60 is 0.99999976): a fade
            // within rounding of its end is complete, so a 1 s fade ends on the 60th 60 Hz frame.
            if (stem.fadeProgress >= 1.0f - kFadeEndTolerance) {
                stem.fadeProgress = 1.0f;
                stem.fading = false;
            }
            stem.volume = stem.fadeProgress;
        }
        if (stem.voice != 0 && audio.engine && audio.engine->isValidVoiceHandle(stem.voice)) {
            audio.engine->setVolume(stem.voice, stem.active ? audio.masterVolume * stem.volume : 0.0f);
        }
    }
}

void unloadAllStems(AudioSystem& audio) {
    for (LoadedStem& stem : audio.stems) {
        if (stem.voice != 0 && audio.engine) {
            audio.engine->stop(stem.voice);
        }
        stem.voice = 0;
        releaseMidiChart(stem.chart);
        stem.source.reset(); // also stops any voice still playing it
    }
    audio.stems.clear();
}

void retireStems(AudioSystem& audio, std::vector<LoadedStem>& retired) {
    for (LoadedStem& stem : audio.stems) {
        if (stem.voice != 0 && audio.engine) {
            audio.engine->stop(stem.voice);
        }
        stem.voice = 0;
        retired.push_back(std::move(stem));
    }
    audio.stems.clear();
}

void audioShutdown(AudioSystem& audio) {
    if (audio.engine) {
        audio.engine->stopAll();
    }
    if (audio.voiceGroup != 0) {
        if (audio.engine) {
            audio.engine->destroyVoiceGroup(audio.voiceGroup);
        }
        audio.voiceGroup = 0;
    }
    for (LoadedStem& stem : audio.stems) {
        releaseMidiChart(stem.chart);
        stem.name.clear();
        stem.source.reset();
    }
    audio.stems.clear();
    audio.playing = false;
    if (audio.engine) {
        audio.engine->deinit();
        audio.engine.reset();
    }
    logMessage("miniaudio audio system shut down.");
}
