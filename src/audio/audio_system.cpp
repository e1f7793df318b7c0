#include "audio/audio_system.hpp"

#include "audio/asset_path.hpp"
#include "base/log.hpp"

#include <SDL3/SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <new>
#include <sstream>
#include <system_error>
#include <thread>

namespace {

// How close to 1 a fade's progress must come to count as finished (an inaudible 0.01 %).
constexpr float kFadeEndTolerance = 1e-4f;

void resetChartClock(MidiChart& chart) {
    chart.lastPosition = 0.0;
    chart.loopCount = 0;
    chart.lastClock = 0.0;
}

// A chart whose clock has reached `songTime` (seconds, the master clock's count that never wraps):
// the notes up to it count as fired, the loops before it as seen.
void moveChartClock(MidiChart& chart, double songTime, bool looping) {
    chart.lastPosition = songTime;
    chart.lastClock = songTime;
    chart.loopCount = looping && chart.audioLength > 0.0 && songTime > 0.0
                          ? static_cast<uint32_t>(std::min(std::floor(songTime / chart.audioLength), 4e9))
                          : 0;
}

// The engine frame of a song position, or false for a position no song has: negative, not a
// number, or beyond what a double counts frame-exactly (2^53 frames, some 6000 years).
bool seekFrame(double seconds, std::uint64_t& frame) {
    const double frames = std::round(seconds * kEngineSampleRate);
    if (!std::isfinite(seconds) || seconds < 0.0 || frames > 9007199254740992.0) {
        logError(stderr, "Cannot seek to %g s: not a position in the song", seconds);
        return false;
    }
    frame = static_cast<std::uint64_t>(frames);
    return true;
}

// The player's offset is a time of the world (what the ears, the speakers and the hands add); slowed
// down, the song covers only `playbackSpeed` of its seconds in it.
double songOffset(const AudioSystem& audio) { return audio.clockOffset * audio.playbackSpeed; }

// Moves the group, and any stem voice the group could not take, to `frame`; the charts follow.
void seekVoices(AudioSystem& audio, std::uint64_t frame) {
    AudioEngine& engine = *audio.engine;
    engine.seek(audio.voiceGroup, frame);
    for (LoadedStem& stem : audio.stems) {
        if (stem.voice != 0 && !engine.isVoiceInGroup(audio.voiceGroup, stem.voice)) {
            engine.seek(stem.voice, frame);
        }
    }
    const double songTime = static_cast<double>(frame) / kEngineSampleRate - songOffset(audio);
    for (LoadedStem& stem : audio.stems) {
        moveChartClock(stem.chart, songTime, audio.looping);
    }
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

bool audioInit(AudioSystem& audio, AudioBackend backend, unsigned periodFrames) {
    if (!audio.engine) {
        audio.engine = std::make_unique<AudioEngine>();
    }
    audio.devicePeriodFrames = periodFrames;
    audio.underrunsLogged = false;
    AudioResult result = audio.engine->init(backend, 0, periodFrames, 2);
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
    audio.playbackSpeed = 1.0; // a new group plays at native speed
    audio.masterVolume = 1.0f;
    audio.bpm = 120.0f;
    audio.engine->setGlobalVolume(1.0f);
    logMessage("miniaudio audio system initialized successfully.");
    if (backend != AudioBackend::NullDriver) {
        logDeviceTiming(*audio.engine);
    }
    return true;
}

bool audioSetDevicePeriod(AudioSystem& audio, unsigned periodFrames) {
    if (!audio.engine) {
        return false;
    }
    AudioEngine& engine = *audio.engine;
    const AudioResult result = engine.reopenDevice(periodFrames);
    if (result == AudioResult::Ok) {
        audio.devicePeriodFrames = periodFrames;
        logDeviceTiming(engine);
        return true;
    }
    if (result == AudioResult::BackendFailed) {
        logError(stderr, "Failed to reopen the audio device with %u frames per period: %s", periodFrames,
                 SDL_GetError());
        // The period that worked before, so that the game keeps its sound.
        if (engine.reopenDevice(audio.devicePeriodFrames) == AudioResult::Ok) {
            logDeviceTiming(engine);
        } else {
            logError(stderr, "Failed to reopen the audio device with %u frames per period: %s",
                     audio.devicePeriodFrames, SDL_GetError());
        }
    }
    return false;
}

void noticeAudioUnderruns(AudioSystem& audio) {
    if (audio.underrunsLogged || !audio.engine || audio.engine->underrunCount() == 0) {
        return;
    }
    audio.underrunsLogged = true;
    logError(stderr, "Audio underruns detected; a larger audio buffer (Settings) may help");
}

namespace {

std::uint64_t decodedBytes(const Wav& source) {
    return source.frameCount() * source.channelCount() * sizeof(float);
}

std::uint64_t decodedBytes(const LoadedStem& stem) {
    return stem.source ? decodedBytes(*stem.source) : stem.stream ? stem.stream->decodedBytes() : 0;
}

double megabytes(std::uint64_t bytes) { return double(bytes) / double(1u << 20); }

// The file at `path` into `bytes`: at most `maxBytes` + 1 of them, so that a file that grew past the
// limit since it was looked at shows as too large. False with SDL's error when it cannot be read.
bool readWholeFile(const std::string& path, std::uint64_t maxBytes, FileBytes& bytes, std::string& error) {
    SDL_IOStream* io = SDL_IOFromFile(path.c_str(), "rb");
    if (!io) {
        error = SDL_GetError();
        return false;
    }
    const Sint64 size = SDL_GetIOSize(io);
    std::uint64_t capacity = size > 0 ? std::min<std::uint64_t>(std::uint64_t(size), maxBytes) + 1 : 1 << 16;
    bytes.resize(static_cast<size_t>(capacity));
    size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() > maxBytes) {
                break; // one byte past the limit is enough to tell
            }
            bytes.resize(static_cast<size_t>(std::min<std::uint64_t>(bytes.size() * 2, maxBytes + 1)));
        }
        const size_t read = SDL_ReadIO(io, bytes.data() + got, bytes.size() - got);
        if (read == 0) {
            break; // the end, or an error
        }
        got += read;
    }
    const bool failed = SDL_GetIOStatus(io) == SDL_IO_STATUS_ERROR;
    if (failed) {
        error = SDL_GetError();
    }
    SDL_CloseIO(io);
    bytes.resize(got);
    return !failed;
}

// The level's running total of decoded audio, shared by the workers of one decodeStemFiles.
struct LevelBudget {
    std::uint64_t limit = 0;
    std::atomic<std::uint64_t> used{0};
};

// Reads and decodes one stem file. Any thread: it touches nothing but its own result and the budget.
void decodeStemFile(const std::string& path, const AudioLimits& limits, LevelBudget& budget,
                    DecodedStem& out) {
    using Outcome = DecodedStem::Outcome;
    out.path = cleanAssetPath(path);
    SDL_PathInfo info;
    if (!SDL_GetPathInfo(out.path.c_str(), &info)) {
        out.outcome = Outcome::Missing;
        return;
    }
    if (info.type == SDL_PATHTYPE_OTHER) {
        out.outcome = Outcome::NotAFile; // a device or a pipe could be read for ever
        return;
    }
    if (info.size > limits.maxFileBytes) {
        out.outcome = Outcome::TooLarge;
        out.bytes = info.size;
        return;
    }
    // Read straight into the buffer the stream keeps: a second copy costs a long level's start
    // about as much again as the read (fresh pages are slow to fault in on some machines).
    FileBytes bytes;
    if (!readWholeFile(out.path, limits.maxFileBytes, bytes, out.readError)) {
        out.outcome = Outcome::ReadFailed;
        return;
    }
    if (bytes.size() > limits.maxFileBytes) { // it grew since it was looked at
        out.outcome = Outcome::TooLarge;
        out.bytes = bytes.size();
        return;
    }
    if (bytes.empty()) {
        out.outcome = Outcome::Empty;
        return;
    }
    std::unique_ptr<Wav> source;
    std::unique_ptr<AudioStream> stream;
    if (limits.decoding == StemDecoding::Streamed) {
        // The stream keeps the file's bytes and decodes them as it plays.
        stream = std::make_unique<AudioStream>();
        out.code = stream->open(std::move(bytes), out.path);
        out.bytes = stream->decodedBytes();
    } else {
        source = std::make_unique<Wav>();
        out.code = source->loadMem(bytes.data(), bytes.size());
        // The samples are decoded; the file bytes are not needed any more.
        bytes = FileBytes();
        out.bytes = source ? decodedBytes(*source) : 0;
    }
    if (out.code != AudioResult::Ok) {
        out.outcome = Outcome::Undecodable;
        out.bytes = 0;
        return;
    }
    const std::uint64_t total = budget.used.fetch_add(out.bytes) + out.bytes;
    if (total > budget.limit) {
        budget.used.fetch_sub(out.bytes);
        out.outcome = Outcome::OverLevelLimit;
        out.levelBytes = total;
        return;
    }
    out.outcome = Outcome::Decoded;
    out.source = std::move(source);
    out.stream = std::move(stream);
}

// Decodes paths[i] into results[i] on `threads` threads (this one among them); true when a file was
// refused for the level's limit.
bool decodeInParallel(const std::vector<std::string>& paths, const AudioLimits& limits,
                      std::uint64_t budgetBytes, unsigned threads, std::vector<DecodedStem>& results) {
    LevelBudget budget;
    budget.limit = budgetBytes;
    // Largest files first: with a few threads and stems of unequal length, a long stem taken last
    // would leave the other threads idle while it decodes.
    std::vector<size_t> order(paths.size());
    std::vector<std::uintmax_t> sizes(paths.size(), 0);
    for (size_t i = 0; i < paths.size(); ++i) {
        order[i] = i;
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(paths[i], ec);
        sizes[i] = ec ? 0 : size;
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
    std::atomic<size_t> next{0};
    std::atomic<bool> overLimit{false};
    auto work = [&] {
        for (size_t n = next++; n < order.size(); n = next++) {
            const size_t i = order[n];
            try {
                decodeStemFile(paths[i], limits, budget, results[i]);
            } catch (const std::bad_alloc&) {
                results[i].source.reset();
                results[i].stream.reset();
                results[i].outcome = DecodedStem::Outcome::Undecodable;
                results[i].code = AudioResult::OutOfMemory;
            }
            if (results[i].outcome == DecodedStem::Outcome::OverLevelLimit) {
                overLimit = true;
            }
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(threads);
    try {
        for (unsigned t = 1; t < threads; ++t) {
            // SDL keeps a per-thread error buffer that it frees itself only on its own threads.
            workers.emplace_back([&work] {
                work();
                SDL_CleanupTLS();
            });
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the ones running share the files.
    }
    work();
    for (std::thread& worker : workers) {
        worker.join();
    }
    return overLimit;
}

} // namespace

std::vector<DecodedStem> decodeStemFiles(const AudioSystem& audio, const std::vector<std::string>& paths,
                                         unsigned threads) {
    std::uint64_t held = 0;
    for (const LoadedStem& stem : audio.stems) {
        held += decodedBytes(stem);
    }
    const std::uint64_t budget = audio.limits.maxLevelBytes > held ? audio.limits.maxLevelBytes - held : 0;
    const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
    threads = threads == 0 ? hardware : std::min(threads, hardware);
    threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(paths.size(), 1)));
    std::vector<DecodedStem> results(paths.size());
    if (decodeInParallel(paths, audio.limits, budget, threads, results) && threads > 1) {
        // Which file went over depended on which finished first. Over the limit, the rule is the
        // one-after-another one: decode again in order, so that the same stems are kept every time.
        results = std::vector<DecodedStem>(paths.size());
        decodeInParallel(paths, audio.limits, budget, 1, results);
    }
    return results;
}

bool addDecodedStem(AudioSystem& audio, DecodedStem& decoded) {
    using Outcome = DecodedStem::Outcome;
    const char* path = decoded.path.c_str();
    logMessage("Loading stem: %s", path);
    switch (decoded.outcome) {
    case Outcome::Decoded:
        break;
    case Outcome::Missing:
        logError(stderr, "Error: File does not exist: %s", path);
        return false;
    case Outcome::NotAFile:
        logError(stderr, "Error: Not a regular file: %s", path);
        return false;
    case Outcome::TooLarge:
        logError(stderr, "Error: File too large: %s (%.1f MB; a stem file may have at most %.1f MB)", path,
                 megabytes(decoded.bytes), megabytes(audio.limits.maxFileBytes));
        return false;
    case Outcome::ReadFailed:
        logError(stderr, "SDL_LoadFile failed for: %s, Error: %s)", path, decoded.readError.c_str());
        return false;
    case Outcome::Empty:
        logError(stderr, "File loaded via SDL is empty (0 bytes): %s", path);
        return false;
    case Outcome::Undecodable:
        logError(stderr, "Failed to load audio file: %s  (Error: %u)", path,
                 static_cast<unsigned>(decoded.code));
        return false;
    case Outcome::OverLevelLimit:
        logError(stderr,
                 "Error: Level audio too large: %s would bring the level's decoded audio to %.1f MB (the "
                 "limit is %.1f MB)",
                 path, megabytes(decoded.levelBytes), megabytes(audio.limits.maxLevelBytes));
        return false;
    }
    LoadedStem stem;
    stem.source = std::move(decoded.source);
    stem.stream = std::move(decoded.stream);
    if (stem.source) {
        stem.source->setLooping(audio.looping);
    } else {
        stem.stream->setLooping(audio.looping);
    }
    stem.chart.audioLength = stemLength(stem);
    stem.name = assetBaseName(decoded.path);
    stem.index = static_cast<int>(audio.stems.size());
    audio.stems.push_back(std::move(stem));
    logMessage("Successfully loaded stem: %s", audio.stems.back().name.c_str());
    return true;
}

void padStemsToLongest(AudioSystem& audio) {
    const LoadedStem* longest = nullptr;
    for (const LoadedStem& stem : audio.stems) {
        if (stemHasAudio(stem) && (!longest || stemFrames(stem) > stemFrames(*longest))) {
            longest = &stem;
        }
    }
    if (!longest) {
        return;
    }
    const std::uint64_t frames = stemFrames(*longest);
    for (LoadedStem& stem : audio.stems) {
        if (!stemHasAudio(stem)) {
            continue;
        }
        if (stemFrames(stem) < frames) {
            logError(stderr,
                     "Warning: stem %s has %llu frames and the longest, %s, has %llu: padded with silence",
                     stem.name.c_str(), static_cast<unsigned long long>(stemFrames(stem)),
                     longest->name.c_str(), static_cast<unsigned long long>(frames));
            if (stem.source) {
                stem.source->padTo(frames);
            } else {
                stem.stream->padTo(frames);
            }
            stem.chart.audioLength = stemLength(stem);
        }
    }
}

bool playAllStems(AudioSystem& audio, double fromSeconds) {
    std::uint64_t from = 0;
    if (!seekFrame(fromSeconds, from)) {
        return false;
    }
    logMessage("Playing all stems with voice group.");
    if (audio.stems.empty()) {
        logMessage("No stems to play.");
        return false;
    }
    if (!audio.engine) {
        return false; // audioInit never ran: nothing can play
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
        if (stem.source) {
            stem.source->setLooping(audio.looping);
            stem.voice = engine.play(*stem.source, 0.0f, 0.0f, true);
        } else if (stem.stream) {
            if (stem.stream->getLooping() != audio.looping) {
                stem.stream->setLooping(audio.looping);
            }
            stem.voice = engine.play(*stem.stream, 0.0f, 0.0f, true);
        }
        if (stem.voice == 0) {
            continue;
        }
        allGrouped = engine.addVoiceToGroup(audio.voiceGroup, stem.voice) == AudioResult::Ok && allGrouped;
        engine.setVolume(stem.voice, stem.active ? audio.masterVolume * stem.volume : 0.0f);
    }
    if (from > 0) {
        seekVoices(audio, from); // while paused: the first frame mixed is the start position's
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
    audio.paused = false;
    logMessage("Playback initiated for %zu stem(s) using voice group.", audio.stems.size());
    return true;
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
    audio.paused = false;
    logMessage("Playback stopped.");
}

bool seekAllStems(AudioSystem& audio, double seconds) {
    std::uint64_t frame = 0;
    if (!seekFrame(seconds, frame)) {
        return false;
    }
    if (!audio.playing || !audio.engine) {
        logError(stderr, "Cannot seek: no stems are playing");
        return false;
    }
    seekVoices(audio, frame);
    logMessage("All stems moved to %.3f s", static_cast<double>(frame) / kEngineSampleRate);
    return true;
}

// Pausing and resuming go through the group, so every stem stops and starts on the same sample;
// a stem voice the group could not take follows on its own.
static void pauseVoices(AudioSystem& audio, bool paused) {
    if (!audio.playing || !audio.engine) {
        return;
    }
    AudioEngine& engine = *audio.engine;
    engine.setPause(audio.voiceGroup, paused);
    for (LoadedStem& stem : audio.stems) {
        if (stem.voice != 0 && !engine.isVoiceInGroup(audio.voiceGroup, stem.voice)) {
            engine.setPause(stem.voice, paused);
        }
    }
    audio.paused = paused;
}

void pauseAllStems(AudioSystem& audio) { pauseVoices(audio, true); }

void resumeAllStems(AudioSystem& audio) { pauseVoices(audio, false); }

bool setPlaybackSpeed(AudioSystem& audio, double speed) {
    // Whole twentieths, checked on the value rounded to one (0.7 is not exactly representable).
    const double steps = std::round(speed * 20.0);
    if (!std::isfinite(speed) || std::fabs(speed * 20.0 - steps) > 1e-6 || steps < 10.0 || steps > 20.0) {
        logError(stderr, "Cannot set the playback speed to %g: it must be 0.5 to 1.0 in steps of 0.05",
                 speed);
        return false;
    }
    if (!audio.engine || audio.voiceGroup == 0 ||
        audio.engine->setGroupSpeed(audio.voiceGroup, steps / 20.0) != AudioResult::Ok) {
        logError(stderr, "Cannot set the playback speed: the audio system is not running");
        return false;
    }
    audio.playbackSpeed = steps / 20.0;
    logMessage("Playback speed set to %d %%", static_cast<int>(steps) * 5);
    return true;
}

void setBpm(AudioSystem& audio, float bpm) {
    audio.bpm = bpm;
    // Stems always play at their native tempo: the BPM is recorded, never applied as a speed.
    std::ostringstream line;
    line << "BPM set to " << bpm << " (no playback speed change needed)";
    logMessage("%s", line.str().c_str());
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
        stem.stream.reset();
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
        stem.stream.reset();
    }
    audio.stems.clear();
    audio.playing = false;
    if (audio.engine) {
        audio.engine->deinit();
        audio.engine.reset();
    }
    logMessage("miniaudio audio system shut down.");
}

bool readMasterClock(AudioSystem& audio, double* songTime, std::uint64_t* atNs, double* rate) {
    if (!audio.playing || audio.voiceGroup == 0 || !audio.engine ||
        !audio.engine->isVoiceGroup(audio.voiceGroup)) {
        return false;
    }
    *songTime = audio.engine->getStreamTime(audio.voiceGroup, atNs, rate) - songOffset(audio);
    return true;
}
