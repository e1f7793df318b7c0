#pragma once
// The audio engine: sound sources decoded whole into memory (Wav) and an engine that plays them
// as voices, gathers voices into groups, mixes them in our own code and sends the mix to the
// default playback device through an SDL3 audio stream.
//
// Threads. The engine calls may come from any thread (the program uses the main thread and the
// game logic thread) while SDL's audio thread mixes. Every voice and group lives in fixed
// arrays inside the engine, guarded by one spinlock. Callers hold it only for a few hundred
// instructions (no allocation, no logging, no I/O under it); the mixer takes it once per block
// of kMixBlockFrames frames, so a change made under one lock hold (unpausing a whole group, say)
// lands on one and the same output sample for every voice it touches. The audio thread never
// allocates, logs, touches files or waits on a lock that is held across anything slow; at worst
// it spins while a caller finishes a scan of the fixed tables (or yields, if that caller was
// preempted while holding the lock).
//
// Wav objects are played and destroyed on the main thread; one that no engine has played yet may
// be loaded on any thread (the level loader decodes stems in parallel). A Wav knows the engine it
// was played on and stops its voices there before its samples go away; an engine that shuts down
// first forgets its sources, so either may be released first.
#include "audio/audio_decode.hpp"
#include "audio/heard_clock.hpp"
#include "audio/underrun_watch.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct SDL_AudioStream;
class AudioEngine;
class TimeStretch;
class AudioStream;

// A voice or voice group handle; 0 means none. Voice handles have the top bit clear, group
// handles have it set. Handles count up through the 31-bit range (two billion starts) before
// any value comes back, so a stopped voice's handle stays invalid.
using AudioHandle = uint32_t;
constexpr AudioHandle kGroupHandleBit = 0x80000000u; // set in group handles only

// ---- Sound source ----

// One sound decoded whole into memory: 32-bit float frames at kEngineSampleRate, mono or stereo.
// Not copyable or movable (voices and the engine refer to it by address): keep it behind a
// std::unique_ptr.
class Wav {
public:
    Wav() = default;
    ~Wav();
    Wav(const Wav&) = delete;
    Wav& operator=(const Wav&) = delete;

    // Decodes WAV, Ogg Vorbis, MP3 or FLAC bytes (the format is detected from the bytes). The
    // bytes are read during the call only; the caller keeps and frees them. Voices still playing
    // the previous sound are stopped first. Returns AudioResult::Ok, or the failure code with the
    // source left empty (FileLoadFailed for an unknown format or undecodable data).
    AudioResult loadMem(const unsigned char* data, size_t size);

    // Length of the decoded sound in seconds, padding included (0 when empty).
    double getLength() const;

    // Pads the sound with silence up to `frames` frames (a shorter length changes nothing): voices
    // play the silence after the samples and loop at the padded length, so that stems of unequal
    // length stay in step. Takes no memory. Voices already playing the sound are stopped. Main
    // thread; loadMem removes the padding.
    void padTo(uint64_t frames);

    // Whether voices started from now on loop at the end. Voices already playing keep theirs.
    void setLooping(bool looping) { looping_ = looping; }
    bool getLooping() const { return looping_; }

    // The decoded samples: frameCount() × channelCount() interleaved floats (null when empty).
    const float* samples() const { return audio_.samples.get(); }
    uint64_t frameCount() const { return audio_.frames; }
    uint32_t channelCount() const { return audio_.channels; }
    // Frames a voice plays before it loops or ends: frameCount() and the padding after it.
    uint64_t paddedFrameCount() const { return std::max(paddedFrames_, audio_.frames); }

private:
    friend class AudioEngine;
    DecodedAudio audio_;
    uint64_t paddedFrames_ = 0;
    bool looping_ = false;
    AudioEngine* engine_ = nullptr; // the engine it was last played on; main thread only
};

// ---- Engine ----

// Where the mix goes. NullDriver opens no device: the caller pulls the mix with mix().
enum class AudioBackend : unsigned { Auto = 0, NullDriver = 1 };

// Voice slots and groups the engine has room for.
constexpr unsigned kMaxVoices = 64;
constexpr unsigned kMaxVoiceGroups = 16;
// Frames mixed per lock hold.
constexpr unsigned kMixBlockFrames = 256;

class AudioEngine {
public:
    AudioEngine();
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Starts the engine. sampleRate 0 or 44100 (the only rate), channels 0 or 2, bufferSize 0 for
    // the device's default buffer or a number of sample frames to ask SDL for. With
    // AudioBackend::Auto, initialises SDL's audio subsystem and opens the default playback device
    // as an SDL audio stream (44100 Hz, stereo, 32-bit float); SDL_AUDIO_DRIVER picks the driver.
    // Returns Ok, InvalidParameter, or BackendFailed when SDL cannot open a device. Main thread.
    // The mix always goes through a soft limiter (untouched up to 0.8, then bent smoothly towards
    // ±1 without reaching it).
    AudioResult init(AudioBackend backend = AudioBackend::Auto, unsigned sampleRate = 0,
                     unsigned bufferSize = 0, unsigned channels = 2);

    // Closes the device (waiting for a running mix to end), stops every voice, forgets groups and
    // sources, and releases SDL's audio subsystem. Safe to call twice. Main thread.
    void deinit();

    // Closes the output device, keeping every voice, group, source and volume. The clocks
    // (getStreamTime) stop as the close begins. What the device still held never reaches the ear,
    // so every playing voice goes back by that much, to where the song clock stopped (the clock
    // read last; for voices never read, the position the reports put the sound at): openDevice
    // then plays on from there without a skip, and each clock stands still until the new device's
    // sound reaches the ear. Does nothing without an open device. Main thread.
    void closeDevice();

    // Opens the default playback device with a period of `bufferSize` frames (0: the device's
    // default) after closeDevice, or after an open that failed. Returns Ok, InvalidParameter
    // without a device to open (AudioBackend::NullDriver, before init, or one already open), or
    // BackendFailed, with SDL's reason in SDL_GetError(), when the device does not open: the
    // engine then plays nothing and its clocks stand still until an open succeeds. Main thread.
    AudioResult openDevice(unsigned bufferSize);

    // closeDevice, then openDevice: the same sound and clocks through a device of another period.
    AudioResult reopenDevice(unsigned bufferSize);

    bool isInitialized() const { return initialized_; }

    // Starts a voice of source at volume (≥ 0; 1 = unchanged), pan (-1 left .. 1 right) and,
    // when paused is true, held at its first frame until setPause(…, false). Returns the new
    // voice's handle, or 0 when the engine is not running, the source is empty or every voice
    // slot is in use.
    AudioHandle play(Wav& source, float volume = 1.0f, float pan = 0.0f, bool paused = false);
    // The same for a streamed source (audio_stream.hpp), played from its first frame at native speed.
    // A stream has one voice at a time: the one it had is stopped. The mixer reads every stream voice
    // of a group at the same frame; while one of them lacks the frames of a block (its decoder is
    // behind, or a start or seek is being decoded) the whole group plays silence for that block and
    // stays where it is, the song clock with it. Such a wait after the group has started sounding
    // counts as an underrun (underrunCount). Main thread (the stream's owner).
    AudioHandle play(AudioStream& source, float volume = 1.0f, float pan = 0.0f, bool paused = false);

    // The SDL tick (ns) of the first block a voice, or a group's first voice, sounded in since it
    // started (a voice that waits for its stream's first frames has not); 0 before, or for no voice.
    std::uint64_t firstSoundNs(AudioHandle handle) const;

    // Stops one voice, or every voice of a group.
    void stop(AudioHandle handle);
    // Stops every voice. Groups stay, emptied.
    void stopAll();

    // Gain applied to the whole mix (≥ 0).
    void setGlobalVolume(float volume);
    float getGlobalVolume() const;

    // Volume of a voice or of every voice of a group (≥ 0; non-finite values are ignored).
    // A change is ramped over one mix block so that it does not click.
    void setVolume(AudioHandle handle, float volume);
    // Volume of a voice, or of a group's first voice; 0 for an invalid handle.
    float getVolume(AudioHandle handle) const;

    // Pauses or resumes a voice, or every voice of a group at the same sample.
    void setPause(AudioHandle handle, bool paused);
    bool getPause(AudioHandle handle) const;

    // Whether handle names a voice that is still playing (or paused). False for 0, for groups,
    // and for voices that were stopped, replaced or have ended.
    bool isValidVoiceHandle(AudioHandle handle) const;

    // Seconds of the source a voice has played since it started, growing across loops without
    // ever wrapping. For a group: the time of its first voice still playing; 0 when none.
    // For a group played below speed 1 (setGroupSpeed), and its voices: the source position of the
    // stretched sound being heard, TimeStretch::sourcePosition() (the frames mixed, less what the
    // stretcher still holds, with its lead), and on a device less the output latency × the speed;
    // `rate` is then the speed × the device's rate (the speed without a device).
    // On a device, this is the position being heard at the moment of the call (see
    // heard_clock.hpp): smooth between callbacks, late by the output latency, never going back.
    // Without a device (NullDriver), the position mixed so far. `atNs`, when given, receives the
    // SDL tick (nanoseconds) the value belongs to; `rate` the pace the value moves on at from there,
    // in seconds per second of SDL's clock: 0 while it stands still (a paused voice, a clock
    // waiting for the sound to reach the ear, a device being reopened), else the device's rate (1
    // without a device).
    double getStreamTime(AudioHandle handle, std::uint64_t* atNs = nullptr, double* rate = nullptr);

    // What the last audio callback reported (atNs 0 before the first one, and without a device);
    // with `voice` and `voiceSeconds`, also where that voice (or group) stood when it was made.
    MixReport lastMixReport(AudioHandle voice = 0, double* voiceSeconds = nullptr) const;

    // Voice groups: a handle through which several voices are paused, resumed, stopped and
    // changed at once. createVoiceGroup returns 0 when every group slot is taken.
    AudioHandle createVoiceGroup();
    AudioResult destroyVoiceGroup(AudioHandle group); // the voices keep playing
    bool isVoiceGroup(AudioHandle group) const;
    AudioResult addVoiceToGroup(AudioHandle group, AudioHandle voice);
    bool isVoiceInGroup(AudioHandle group, AudioHandle voice) const;
    // Voices in the group that are still playing.
    unsigned getVoiceGroupVoiceCount(AudioHandle group) const;

    // Plays the group's voices at `speed` (0.5..1.0) of their native speed without changing their
    // pitch (see time_stretch.hpp). At 1 (the default) the group is not stretched at all: its voices
    // mix as any other, sample for sample. Below 1 the mixer mixes the group's voices at native speed
    // into one buffer, as many source frames as the stretcher needs, and adds the stretched mix to
    // the output: the cost is one stretcher however many voices there are. The voices' positions
    // keep counting source frames (they run ahead of what is heard by the stretcher's buffer).
    // A change goes on from the source position being heard, so nothing is skipped or played twice;
    // it is meant for a paused group (a running one hears a cross-fade-less join). Voices added to
    // the group later follow its speed; a voice follows one stretched group. Seeks, stop and
    // stopAll empty the stretcher. Ok, or InvalidParameter for a handle that names no group or a
    // speed outside 0.5..1.0. Main thread (it allocates the stretcher outside the lock).
    AudioResult setGroupSpeed(AudioHandle group, double speed);
    // The group's speed (1 for a handle that names no group).
    double getGroupSpeed(AudioHandle group) const;

    // Moves a voice, or every voice of a group, to source frame `frame` (at kEngineSampleRate),
    // counted from the voice's start with its loops as getStreamTime counts: the voices play on
    // from frame modulo their padded length, sample-exact and locked together (one lock hold, so
    // the mixer plays every voice's new frame on the same output sample). A voice that does not
    // loop, sought to or past its end, ends. Paused voices stay paused, volumes and pans stay.
    // The voices' clocks read the new position at once (the only way they go back); on a device
    // they stand there, as after play(), until the sound from the new position reaches the ear.
    // Ok, or InvalidParameter when the handle names no voice or group. Any thread.
    AudioResult seek(AudioHandle handle, std::uint64_t frame);

    // Voices playing or paused.
    unsigned getActiveVoiceCount() const;

    // Mixes the next frames frames into out (interleaved stereo, frames × 2 floats, each within
    // (-1, 1) after the limiter) and advances every voice. The output device's callback calls it; with
    // AudioBackend::NullDriver the caller does. Never allocates; takes the spinlock once per
    // block of kMixBlockFrames. With AudioBackend::NullDriver, a block whose streams lack frames
    // first waits (up to a second) for the stream decoding thread, so that a pulled mix sounds the
    // same however fast it is pulled; a stream stalled by its test hook is not waited for.
    void mix(float* out, unsigned frames);

    // The device's buffer size in sample frames as SDL reports it (0 without a device).
    int getBackendBufferFrames() const { return deviceFrames_; }

    // Callbacks that came so late that the device must have run dry (see underrun_watch.hpp),
    // since init, across reopens. Any thread.
    std::uint64_t underrunCount() const { return underruns_.load(std::memory_order_relaxed); }
    // Of those, the waits of a group for a stream's frames (a decoder that fell behind). Any thread.
    std::uint64_t streamWaitCount() const { return streamWaits_.load(std::memory_order_relaxed); }

private:
    friend class Wav;
    friend class AudioStream;

    struct Voice {
        AudioHandle handle = 0; // 0 = free slot
        const Wav* source = nullptr;
        AudioStream* stream = nullptr; // a streamed source instead (samples then null)
        bool held = false;             // this block: waits with its group for a stream's frames
        bool sounded = false;          // a block was mixed since it started or was last sought
        bool waitCounted = false;      // the wait under way was counted as an underrun
        std::uint64_t firstSoundNs = 0;
        const float* samples = nullptr;
        uint64_t frames = 0;     // frames of samples
        uint64_t loopFrames = 0; // frames played per pass: the samples, then silence
        uint32_t channels = 0;
        bool looping = false;
        bool paused = false;
        bool gainsPrimed = false; // the first block starts at the target gains, unramped
        int stretchGroup = -1;    // index of the stretched group that mixes it, or -1
        float volume = 1.0f;
        float pan = 0.0f;
        double speed = 1.0;
        uint64_t position = 0;     // next source frame
        double fraction = 0.0;     // position between frames when speed is not 1, [0, 1)
        uint64_t playedFrames = 0; // source frames passed since the start, loops included
        float gainLeft = 0.0f;     // gains reached at the end of the last block
        float gainRight = 0.0f;
        double reportedSeconds = 0.0; // position when the last callback finished mixing
        SlewedClock heard;            // the heard position given out last
    };
    struct Group {
        AudioHandle handle = 0; // 0 = free slot
        double speed = 1.0;     // below 1: stretched through stretchers_[its index]
        unsigned count = 0;
        AudioHandle members[kMaxVoices] = {};
    };

    // A test-and-set lock for the voice and group tables; see the header comment.
    class SpinLock {
    public:
        void lock();
        void unlock() { flag_.store(false, std::memory_order_release); }

    private:
        std::atomic<bool> flag_{false};
    };

    // Callers hold lock_ for all of these.
    Voice* findVoice(AudioHandle handle);
    const Voice* findVoice(AudioHandle handle) const;
    Group* findGroup(AudioHandle handle);
    const Group* findGroup(AudioHandle handle) const;
    template <typename Fn> void forEachVoice(AudioHandle handle, Fn fn);
    const Voice* firstVoice(AudioHandle handle) const;
    void endVoice(Voice& voice);
    void mixBlock(float* out, unsigned frames);
    void mixVoice(Voice& voice, float* out, unsigned frames);
    // Streamed voices (audio_stream_mix.cpp). holdStarvedStreams marks, before a block, every voice
    // of a group one of whose streams lacks the block's frames; mixStreamFrames mixes a stream
    // voice's frames with the gains mixVoice worked out; streamsReady tells a caller that pulls the
    // mix whether the block can be mixed without waiting.
    void holdStarvedStreams(unsigned frames);
    void mixStreamFrames(Voice& voice, float* out, unsigned frames, float gainLeft, float gainRight,
                         float stepLeft, float stepRight);
    bool streamsReady(unsigned frames) const;
    void waitForStreams(unsigned frames);
    double unheardSeconds(std::uint64_t nowNs) const;
    // Stretched groups (audio_group_stretch.cpp), lock held.
    void mixStretchedGroups(float* out, unsigned frames);
    double mixedSeconds(const Voice& voice, double* speed = nullptr) const;
    void clearStretch(AudioHandle handle, std::uint64_t frame);
    void rewindStretchedGroups(std::uint64_t nowNs);
    // Moves a voice `frames` back (a streamed one refills its ring from there).
    void moveVoiceBack(Voice& voice, std::uint64_t frames);

    // Opens and starts the output stream (main thread; the audio thread is not running).
    AudioResult openStream(unsigned bufferSize);

    // Wav calls these on the main thread.
    void stopSource(const Wav& source);
    void forgetSource(Wav& source);
    // And AudioStream these, on its owner's thread.
    void stopStream(const AudioStream& stream);
    void forgetStream(AudioStream& stream);

    static void outputCallback(void* userdata, SDL_AudioStream* stream, int additionalBytes, int totalBytes);

    mutable SpinLock lock_;
    Voice voices_[kMaxVoices];
    MixReport report_;
    // The audio thread's own (the callback's), not under the lock.
    std::uint64_t framesOut_ = 0; // frames handed to the device since it opened
    DeviceRate deviceRate_;
    UnderrunWatch underrunWatch_;
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<std::uint64_t> streamWaits_{0};
    bool pulled_ = false;     // AudioBackend::NullDriver: the caller pulls the mix; under the lock
    bool deviceOpen_ = false; // a device is open and not closing; under the lock
    Group groups_[kMaxVoiceGroups];
    // The stretcher of groups_[i] below speed 1; made and swapped in by setGroupSpeed (main thread),
    // used under the lock.
    std::unique_ptr<TimeStretch> stretchers_[kMaxVoiceGroups];
    float globalVolume_ = 1.0f;
    AudioHandle nextVoiceHandle_ = 1;
    AudioHandle nextGroupHandle_ = 1;

    std::mutex sourcesMutex_; // never taken by the audio thread
    std::vector<Wav*> sources_;
    std::vector<AudioStream*> streams_;

    bool initialized_ = false;
    bool sdlAudio_ = false; // SDL's audio subsystem is initialised for this engine
    SDL_AudioStream* stream_ = nullptr;
    int deviceFrames_ = 0;
    static constexpr unsigned kOutputChunkFrames = 1024;
    float outputBuffer_[kOutputChunkFrames * 2] = {}; // audio thread only
};

// Calls fn (lock held) on the voice, or on every voice of the group, that handle names. The group's members
// are walked from a copy: fn may end a voice, which takes it out of the group's array.
template <typename Fn> void AudioEngine::forEachVoice(AudioHandle handle, Fn fn) {
    if (Group* group = findGroup(handle)) {
        AudioHandle members[kMaxVoices];
        const unsigned count = group->count;
        std::copy(group->members, group->members + count, members);
        for (unsigned i = 0; i < count; ++i) {
            if (Voice* voice = findVoice(members[i])) {
                fn(*voice);
            }
        }
    } else if (Voice* voice = findVoice(handle)) {
        fn(*voice);
    }
}
