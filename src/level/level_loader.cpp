#include "audio/audio_system.hpp"
#include "audio/midi_chart.hpp"
#include "base/log.hpp"
#include "level/level_manifest.hpp"
#include "render/background.hpp"
#include "render/stem_slots.hpp"

#include <algorithm>

// A path from the manifest, relative to the manifest's folder (as written when it has none).
static std::string joinPath(const std::string& base, const std::string& path) {
    return base.empty() ? path : base + "/" + path;
}

bool readLevel(const std::string& path, bool looping, StagedLevel& staged, unsigned threads) {
    staged = StagedLevel{};
    staged.manifestPath = path;
    if (!parseLevelManifest(path, staged.definition)) {
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? std::string() : path.substr(0, slash);

    // The stems are decoded into an audio system of their own, which plays nothing: the one in
    // use is not touched until installLevel. Decoding is the slow part, so the files are decoded
    // several at once; they are then added, and their charts read, one by one in manifest order.
    AudioSystem scratch;
    scratch.looping = looping;
    const std::vector<Stem>& stems = staged.definition.stems;
    const size_t count = std::min<size_t>(stems.size(), kStemSlots);
    std::vector<std::string> audioPaths;
    for (size_t i = 0; i < count; ++i) {
        audioPaths.push_back(joinPath(base, stems[i].file));
    }
    std::vector<DecodedStem> decoded = decodeStemFiles(scratch, audioPaths, threads);
    for (size_t i = 0; i < count; ++i) {
        const Stem& stem = stems[i];
        if (!addDecodedStem(scratch, decoded[i])) {
            logError(stderr, "Failed to load stem: %s", stem.file.c_str());
            continue;
        }
        // A stem whose chart failed is still in the list as an audio layer (the chart loader has
        // said why); it takes its slot and look like any other, so that the slots stay in step
        // with the stem list.
        if (!stem.midi.empty() && stem.playsNotes) {
            loadMidiChart(scratch.stems.back().chart, joinPath(base, stem.midi));
        }
        staged.looks.push_back(stem);
    }
    padStemsToLongest(scratch);
    staged.stems = std::move(scratch.stems);
    return true;
}

bool installLevel(StagedLevel& staged, AudioSystem& audio, RenderState& render,
                  std::vector<LoadedStem>& retired) {
    stopAllStems(audio);
    retireStems(audio, retired);
    audio.stems = std::move(staged.stems);
    staged.stems.clear();
    for (size_t i = 0; i < audio.stems.size(); ++i) {
        const Stem& look = staged.looks[i];
        setStemVisuals(render, static_cast<int>(i), look.animationBase, look.animationPeak,
                       look.animationLerpSpeed, look.colorR, look.colorG, look.colorB);
        audio.stems[i].index = static_cast<int>(i);
    }
    for (size_t slot = staged.definition.stems.size(); slot < static_cast<size_t>(kStemSlots); ++slot) {
        resetStemSlot(render, static_cast<int>(slot));
    }
    refreshUniformBindings(render);
    const float bpm = staged.definition.bpm;
    setBpm(audio, bpm);
    for (LoadedStem& stem : audio.stems) {
        if (stem.chart.loaded) {
            scaleChartToBpm(stem.chart, bpm);
        }
    }
    logMessage("Loaded %zu stem(s) from level JSON: %s", audio.stems.size(), staged.manifestPath.c_str());
    return !audio.stems.empty();
}

bool loadLevelFromManifest(const std::string& path, AudioSystem& audio, RenderState& render,
                           std::string* title) {
    StagedLevel staged;
    if (!readLevel(path, audio.looping, staged)) {
        return false;
    }
    if (title != nullptr) {
        *title = staged.definition.title;
    }
    std::vector<LoadedStem> retired;
    return installLevel(staged, audio, render, retired);
}
