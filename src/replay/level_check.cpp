#include "replay/level_check.hpp"

#include "audio/asset_path.hpp"
#include "audio/audio_decode.hpp"
#include "audio/midi_chart.hpp"
#include "base/file_io.hpp"
#include "base/log.hpp"
#include "level/level_manifest.hpp"
#include "replay/level_hash.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <exception>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The stems a level plays at most: the game's stem slots.
constexpr std::size_t kLevelStems = 8;

std::string megabytesText(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / double(1u << 20));
    return text;
}

// The whole regular file at `path` when it has 1 to `maxBytes` bytes; otherwise false with the
// reason. Opened without blocking, so that a named pipe is refused rather than waited on.
bool readRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes,
                     std::string& reason) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        reason = fileErrorText(errno);
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (!ok) {
        reason = fileErrorText(errno);
    } else if (!S_ISREG(info.st_mode)) {
        reason = "not a regular file";
        ok = false;
    } else if (static_cast<std::uint64_t>(info.st_size) > maxBytes) {
        reason = "file too large: " + megabytesText(info.st_size) + ", at most " + megabytesText(maxBytes);
        ok = false;
    }
    if (ok) {
        try {
            // One byte more than allowed is asked for, so that a file that grew is noticed.
            bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(info.st_size, maxBytes) + 1));
        } catch (const std::exception&) {
            reason = "out of memory";
            ok = false;
        }
    }
    std::size_t got = 0;
    while (ok && got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            reason = fileErrorText(errno);
            ok = false;
        } else if (n == 0) {
            break;
        } else {
            got += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    if (ok && got > maxBytes) {
        reason = "file too large: it grew past " + megabytesText(maxBytes);
        ok = false;
    } else if (ok && got == 0) {
        reason = "empty file";
        ok = false;
    }
    bytes.resize(ok ? got : 0);
    return ok;
}

// A stem the game would load: its cleaned path, its manifest entry and its decoded length.
struct KeptStem {
    std::string path;
    const Stem* entry = nullptr;
    std::uint64_t frames = 0;
};

} // namespace

bool readCheckedLevel(const std::string& folder, const std::string& name, CheckedLevel& level,
                      std::string& error, const AudioLimits& limits) {
    level = CheckedLevel{};
    level.name = name;
    level.folder = folder;
    error.clear();
    const std::string manifestPath = folder.empty() ? "level.json" : folder + "/level.json";
    std::string manifest, reason;
    LevelDefinition definition;
    if (!readRegularFile(manifestPath, kMaxHashedFileBytes, manifest, reason)) {
        error = manifestPath + ": " + reason;
        return false;
    }
    if (!parseLevelManifestText(manifest, manifestPath, definition)) {
        error = manifestPath + ": not a level manifest with stems";
        return false;
    }

    // The stems in manifest order, as the game decodes them one after another: the level's decoded
    // audio is counted in that order, and a stem that would take it over the limit is left out.
    std::vector<KeptStem> kept;
    std::uint64_t levelBytes = 0;
    const std::size_t count = std::min(definition.stems.size(), kLevelStems);
    for (std::size_t i = 0; i < count; ++i) {
        const Stem& entry = definition.stems[i];
        const std::string path = cleanAssetPath(folder.empty() ? entry.file : folder + "/" + entry.file);
        std::string bytes;
        AudioLength length;
        bool ok = readRegularFile(path, limits.maxFileBytes, bytes, reason);
        if (ok) {
            const AudioResult result =
                measureAudio(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), length);
            ok = result == AudioResult::Ok;
            if (!ok) {
                reason = "the audio cannot be decoded (error " +
                         std::to_string(static_cast<unsigned>(result)) + ")";
            }
        }
        const std::uint64_t decodedBytes = length.frames * length.channels * sizeof(float);
        if (ok && levelBytes + decodedBytes > limits.maxLevelBytes) {
            reason = "the level's decoded audio would come to " + megabytesText(levelBytes + decodedBytes) +
                     ", over its limit of " + megabytesText(limits.maxLevelBytes);
            ok = false;
        }
        if (!ok) {
            logError(stderr, "Stem left out of the level: %s (%s)", path.c_str(), reason.c_str());
            continue;
        }
        levelBytes += decodedBytes;
        (length.decoded ? level.decodedStems : level.measuredStems) += 1;
        kept.push_back({path, &entry, length.frames});
    }
    if (kept.empty()) {
        error = manifestPath + ": none of its stems can be loaded";
        return false;
    }

    // Every stem loops at the longest one's length (the game pads the others with silence), in
    // seconds as the audio engine counts them.
    std::uint64_t longest = 0;
    for (const KeptStem& stem : kept) {
        longest = std::max(longest, stem.frames);
    }
    RoundSetup& setup = level.setup;
    setup.looping = true;
    setup.loopLength = double(longest) / kEngineSampleRate;
    std::string hashError;
    if (!levelHashOfFolder(folder, std::llround(setup.loopLength * 1e6), level.hash, hashError)) {
        error = hashError;
        return false;
    }

    // The charts after the hash: it has refused any chart file too large to read.
    for (const KeptStem& stem : kept) {
        RoundStem round;
        round.name = assetBaseName(stem.path);
        const Stem& entry = *stem.entry;
        if (!entry.midi.empty() && entry.playsNotes) {
            const std::string chartPath =
                cleanAssetPath(folder.empty() ? entry.midi : folder + "/" + entry.midi);
            MidiChart chart;
            // The game plays a stem whose chart is not a file it can load without notes; a named
            // pipe is not opened at all.
            if (!isRegularFile(chartPath)) {
                logError(stderr, "Error: MIDI file does not exist: %s", chartPath.c_str());
            } else if (loadMidiChart(chart, chartPath, ChartLog::ErrorsOnly)) {
                scaleChartToBpm(chart, definition.bpm, ChartLog::ErrorsOnly);
                round.notes = std::move(chart.notes);
            }
        }
        setup.stems.push_back(std::move(round));
    }
    return true;
}
