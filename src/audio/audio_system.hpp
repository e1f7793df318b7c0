#pragma once
// The audio system: the engine, the voice group that holds every stem's voice, and the current
// level's stems with their layer state and MIDI charts.
//
// Threads: the main thread calls every routine here. The game logic thread reads `playing`,
// `looping`, `voiceGroup` and the stems, and calls the layer routines of stem_layering.hpp;
// the members carry no lock of their own, the caller serialises (see the logic thread). Engine
// calls are safe from any thread.
#include "audio/audio_engine.hpp"
#include "audio/audio_stream.hpp"
#include "audio/device_period.hpp"
#include "audio/midi_chart.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One loaded stem. Movable (stems live in a std::vector); the source stays at one address behind
// its std::unique_ptr. A stem has either `stream` (the default) or `source`.
struct LoadedStem {
    std::unique_ptr<Wav> source;         // the audio decoded whole (StemDecoding::Whole)
    std::unique_ptr<AudioStream> stream; // the audio decoded as it plays (StemDecoding::Streamed)
    std::string name;                    // the file's base name, extension kept
    float volume = 1.0f;                 // layer volume 0..1
    bool active = false;                 // audible layer
    bool fading = false;                 // a fade-in is running
    float fadeProgress = 0.0f;           // 0..1
    float fadeDuration = 1.0f;           // seconds of the current or last fade-in
    int index = 0;                       // position in AudioSystem::stems
    AudioHandle voice = 0;               // the playing voice; 0 = none
    MidiChart chart;                     // empty and not loaded unless the stem plays notes
};

// How the level loader prepares a stem. Streamed: the file's bytes stay in memory and are decoded
// as the stem plays (a few MB of decoded audio a stem, whatever the song's length). Whole: decoded
// into 32-bit floats before the level starts (20 minutes of stereo is 423 MB), as benchmarks
// compare.
enum class StemDecoding { Streamed, Whole };

// The decoding new AudioLimits take (the level loader's among them): Streamed unless set. Any
// thread; a process-wide choice (the benchmark switches it between runs).
inline std::atomic<StemDecoding>& defaultStemDecodingSetting() {
    static std::atomic<StemDecoding> setting{StemDecoding::Streamed};
    return setting;
}
inline void setDefaultStemDecoding(StemDecoding decoding) { defaultStemDecodingSetting().store(decoding); }
inline StemDecoding defaultStemDecoding() { return defaultStemDecodingSetting().load(); }

// What one level's audio may take, in bytes. A stem file is read whole into memory before it is
// decoded or streamed.
struct AudioLimits {
    StemDecoding decoding = defaultStemDecoding();
    std::uint64_t maxFileBytes = std::uint64_t(512) << 20;   // one stem file, as it is on disk
    std::uint64_t maxLevelBytes = std::uint64_t(1536) << 20; // all of the level's stems' decoded audio
};

struct AudioSystem {
    std::vector<LoadedStem> stems; // the current level's stems in manifest order
    bool playing = false;          // playback started and not stopped
    bool paused = false;           // playing, but every stem held where it stands (pauseAllStems)
    bool looping = true;           // stems loop and the master clock wraps; never changed
    float bpm = 120.0f;            // the level's BPM as last given to setBpm
    float masterVolume = 1.0f;     // multiplies every layer volume
    double clockOffset = 0.0;      // seconds the game clock runs behind what is heard (the player's offset)
    double playbackSpeed = 1.0;    // the voice group's speed, 0.5..1.0 (setPlaybackSpeed)
    std::unique_ptr<AudioEngine> engine;
    AudioHandle voiceGroup = 0; // holds every stem's voice; 0 = none
    AudioLimits limits;
    unsigned devicePeriodFrames = kDevicePeriodFrames; // the period asked of the device
    bool underrunsLogged = false;                      // the underrun notice has been logged
    std::string startingLevel;        // a level whose first sound noticeLevelStart waits for ("": none)
    std::uint64_t startRequestNs = 0; // the SDL tick its start was asked for
};

// A stem's length in frames at kEngineSampleRate before padding, and in seconds with it; 0 for a
// stem without audio.
std::uint64_t stemFrames(const LoadedStem& stem);
double stemLength(const LoadedStem& stem);
bool stemHasAudio(const LoadedStem& stem);

// Notes that level `name` was asked to start at SDL tick `requestNs`: noticeLevelStart logs when
// its stems first sound. Main thread.
void expectLevelStart(AudioSystem& audio, const std::string& name, std::uint64_t requestNs);

// Once the stems of the level expectLevelStart named have mixed their first frame, logs
// "Level started: <name>, first sound after <N> ms" (from the request to that frame) and forgets
// the level; true then. Main thread, every frame; cheap.
bool noticeLevelStart(AudioSystem& audio);

// Starts the engine on the default playback device with a period of `periodFrames` sample frames
// (or, with AudioBackend::NullDriver, without a device: the mix is then pulled with engine->mix)
// and creates the voice group. Logs "miniaudio audio system initialized successfully." and the
// device's timing ("Audio device: N frames per period (X ms), output latency Y ms", once its first
// callbacks have come, waiting up to a quarter of a second), or the failure on stderr; returns
// false on failure. Main thread, once.
bool audioInit(AudioSystem& audio, AudioBackend backend = AudioBackend::Auto,
               unsigned periodFrames = kDevicePeriodFrames);

// Reopens the output device with a period of `periodFrames` frames while everything plays on
// (AudioEngine::reopenDevice: no sound is skipped and the song clock stays with what is heard),
// and logs the new device's timing as audioInit does. When the device will not open with that
// period, logs "Failed to reopen the audio device with N frames per period: <SDL's reason>" and
// opens it again with the period it had; false then (and false without a device). Main thread.
bool audioSetDevicePeriod(AudioSystem& audio, unsigned periodFrames);

// Logs once, the first time the engine has counted an underrun (a device that ran dry):
// "Audio underruns detected; a larger audio buffer (Settings) may help" on stderr. Main thread,
// every frame; cheap.
void noticeAudioUnderruns(AudioSystem& audio);

// A stem file read and decoded but not yet added: the slow half of loading a stem, done off the
// main thread. It logs nothing; addDecodedStem reports the outcome.
struct DecodedStem {
    enum class Outcome {
        Decoded,
        Missing,
        NotAFile,
        TooLarge,
        ReadFailed,
        Empty,
        Undecodable,
        OverLevelLimit
    };
    std::string path; // cleaned
    Outcome outcome = Outcome::Missing;
    std::unique_ptr<Wav> source;         // set when Decoded whole
    std::unique_ptr<AudioStream> stream; // set when Decoded as a stream
    AudioResult code = AudioResult::Ok;  // the decoder's, when Undecodable
    std::string readError;               // SDL's, when ReadFailed
    std::uint64_t bytes = 0;             // the file (TooLarge) or the decoded audio
    std::uint64_t levelBytes = 0;        // the level's decoded audio with it (OverLevelLimit)
};

// Reads and decodes the audio files at `paths`, up to `threads` at once and never more than the
// hardware's threads (0: one per hardware thread). The decoded audio of the stems already in `audio` and of
// these together stays within audio.limits.maxLevelBytes; a file that would go over is refused
// (OverLevelLimit). The result, refusals included, is the one decoding the files one after another in order
// would give. Reads `audio`'s limits and stem sizes only. Main thread (the workers are its own).
std::vector<DecodedStem> decodeStemFiles(const AudioSystem& audio, const std::vector<std::string>& paths,
                                         unsigned threads = 0);

// The rest of loading a stem for a decoded file: logs "Loading stem: " and the failure or "Successfully
// loaded stem: ", and appends the stem when it was decoded (taking its source). Main thread.
bool addDecodedStem(AudioSystem& audio, DecodedStem& decoded);

// Stems of unequal length would drift apart on every loop. Pads every stem shorter than the
// longest with silence up to that length (it loops with it, sample-locked; no memory is taken),
// logs a warning with both lengths on stderr for each, and sets each chart's audioLength to its
// stem's new length. Main thread, before the stems play.
void padStemsToLongest(AudioSystem& audio);

// Restarts every stem, silent unless active, all in the voice group and all starting on the same
// output sample: from the beginning, or from `fromSeconds` of the song (as seekAllStems, which
// refuses the same positions; then nothing plays and false is returned). Resets every chart's
// clock state to the start position. Layer states are kept. Main thread, with what serialises the
// audio system's members.
bool playAllStems(AudioSystem& audio, double fromSeconds = 0.0);

// Stops every voice and resets the charts' clock state; layer states are kept. Main thread.
void stopAllStems(AudioSystem& audio);

// Moves every stem to `seconds` of the song (the position the group clock counts, loops included:
// a looping stem plays on from `seconds` modulo its length), all on the same frame and the same
// output sample, paused or not. The song clock reads the new position at once (less the offset,
// as readMasterClock does): a seek is the only thing that moves it back. The charts' clock state
// moves there too, so that the notes between the old and new positions do not fire. Logs
// "All stems moved to S s". False, with the reason on stderr, when nothing plays ("Cannot seek: no
// stems are playing") or `seconds` is not a position ("Cannot seek to S s: not a position in the
// song", for a negative, non-finite or absurdly large value). Main thread, with what serialises the
// audio system's members (the game mutex).
bool seekAllStems(AudioSystem& audio, double seconds);

// Holds every stem where it stands, all on the same sample; the song clock stands still (at rate 0)
// until resumeAllStems. Does nothing unless playing. Main thread, with what serialises the audio
// system's members.
void pauseAllStems(AudioSystem& audio);

// Lets the paused stems play on, all from the same output sample, from where they stand (or from
// where seekAllStems put them meanwhile). Does nothing unless playing. Main thread, as above.
void resumeAllStems(AudioSystem& audio);

// Plays the voice group at `speed` of its native speed, pitch unchanged (practice): 0.5 to 1.0 in
// steps of 0.05. Stores it in playbackSpeed and applies it to the voice group (AudioEngine::
// setGroupSpeed), where it stays through playAllStems, stopAllStems, seeks and pauses; the song
// clock (readMasterClock) then counts song seconds of the slowed sound being heard and runs at
// `speed` × the device's rate. Meant for a paused round or before playAllStems. Logs "Playback
// speed set to N %". False, with nothing changed, for any other speed ("Cannot set the playback
// speed to S: it must be 0.5 to 1.0 in steps of 0.05" on stderr) or without a running audio system
// ("Cannot set the playback speed: the audio system is not running"). Main thread; it allocates
// the stretcher.
bool setPlaybackSpeed(AudioSystem& audio, double speed);

// Records the level's BPM. The audio always plays at its native speed. Main thread.
void setBpm(AudioSystem& audio, float bpm);

// Advances running fades by dt seconds and pushes every stem's volume to its voice: masterVolume
// × volume when active, else 0. Main thread, every frame; allocates nothing.
void updateStemVolumes(AudioSystem& audio, float dt);

// Releases every stem's audio, voice and chart and empties the list (the level loader's step
// before a new level). Main thread.
void unloadAllStems(AudioSystem& audio);

// The same, except that the stems are moved into `retired` (appended) instead of being freed: their
// voices are stopped, so nothing plays them any more, and the caller can free their decoded audio
// later, outside any lock. Main thread.
void retireStems(AudioSystem& audio, std::vector<LoadedStem>& retired);

// Stops everything, destroys the voice group, releases the stems and shuts the engine down.
// Main thread, once, after the logic thread has been joined.
void audioShutdown(AudioSystem& audio);

// The game clock: what the player hears of the voice group now, less the player's offset
// (`clockOffset` × `playbackSpeed`: the offset is in seconds of the world, the clock in the song's),
// in seconds; `atNs` receives the SDL tick it belongs to and `rate` how fast it
// runs on from there against SDL's clock (the device's rate; 0 while it stands still, waiting for
// the sound to reach the ear). False, and nothing read, unless playback runs and
// the voice group exists. Any thread that holds what serialises the audio system's members.
bool readMasterClock(AudioSystem& audio, double* songTime, std::uint64_t* atNs, double* rate);
