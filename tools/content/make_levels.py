#!/usr/bin/python3
"""Builds every shipped level from scratch: composition, charts, audio and manifests.

    /usr/bin/python3 tools/content/make_levels.py [--charts-only]

For each song of songs.py it composes the stems, writes a performance MIDI per stem (build/content)
and renders it with FluidSynth and the FluidR3 GM sound font, folds the render into an exact loop
of whole bars, balances the stems so that the full mix peaks near -1 dBFS and encodes them
(OGG Vorbis, one FLAC). The chart MIDI of each stem holds the chosen notes only, placed on screen
by charts.py, with the song's tempo so the game needs no rescaling. Then it writes each package's
level.json, levels/levels.json and the default levels/level.json (which plays the neon_drive
package's files), and runs simulate.py on every level: the build fails if perfect play misses
anything or if the default level does not bring in all its stems within 90 seconds.

--charts-only rewrites charts and manifests and keeps the audio already in place (for tuning).
Needs: python3-mido fluidsynth fluid-soundfont-gm sox libsox-fmt-all vorbis-tools flac
(scripts/setup --content installs them). Run with Debian's /usr/bin/python3, which has mido.
"""

import argparse
import json
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import charts  # noqa: E402
import render  # noqa: E402
import simulate  # noqa: E402
from music import writeChart, writePerformance  # noqa: E402
from songs import DEFAULT_LEVEL, SONGS  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(HERE))
LEVELS = os.path.join(ROOT, "assets", "levels")
BUILD = os.path.join(ROOT, "build", "content")
TAIL_BEATS = 8  # rendered past the loop end and folded back onto its start
OGG_QUALITY = 3
DEFAULT_DEADLINE = 90.0  # seconds of perfect play by which the default level has every stem
MIN_GAP = {1: 1.0, 2: 0.5, 3: 0.5, 4: 0.5}  # beats between two circles of one stem, by difficulty


def thinCues(cues, minGap):
    """Keeps cues in time order that start at least minGap beats after the previous one ends."""
    kept = []
    for c in sorted(cues, key=lambda c: c.beat):
        if kept and c.beat < kept[-1].beat + kept[-1].hold + minGap - 1e-9:
            continue
        kept.append(c)
    return kept


def loopSamples(song):
    exact = song["bars"] * 4 * 60 * render.RATE / song["bpm"]
    if abs(exact - round(exact)) > 1e-9:
        raise ValueError("%s: %d bars at %d BPM are not a whole number of samples" % (
            song["folder"], song["bars"], song["bpm"]))
    return int(round(exact))


def audioName(stem):
    return "%s.%s" % (stem["name"], stem["format"])


def manifest(song, prefix=""):
    stems = []
    for i, s in enumerate(song["stems"]):
        stems.append({
            "file": prefix + audioName(s),
            "midi": prefix + s["name"] + ".mid",
            "startOrder": i,
            "playsNotes": True,
            "instrument": s["instrument"],
            "animation": s["animation"],
            "color": s["color"],
        })
    return {
        "songMetaData": [{
            "title": song["title"],
            "artist": "Vibrelle",
            "bpm": song["bpm"],
            "key": song["key"],
            "bars": song["bars"],
            "loopSeconds": round(song["bars"] * 240.0 / song["bpm"], 3),
        }],
        "stems": stems,
    }


def writeJson(path, doc):
    with open(path, "w") as f:
        json.dump(doc, f, indent=2)
        f.write("\n")


def buildCharts(song, folder):
    bpm = song["bpm"]
    loopSeconds = song["bars"] * 240.0 / bpm
    gap = MIN_GAP[song["difficulty"]]
    stems = [(s["lane"], thinCues(s["part"].cues, gap)) for s in song["stems"]]
    placed, dropped = charts.placeLevel(stems, bpm, loopSeconds)
    for s, notes in zip(song["stems"], placed):
        writeChart(os.path.join(folder, s["name"] + ".mid"), notes, bpm, "%s %s" % (song["title"], s["name"]))
    if dropped:
        print("  %d cue(s) left out: no clear place on screen" % dropped)


def buildAudio(song, folder, serialBase):
    work = os.path.join(BUILD, song["folder"])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    samples = loopSamples(song)
    loopBeats = song["bars"] * 4
    folded = []
    for s in song["stems"]:
        perf = os.path.join(work, s["name"] + ".perf.mid")
        raw = os.path.join(work, s["name"] + ".render.wav")
        loop = os.path.join(work, s["name"] + ".loop.wav")
        writePerformance(perf, s["part"], song["bpm"], loopBeats, TAIL_BEATS, s["name"])
        render.renderMidi(perf, raw)
        render.foldToLoop(raw, loop, samples, work)
        os.remove(raw)
        folded.append(loop)
    gain = render.MIX_PEAK / render.mixPeak(folded)
    for i, (s, loop) in enumerate(zip(song["stems"], folded)):
        out = os.path.join(folder, audioName(s))
        render.encode(loop, out, gain, s["format"], OGG_QUALITY, serialBase + i, "%s - %s" % (song["title"], s["name"]))
        if render.samplesOf(out) != samples:
            raise RuntimeError("%s decodes to %d samples, expected %d" % (out, render.samplesOf(out), samples))
    print("  audio: %d stems of %d samples (%.3f s), mix gain %.3f" % (
        len(folded), samples, samples / float(render.RATE), gain))


def main():
    ap = argparse.ArgumentParser(description="Rebuild the shipped levels.")
    ap.add_argument("--charts-only", action="store_true", help="keep existing audio, rebuild charts")
    args = ap.parse_args()

    os.chdir(ROOT)
    songs = [make() for make in SONGS]
    os.makedirs(LEVELS, exist_ok=True)
    for n, song in enumerate(songs):
        folder = os.path.join(LEVELS, song["folder"])
        print("%s (%s, %d BPM, %d bars)" % (song["title"], song["folder"], song["bpm"], song["bars"]))
        if not args.charts_only:
            shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder, exist_ok=True)
        buildCharts(song, folder)
        if not args.charts_only:
            buildAudio(song, folder, 1000 * (n + 1))
        writeJson(os.path.join(folder, "level.json"), manifest(song))

    listed = [s for s in songs if s["folder"] != "tutorialsong"]
    listed.sort(key=lambda s: s["difficulty"])
    with open(os.path.join(LEVELS, "levels.json"), "w") as f:
        # One flat object per line: the game reads this file entry by entry.
        f.write("[\n")
        f.write(",\n".join("  " + json.dumps({"name": s["title"], "file": s["folder"],
                                              "difficulty": s["difficulty"],
                                              "description": s["description"]}) for s in listed))
        f.write("\n]\n")
    default = next(s for s in songs if s["folder"] == DEFAULT_LEVEL)
    writeJson(os.path.join(LEVELS, "level.json"), manifest(default, prefix=DEFAULT_LEVEL + "/"))

    print("\nPerfect-play check")
    ok = True
    for path in [os.path.join(LEVELS, "level.json")] + [os.path.join(LEVELS, s["folder"], "level.json")
                                                          for s in songs]:
        r = simulate.report(os.path.relpath(path, ROOT), 200.0)
        if r["misses"] or r["faults"] or not r["equalLengths"]:
            ok = False
        if path.endswith(os.path.join("levels", "level.json")) and \
                any(t is None or t > DEFAULT_DEADLINE for t in r["unlock"]):
            print("  FAULT: the default level does not bring in every stem within %.0f s" % DEFAULT_DEADLINE)
            ok = False
    if not ok:
        sys.exit(1)


if __name__ == "__main__":
    main()
