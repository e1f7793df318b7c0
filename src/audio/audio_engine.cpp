#include "audio/audio_engine.hpp"

#include "audio/audio_stream.hpp"
#include "audio/audio_stream_feeder.hpp"
#include "audio/time_stretch.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>

namespace {

bool isGroupHandle(AudioHandle handle) { return (handle & kGroupHandleBit) != 0; }

} // namespace

// ---- Wav ----

Wav::~Wav() {
    if (engine_) {
        engine_->forgetSource(*this);
    }
}

AudioResult Wav::loadMem(const unsigned char* data, size_t size) {
    if (engine_) {
        engine_->stopSource(*this);
    }
    audio_ = DecodedAudio{};
    paddedFrames_ = 0;
    DecodedAudio decoded;
    AudioResult result = decodeAudio(data, size, decoded);
    if (result == AudioResult::Ok) {
        audio_ = std::move(decoded);
    }
    return result;
}

double Wav::getLength() const { return double(paddedFrameCount()) / kEngineSampleRate; }

void Wav::padTo(uint64_t frames) {
    if (engine_) {
        engine_->stopSource(*this);
    }
    paddedFrames_ = std::max(frames, audio_.frames);
}

// ---- Locking ----

void AudioEngine::SpinLock::lock() {
    unsigned spins = 0;
    while (flag_.exchange(true, std::memory_order_acquire)) {
        while (flag_.load(std::memory_order_relaxed)) {
            if (++spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            } else {
                // The holder was preempted: give it the core back rather than burn it.
                std::this_thread::yield();
            }
        }
    }
}

// ---- Start-up and shut-down ----

AudioEngine::AudioEngine() = default;

AudioEngine::~AudioEngine() { deinit(); }

AudioResult AudioEngine::init(AudioBackend backend, unsigned sampleRate, unsigned bufferSize,
                              unsigned channels) {
    if (initialized_) {
        return AudioResult::InvalidParameter;
    }
    // SDL starts its clock on the first SDL_GetTicksNS, setting up shared state as it does; the
    // mixer reads the clock (a voice's first sound), so it is started here, before any thread mixes.
    SDL_GetTicksNS();
    if ((sampleRate != 0 && sampleRate != kEngineSampleRate) || (channels != 0 && channels != 2)) {
        return AudioResult::InvalidParameter;
    }
    {
        std::lock_guard<SpinLock> guard(lock_);
        for (Voice& voice : voices_) {
            voice = Voice{};
        }
        for (Group& group : groups_) {
            group = Group{};
        }
        globalVolume_ = 1.0f;
        report_ = MixReport{};
        pulled_ = backend == AudioBackend::NullDriver;
    }
    underruns_.store(0, std::memory_order_relaxed);
    if (backend == AudioBackend::Auto) {
        if (!SDL_InitSubSystem(SDL_INIT_AUDIO)) {
            return AudioResult::BackendFailed;
        }
        sdlAudio_ = true;
        initialized_ = true;
        const AudioResult result = openStream(bufferSize);
        if (result != AudioResult::Ok) {
            deinit();
        }
        return result;
    }
    initialized_ = true;
    return AudioResult::Ok;
}

AudioResult AudioEngine::openStream(unsigned bufferSize) {
    if (bufferSize != 0) {
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_SAMPLE_FRAMES, std::to_string(bufferSize).c_str());
    } else {
        SDL_ResetHint(SDL_HINT_AUDIO_DEVICE_SAMPLE_FRAMES);
    }
    // The audio thread is not running: its own state starts afresh with the device.
    framesOut_ = 0;
    deviceRate_ = DeviceRate{};
    underrunWatch_ = UnderrunWatch{};
    deviceFrames_ = 0;
    SDL_AudioSpec spec{};
    spec.format = SDL_AUDIO_F32;
    spec.channels = 2;
    spec.freq = int(kEngineSampleRate);
    stream_ = SDL_OpenAudioDeviceStream(SDL_AUDIO_DEVICE_DEFAULT_PLAYBACK, &spec,
                                        &AudioEngine::outputCallback, this);
    if (!stream_) {
        return AudioResult::BackendFailed;
    }
    SDL_AudioSpec deviceSpec{};
    int frames = 0;
    if (SDL_GetAudioDeviceFormat(SDL_GetAudioStreamDevice(stream_), &deviceSpec, &frames)) {
        deviceFrames_ = frames;
    }
    {
        std::lock_guard<SpinLock> guard(lock_);
        deviceOpen_ = true;
    }
    // The device opens paused; from here on the audio thread mixes.
    if (!SDL_ResumeAudioStreamDevice(stream_)) {
        {
            std::lock_guard<SpinLock> guard(lock_);
            deviceOpen_ = false;
        }
        SDL_DestroyAudioStream(stream_);
        stream_ = nullptr;
        deviceFrames_ = 0;
        return AudioResult::BackendFailed;
    }
    return AudioResult::Ok;
}

void AudioEngine::closeDevice() {
    if (!stream_) {
        return;
    }
    {
        // The clocks stop here: closing can take a period or more, and nothing is heard after it.
        std::lock_guard<SpinLock> guard(lock_);
        deviceOpen_ = false;
    }
    // Returns once the audio thread has left the callback; none comes after it.
    SDL_DestroyAudioStream(stream_);
    stream_ = nullptr;
    deviceFrames_ = 0;
    const std::uint64_t now = SDL_GetTicksNS();
    std::lock_guard<SpinLock> guard(lock_);
    // Every playing voice goes back by the same time, so that they stay sample-locked. A paused
    // voice mixed nothing of what was lost and stays. A stretched group's voices go back to where
    // its own clock stopped, in source time, and its stretcher starts afresh there.
    const double unheard = unheardSeconds(now);
    rewindStretchedGroups(now);
    for (Voice& voice : voices_) {
        if (voice.handle == 0) {
            continue;
        }
        if (!voice.paused && voice.stretchGroup < 0) {
            const std::uint64_t back = std::min(
                static_cast<std::uint64_t>(std::llround(unheard * kEngineSampleRate)), voice.playedFrames);
            voice.playedFrames -= back;
            // The position runs with the frames played, wrapping at each loop.
            voice.position = voice.loopFrames > 0 ? voice.playedFrames % voice.loopFrames : 0;
            voice.reportedSeconds = (double(voice.playedFrames) + voice.fraction) / kEngineSampleRate;
            if (voice.stream && back > 0) {
                voice.stream->requestSeek(voice.playedFrames);
                voice.sounded = false;
            }
        }
        voice.heard.holding = true;
    }
    // No report until the new device calls back: the clocks hold (see getStreamTime).
    report_ = MixReport{};
}

// Seconds of mixed sound the closed device never played at `nowNs`, the same for every playing
// voice. Where a voice's clock has been read, the sound goes on exactly where the game's clock
// stopped (the clock read last); the reports' estimate is the fallback and, with
// kClockResyncSeconds more, the limit (a clock that far behind is catching up after a stall, and
// what lies between was heard).
double AudioEngine::unheardSeconds(std::uint64_t nowNs) const {
    if (report_.atNs == 0) {
        return 0.0; // nothing was mixed for the device
    }
    double estimate = -1.0;
    for (const Voice& voice : voices_) {
        if (voice.handle != 0 && !voice.paused && voice.stretchGroup < 0) {
            estimate = voice.reportedSeconds - heardPosition(voice.reportedSeconds, report_, nowNs, true);
            break;
        }
    }
    if (estimate < 0.0) {
        return 0.0;
    }
    const Voice* read = nullptr; // the voice whose clock was read last
    for (const Voice& voice : voices_) {
        if (voice.handle != 0 && !voice.paused && voice.stretchGroup < 0 && voice.heard.started &&
            (!read || voice.heard.atNs > read->heard.atNs)) {
            read = &voice;
        }
    }
    if (!read) {
        return estimate;
    }
    return std::clamp(read->reportedSeconds - read->heard.seconds, 0.0, estimate + kClockResyncSeconds);
}

AudioResult AudioEngine::openDevice(unsigned bufferSize) {
    if (!initialized_ || pulled_ || stream_) {
        return AudioResult::InvalidParameter;
    }
    return openStream(bufferSize);
}

AudioResult AudioEngine::reopenDevice(unsigned bufferSize) {
    if (!initialized_ || pulled_) {
        return AudioResult::InvalidParameter;
    }
    closeDevice();
    return openStream(bufferSize);
}

void AudioEngine::deinit() {
    if (stream_) {
        // Closes the device; returns once the audio thread has left the callback.
        SDL_DestroyAudioStream(stream_);
        stream_ = nullptr;
    }
    if (sdlAudio_) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        sdlAudio_ = false;
    }
    {
        std::lock_guard<SpinLock> guard(lock_);
        for (Voice& voice : voices_) {
            voice = Voice{};
        }
        for (Group& group : groups_) {
            group = Group{};
        }
    }
    {
        std::lock_guard<std::mutex> guard(sourcesMutex_);
        for (Wav* source : sources_) {
            source->engine_ = nullptr;
        }
        sources_.clear();
        for (AudioStream* stream : streams_) {
            stream->engine_ = nullptr;
        }
        streams_.clear();
    }
    {
        std::lock_guard<SpinLock> guard(lock_);
        report_ = MixReport{};
        deviceOpen_ = false;
    }
    // No group uses a stretcher any more (the groups were forgotten above): free them unlocked.
    for (std::unique_ptr<TimeStretch>& stretch : stretchers_) {
        stretch.reset();
    }
    deviceFrames_ = 0;
    initialized_ = false;
}

// ---- Lookup (lock held) ----

AudioEngine::Voice* AudioEngine::findVoice(AudioHandle handle) {
    if (handle == 0 || isGroupHandle(handle)) {
        return nullptr;
    }
    for (Voice& voice : voices_) {
        if (voice.handle == handle) {
            return &voice;
        }
    }
    return nullptr;
}

const AudioEngine::Voice* AudioEngine::findVoice(AudioHandle handle) const {
    return const_cast<AudioEngine*>(this)->findVoice(handle);
}

AudioEngine::Group* AudioEngine::findGroup(AudioHandle handle) {
    if (!isGroupHandle(handle)) {
        return nullptr;
    }
    for (Group& group : groups_) {
        if (group.handle == handle) {
            return &group;
        }
    }
    return nullptr;
}

const AudioEngine::Group* AudioEngine::findGroup(AudioHandle handle) const {
    return const_cast<AudioEngine*>(this)->findGroup(handle);
}

const AudioEngine::Voice* AudioEngine::firstVoice(AudioHandle handle) const {
    if (const Group* group = findGroup(handle)) {
        // Ended voices leave their groups at once, so the first member is the first voice
        // still playing.
        return group->count > 0 ? findVoice(group->members[0]) : nullptr;
    }
    return findVoice(handle);
}

// Frees the voice's slot and takes it out of every group; its handle is dead from here on.
void AudioEngine::endVoice(Voice& voice) {
    AudioHandle handle = voice.handle;
    voice = Voice{};
    for (Group& group : groups_) {
        unsigned kept = 0;
        for (unsigned i = 0; i < group.count; ++i) {
            if (group.members[i] != handle) {
                group.members[kept++] = group.members[i];
            }
        }
        group.count = kept;
    }
}

// ---- Voices ----

AudioHandle AudioEngine::play(Wav& source, float volume, float pan, bool paused) {
    if (!initialized_ || !source.samples() || source.frameCount() == 0) {
        return 0;
    }
    if (source.engine_ != this) {
        if (source.engine_) {
            source.engine_->forgetSource(source);
        }
        std::lock_guard<std::mutex> guard(sourcesMutex_);
        sources_.push_back(&source);
        source.engine_ = this;
    }
    std::lock_guard<SpinLock> guard(lock_);
    for (Voice& voice : voices_) {
        if (voice.handle != 0) {
            continue;
        }
        voice = Voice{};
        voice.handle = nextVoiceHandle_;
        // Voice handles count up through the 31-bit range (about two billion starts) before any
        // value comes back.
        nextVoiceHandle_ = (nextVoiceHandle_ + 1) & ~kGroupHandleBit;
        if (nextVoiceHandle_ == 0) {
            nextVoiceHandle_ = 1;
        }
        voice.source = &source;
        voice.samples = source.samples();
        voice.frames = source.frameCount();
        voice.loopFrames = source.paddedFrameCount();
        voice.channels = source.channelCount();
        voice.looping = source.getLooping();
        voice.paused = paused;
        voice.volume = std::isfinite(volume) ? std::max(volume, 0.0f) : 0.0f;
        voice.pan = std::isfinite(pan) ? std::clamp(pan, -1.0f, 1.0f) : 0.0f;
        // Its clock waits for its first frame to reach the ear rather than run ahead of it.
        voice.heard.holding = true;
        return voice.handle;
    }
    return 0;
}

AudioHandle AudioEngine::play(AudioStream& source, float volume, float pan, bool paused) {
    if (!initialized_ || source.frameCount() == 0 || source.channelCount() == 0) {
        return 0;
    }
    if (source.engine_ != this) {
        if (source.engine_) {
            source.engine_->forgetStream(source);
        }
        std::lock_guard<std::mutex> guard(sourcesMutex_);
        streams_.push_back(&source);
        source.engine_ = this;
    }
    AudioHandle handle = 0;
    {
        std::lock_guard<SpinLock> guard(lock_);
        for (Voice& voice : voices_) {
            if (voice.handle != 0 && voice.stream == &source) {
                endVoice(voice); // one voice a stream: the ring has one read position
            }
        }
        for (Voice& voice : voices_) {
            if (voice.handle != 0) {
                continue;
            }
            voice = Voice{};
            voice.handle = nextVoiceHandle_;
            nextVoiceHandle_ = (nextVoiceHandle_ + 1) & ~kGroupHandleBit;
            if (nextVoiceHandle_ == 0) {
                nextVoiceHandle_ = 1;
            }
            voice.stream = &source;
            voice.frames = source.frameCount();
            voice.loopFrames = source.paddedFrameCount();
            voice.channels = source.channelCount();
            voice.looping = source.getLooping();
            voice.paused = paused;
            voice.volume = std::isfinite(volume) ? std::max(volume, 0.0f) : 0.0f;
            voice.pan = std::isfinite(pan) ? std::clamp(pan, -1.0f, 1.0f) : 0.0f;
            voice.heard.holding = true;
            // The stream may hold frames from another position (a voice before this one): from the
            // start, unless what it holds already starts there.
            if (source.readable(0) == 0 || source.readAbs_.load(std::memory_order_relaxed) != 0) {
                source.requestSeek(0);
            }
            source.played_.store(true, std::memory_order_release);
            handle = voice.handle;
            break;
        }
    }
    if (source.fedByThread()) {
        streamFeederWake();
    }
    return handle;
}

std::uint64_t AudioEngine::firstSoundNs(AudioHandle handle) const {
    std::lock_guard<SpinLock> guard(lock_);
    const Voice* voice = firstVoice(handle);
    return voice ? voice->firstSoundNs : 0;
}

void AudioEngine::stopStream(const AudioStream& stream) {
    std::lock_guard<SpinLock> guard(lock_);
    for (Voice& voice : voices_) {
        if (voice.handle != 0 && voice.stream == &stream) {
            endVoice(voice);
        }
    }
}

void AudioEngine::forgetStream(AudioStream& stream) {
    stopStream(stream);
    std::lock_guard<std::mutex> guard(sourcesMutex_);
    streams_.erase(std::remove(streams_.begin(), streams_.end(), &stream), streams_.end());
    stream.engine_ = nullptr;
}

void AudioEngine::stop(AudioHandle handle) {
    std::lock_guard<SpinLock> guard(lock_);
    if (findGroup(handle)) {
        clearStretch(handle, 0); // nothing it holds belongs to the voices that come next
    }
    forEachVoice(handle, [this](Voice& voice) { endVoice(voice); });
}

void AudioEngine::stopAll() {
    std::lock_guard<SpinLock> guard(lock_);
    for (Voice& voice : voices_) {
        voice = Voice{};
    }
    for (Group& group : groups_) {
        group.count = 0;
        clearStretch(group.handle, 0);
    }
}

void AudioEngine::stopSource(const Wav& source) {
    std::lock_guard<SpinLock> guard(lock_);
    for (Voice& voice : voices_) {
        if (voice.handle != 0 && voice.source == &source) {
            endVoice(voice);
        }
    }
}

void AudioEngine::forgetSource(Wav& source) {
    stopSource(source);
    std::lock_guard<std::mutex> guard(sourcesMutex_);
    sources_.erase(std::remove(sources_.begin(), sources_.end(), &source), sources_.end());
    source.engine_ = nullptr;
}

void AudioEngine::setGlobalVolume(float volume) {
    if (!std::isfinite(volume)) {
        return;
    }
    std::lock_guard<SpinLock> guard(lock_);
    globalVolume_ = std::max(volume, 0.0f);
}

float AudioEngine::getGlobalVolume() const {
    std::lock_guard<SpinLock> guard(lock_);
    return globalVolume_;
}

void AudioEngine::setVolume(AudioHandle handle, float volume) {
    if (!std::isfinite(volume)) {
        return;
    }
    volume = std::max(volume, 0.0f);
    std::lock_guard<SpinLock> guard(lock_);
    forEachVoice(handle, [volume](Voice& voice) { voice.volume = volume; });
}

float AudioEngine::getVolume(AudioHandle handle) const {
    std::lock_guard<SpinLock> guard(lock_);
    const Voice* voice = firstVoice(handle);
    return voice ? voice->volume : 0.0f;
}

void AudioEngine::setPause(AudioHandle handle, bool paused) {
    std::lock_guard<SpinLock> guard(lock_);
    forEachVoice(handle, [paused](Voice& voice) { voice.paused = paused; });
}

bool AudioEngine::getPause(AudioHandle handle) const {
    std::lock_guard<SpinLock> guard(lock_);
    const Voice* voice = firstVoice(handle);
    return voice && voice->paused;
}

bool AudioEngine::isValidVoiceHandle(AudioHandle handle) const {
    std::lock_guard<SpinLock> guard(lock_);
    return findVoice(handle) != nullptr;
}

double AudioEngine::getStreamTime(AudioHandle handle, std::uint64_t* atNs, double* rate) {
    const std::uint64_t now = SDL_GetTicksNS();
    if (atNs != nullptr) {
        *atNs = now;
    }
    double pace = 0.0;
    double value = 0.0;
    {
        std::lock_guard<SpinLock> guard(lock_);
        Voice* voice = const_cast<Voice*>(firstVoice(handle));
        if (!voice) {
            pace = 1.0;
        } else if (pulled_) {
            // No device: the caller pulls the mix, and the position is what has been mixed (for a
            // stretched group, what its stretcher has given out, in source time).
            value = mixedSeconds(*voice, &pace);
        } else if (!deviceOpen_ || report_.atNs == 0) {
            // A device that is closed, closing or has not called back yet plays nothing: the clock
            // stands where it is, holding until the new device's sound reaches the ear. A voice read
            // for the first time starts at what has been mixed: what was heard before the device
            // opened.
            const double mixed = mixedSeconds(*voice);
            value = voice->heard.started ? voice->heard.seconds
                                         : slewToward(voice->heard, mixed, now, false, 1.0);
        } else {
            // A stretched group's position is in source seconds: the device's latency and rate are
            // counted in them too (a second of the device carries `speed` seconds of the source).
            double speed = 1.0;
            mixedSeconds(*voice, &speed);
            const MixReport report = speed == 1.0 ? report_ : reportAtSpeed(report_, speed);
            const double heard = heardPosition(voice->reportedSeconds, report, now, !voice->paused);
            value = slewToward(voice->heard, heard, now, !voice->paused, report.rate);
            pace = voice->paused || voice->heard.holding ? 0.0 : report.rate;
        }
    }
    if (rate != nullptr) {
        *rate = pace;
    }
    return value;
}

MixReport AudioEngine::lastMixReport(AudioHandle voice, double* voiceSeconds) const {
    std::lock_guard<SpinLock> guard(lock_);
    if (voiceSeconds != nullptr) {
        const Voice* found = voice != 0 ? firstVoice(voice) : nullptr;
        *voiceSeconds = found != nullptr ? found->reportedSeconds : 0.0;
    }
    return report_;
}

unsigned AudioEngine::getActiveVoiceCount() const {
    std::lock_guard<SpinLock> guard(lock_);
    unsigned count = 0;
    for (const Voice& voice : voices_) {
        count += voice.handle != 0 ? 1 : 0;
    }
    return count;
}
