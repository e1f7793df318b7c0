#!/usr/bin/python3
"""Plays a level's charts with a perfect bot and reports when each stem joins the mix.

The model follows the game's rules for circles and layers: every 1/120 s logic tick spawns
circles up to one second ahead from the charts of the active stems (looping at the audio
length), then grants a new layer when the combo since the last rise reaches 5 x the number of
active layers. The bot presses every circle at its centre at its note time with a finger of its
own, and holds hold circles until their hold is credited (a press and a completed hold count as
two successes). Each press is checked against the game's target search: the circle meant must be
the one the search finds, by position and by keyboard key. Anything else is reported as a fault.

Usage: simulate.py path/to/level.json [--seconds N]   (exit status 1 when a fault is found)
"""

import argparse
import json
import math
import os
import subprocess
import sys

import mido

# The game's rules, copied from src/game/game_rules.hpp (this script runs without the game);
# tests/game/rules_table_test.cpp reads these lines and compares them with the header.
TICK = 1.0 / 120.0
LOOKAHEAD = 1.0  # kSpawnLookAhead
SPAWN_LATE_LIMIT = 0.001  # kSpawnLateLimit
DUPLICATE_WINDOW = 0.01  # kDuplicateWindow
EARLY_PRESS = 0.1  # kEarlyPressLimit
TAP_LIFETIME = 0.2  # kTapLifetime
COMBO_PER_LAYER = 5  # kComboPerLayer
MAX_LAYERS = 8  # kMaxLayers
REACH_EXTRA = 2.0  # kPressReach
TARGET_RADIUS = 100.0  # kTargetRadius
KEYS_PER_LANE = 16  # kKeysPerLane
LOW_ROW_BELOW = 42  # kLowRowBelow
MIDDLE_ROW_THROUGH = 85  # kMiddleRowThrough
SCREENS = ((1280, 720), (1920, 1080))


def keyboardKey(note, velocity):
    return (note // KEYS_PER_LANE, 0 if velocity < LOW_ROW_BELOW else (1 if velocity <= MIDDLE_ROW_THROUGH else 2))


def audioSeconds(path):
    out = subprocess.run(["soxi", "-s", path], check=True, capture_output=True, text=True).stdout
    return int(out.strip()) / 44100.0, int(out.strip())


def readChart(path):
    """Chart notes as the game reads them: times in seconds from the tempo map, note-ons paired
    with their note-offs for durations. Returns (notes, file bpm); a note is a dict."""
    mid = mido.MidiFile(path)
    bpm = None
    now = 0.0
    notes = []
    open_ = {}
    for msg in mid:  # merged tracks, delta times in seconds
        now += msg.time
        if msg.type == "set_tempo" and bpm is None:
            bpm = mido.tempo2bpm(msg.tempo)
        if msg.type == "note_on" and msg.velocity > 0:
            n = {"time": now, "note": msg.note, "vel": msg.velocity, "channel": msg.channel, "dur": 0.0}
            notes.append(n)
            open_.setdefault((msg.channel, msg.note), []).append(n)
        elif msg.type in ("note_off", "note_on"):
            pending = open_.get((msg.channel, msg.note))
            if pending:
                n = pending.pop(0)
                n["dur"] = now - n["time"]
    notes.sort(key=lambda n: n["time"])
    return notes, (bpm if bpm is not None else 120.0)


def loadLevel(manifest):
    with open(manifest) as f:
        doc = json.load(f)
    base = os.path.dirname(manifest)
    meta = doc.get("songMetaData")
    bpm = float(meta[0]["bpm"] if meta else doc.get("bpm", 120))
    stems = sorted(doc["stems"], key=lambda s: s.get("startOrder", 0))[:MAX_LAYERS]
    out = []
    for s in stems:
        audio = os.path.join(base, s["file"])
        length, samples = audioSeconds(audio)
        notes = []
        if s.get("midi") and s.get("playsNotes", True):
            notes, fileBpm = readChart(os.path.join(base, s["midi"]))
            ratio = fileBpm / bpm
            if abs(ratio - 1.0) >= 0.01:
                for n in notes:
                    n["time"] *= ratio
                    n["dur"] *= ratio
        out.append({"name": os.path.basename(s["file"]), "length": length, "samples": samples, "notes": notes})
    return out, bpm


def chartStats(stems):
    rows = []
    for s in stems:
        notes = s["notes"]
        holds = sum(1 for n in notes if n["channel"] == 1)
        bands = [0, 0, 0]
        for n in notes:
            bands[keyboardKey(n["note"], n["vel"])[1]] += 1
        keys = [n["note"] for n in notes] or [0]
        rows.append((s["name"], len(notes), holds, len(notes) / s["length"], bands, min(keys), max(keys)))
    return rows


class Circle:
    __slots__ = ("stem", "note", "vel", "time", "hold", "channel", "pressed", "done")

    def __init__(self, stem, n, due):
        self.stem, self.note, self.vel, self.time = stem, n["note"], n["vel"], due
        self.channel = n["channel"]
        self.hold = n["dur"] if n["channel"] == 1 else TAP_LIFETIME
        self.pressed = False
        self.done = False


def position(c, w, h):
    return (float(c.note * w) / 128.0, float(c.vel * h) / 128.0)


def simulate(stems, seconds):
    """Runs the bot; returns (unlock times per stem or None, successes, misses, faults)."""
    active = [i == 0 for i in range(len(stems))]
    unlock = [0.0] + [None] * (len(stems) - 1)
    layers, combo, comboAtCheck = 1, 0, 0
    misses = 0
    faults = []
    circles = []  # live circles in spawn order
    heldKeys = set()
    ticks = int(seconds / TICK)
    for tick in range(1, ticks + 1):
        now = tick * TICK
        # ---- main thread: retire judged circles, then the bot's presses and releases ----
        # A judged circle stays in the list until the next update removes it, and while it is
        # there the spawner will not make its note again.
        circles = [c for c in circles if not c.done]
        for c in circles:
            if not c.pressed and c.time <= now:
                faults.extend(checkPress(circles, c, now, heldKeys))
                c.pressed = True
                combo += 1
                if c.channel == 1:
                    heldKeys.add(keyboardKey(c.note, c.vel))
                else:
                    c.done = True
            elif c.pressed and c.channel == 1 and not c.done and now - c.time >= c.hold:
                c.done = True
                combo += 1
                heldKeys.discard(keyboardKey(c.note, c.vel))
        for c in circles:
            if not c.pressed and now - c.time > c.hold:
                misses += 1
                combo, comboAtCheck = 0, 0
                c.done = True
        # ---- logic thread: spawn, then the layer step ----
        for s, stem in enumerate(stems):
            if not active[s]:
                continue
            length = stem["length"]
            m = math.fmod(now, length)
            for n in stem["notes"]:
                ahead = n["time"] - m
                if ahead < -SPAWN_LATE_LIMIT:
                    ahead += length
                if ahead < -SPAWN_LATE_LIMIT or ahead > LOOKAHEAD:
                    continue
                due = now + ahead
                if any(c.stem == s and c.note == n["note"] and abs(c.time - due) < DUPLICATE_WINDOW for c in circles):
                    continue
                circles.append(Circle(s, n, due))
        if combo - comboAtCheck >= COMBO_PER_LAYER * layers and layers < MAX_LAYERS:
            nxt = next((i for i, a in enumerate(active) if not a), None)
            if nxt is not None:
                active[nxt] = True
                unlock[nxt] = now
                layers += 1
            comboAtCheck = combo
    return unlock, combo, misses, faults


def checkPress(circles, meant, now, heldKeys):
    """The game's target search for a press at the centre of `meant` (and for its key)."""
    faults = []
    for w, h in SCREENS:
        px, py = position(meant, w, h)
        best, bestD = None, None
        for c in circles:
            if c.pressed or c.done or c.time - now > EARLY_PRESS:
                continue
            x, y = position(c, w, h)
            d = math.hypot(x - px, y - py)
            if d <= TARGET_RADIUS + REACH_EXTRA and (bestD is None or d < bestD):
                best, bestD = c, d
            if c is not meant and d <= TARGET_RADIUS + REACH_EXTRA:
                faults.append("%.3fs: a press on %s key %d also reaches %s key %d (%dx%d)" % (
                    now, meant.stem, meant.note, c.stem, c.note, w, h))
        if best is not meant:
            faults.append("%.3fs: press lands on the wrong circle (%dx%d)" % (now, w, h))
    k = keyboardKey(meant.note, meant.vel)
    if k in heldKeys:
        faults.append("%.3fs: keyboard key of stem %d note %d is held by a hold note" % (now, meant.stem, meant.note))
    first = next((c for c in circles if not c.pressed and not c.done and c.time - now <= EARLY_PRESS and
                  keyboardKey(c.note, c.vel) == k), None)
    if first is not meant:
        faults.append("%.3fs: keyboard key of stem %d note %d picks another circle" % (now, meant.stem, meant.note))
    return faults


def report(manifest, seconds, out=sys.stdout):
    stems, bpm = loadLevel(manifest)
    print("%s: %d stems, %.1f BPM, loop %.3f s" % (manifest, len(stems), bpm, stems[0]["length"]), file=out)
    lengths = {s["samples"] for s in stems}
    if len(lengths) != 1:
        print("  FAULT: stems differ in length: %s" % sorted(lengths), file=out)
    for name, count, holds, rate, bands, kmin, kmax in chartStats(stems):
        print("  %-14s %4d notes (%3d holds) %4.2f/s  bands soft/mid/loud %3d/%3d/%3d  keys %3d..%3d" % (
            name, count, holds, rate, bands[0], bands[1], bands[2], kmin, kmax), file=out)
    unlock, successes, misses, faults = simulate(stems, seconds)
    for s, t in zip(stems, unlock):
        print("  unlock %-14s %s" % (s["name"], "%.2f s" % t if t is not None else "never"), file=out)
    print("  perfect play over %.0f s: %d successes, %d misses, %d faults" % (
        seconds, successes, misses, len(faults)), file=out)
    for f in faults[:10]:
        print("  FAULT: " + f, file=out)
    return {"unlock": unlock, "misses": misses, "faults": faults, "equalLengths": len(lengths) == 1}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("manifest")
    ap.add_argument("--seconds", type=float, default=200.0)
    ap.add_argument("--deadline", type=float, default=None,
                    help="fail unless every stem is unlocked within this many seconds")
    args = ap.parse_args()
    r = report(args.manifest, args.seconds)
    bad = r["misses"] or r["faults"] or not r["equalLengths"]
    if args.deadline is not None and any(t is None or t > args.deadline for t in r["unlock"]):
        print("  FAULT: not every stem unlocks within %.0f s" % args.deadline)
        bad = True
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
