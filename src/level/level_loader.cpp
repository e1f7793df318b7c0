#include "audio/audio_system.hpp"
#include "audio/midi_chart.hpp"
#include "level/level_manifest.hpp"
#include "render/background.hpp"
#include "render/stem_slots.hpp"

#include <algorithm>
#include <iostream>

// A path from the manifest, relative to the manifest's folder (as written when it has none).
static std::string joinPath(const std::string& base, const std::string& path) {
    return base.empty() ? path : base + "/" + path;
}

bool loadLevelFromManifest(const std::string& path, AudioSystem& audio, RenderState& render) {
    LevelDefinition level;
    if (!parseLevelManifest(path, level)) {
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? std::string() : path.substr(0, slash);

    stopAllStems(audio);
    unloadAllStems(audio);

    const size_t count = std::min<size_t>(level.stems.size(), kStemSlots);
    for (size_t i = 0; i < count; ++i) {
        const Stem& stem = level.stems[i];
        const std::string audioPath = joinPath(base, stem.file);
        const size_t before = audio.stems.size();
        if (stem.midi.empty() || !stem.playsNotes) {
            loadStem(audio, audioPath);
        } else {
            loadStemWithMidi(audio, audioPath, joinPath(base, stem.midi));
        }
        // A stem whose chart failed is still in the list as an audio layer (the chart loader has
        // said why); it takes its slot and look like any other, so that the slots stay in step
        // with the stem list.
        if (audio.stems.size() == before) {
            std::cerr << "Failed to load stem: " << stem.file << std::endl;
            continue;
        }
        const int slot = static_cast<int>(audio.stems.size()) - 1;
        setStemVisuals(render, slot, stem.animationBase, stem.animationPeak, stem.animationLerpSpeed,
                       stem.colorR, stem.colorG, stem.colorB);
    }
    for (size_t slot = level.stems.size(); slot < static_cast<size_t>(kStemSlots); ++slot) {
        resetStemSlot(render, static_cast<int>(slot));
    }
    for (size_t i = 0; i < audio.stems.size(); ++i) {
        audio.stems[i].index = static_cast<int>(i);
    }
    refreshUniformBindings(render);
    setBpm(audio, level.bpm);
    for (LoadedStem& stem : audio.stems) {
        if (stem.chart.loaded) {
            scaleChartToBpm(stem.chart, level.bpm);
        }
    }
    std::cout << "Loaded " << audio.stems.size() << " stem(s) from level JSON: " << path << std::endl;
    return !audio.stems.empty();
}
