"""Part generators: drums, bass, comping chords, pads, arpeggios, melodies and percussion.

Each generator writes performed notes into a Part and marks a chosen few of them as chart cues:
the notes a player would naturally tap (kick and snare rather than hi-hats, chord changes rather
than every arpeggio step, the sung line of a melody). Long notes of pads and melodies become hold
cues. A Song supplies the key, the bar-by-bar chords and the section of each bar.
"""

import random

from music import DRUM_CHANNEL, Part, humanise, nearestVoicing, steps16


class Song:
    """Key, tempo and form of one song.

    sections: list of (label, number of bars); chords: per section label a list of chord degrees
    (scale degree of the root), cycled over the section's bars.
    """

    def __init__(self, key, bpm, sections, chords, seed):
        self.key, self.bpm, self.seed = key, bpm, seed
        self.bars = []  # per bar: (section label, bar index inside the section, chord degree)
        for label, count in sections:
            prog = chords[label]
            for i in range(count):
                self.bars.append((label, i, prog[i % len(prog)]))

    @property
    def beats(self):
        return 4 * len(self.bars)

    def rng(self, *salt):
        return random.Random("%s:%s" % (self.seed, ":".join(str(s) for s in salt)))


VEL = {"X": 118, "x": 100, "o": 78, "g": 50}


def drums(song, kit, patterns, cueRule, volume=110, fillEvery=8, fillStyle="toms", reverb=30):
    """Drum kit on the percussion channel.

    patterns: section label -> {drum key: 16-step string}; step letters give the strength
    (X accent, x normal, o soft, g ghost). cueRule(drumKey, step, barInSection) -> (pref, band) or
    None chooses the charted hits. The last bar of every fillEvery bars ends in a fill whose hits
    are charted too.
    """
    part = Part(program=kit, channel=DRUM_CHANNEL, volume=volume, reverb=reverb)
    for bar, (label, inSec, _) in enumerate(song.bars):
        rng = song.rng("drums", bar)
        pat = patterns[label]
        fill = fillEvery and (bar + 1) % fillEvery == 0
        for drum, steps in pat.items():
            for step, ch in enumerate(steps):
                if ch in ".- ":
                    continue
                if fill and step >= 12 and drum != 36:
                    continue
                beat = 4 * bar + step / 4.0
                part.add(beat, 0.25, drum, humanise(rng, VEL[ch], 4))
                if fill and step >= 12:
                    continue
                c = cueRule(drum, step, inSec)
                if c:
                    part.cue(beat, c[0], c[1])
        if fill:
            toms = [50, 48, 47, 45] if fillStyle == "toms" else [38, 38, 38, 38]
            for i, step in enumerate((12, 13, 14, 15) if fillStyle != "sparse" else (12, 14)):
                drum = toms[i % len(toms)]
                beat = 4 * bar + step / 4.0
                part.add(beat, 0.25, drum, humanise(rng, 96 + 6 * i, 3))
                if step % 2 == 0:
                    part.cue(beat, 0.35 + 0.15 * i, 1 if step == 12 else 2)
            part.add(4 * bar + 4.0, 1.0, 49, 110)  # crash into the next phrase
    return part


def bass(song, program, patterns, octave=-1, volume=100, holdFrom=None, cueSteps=(0, 8), reverb=20):
    """Bass line from per-section patterns of (step, length in steps, tone).

    tone: 'R' root, '5' fifth, '8' octave, '3' third, '7' seventh, 'a' approach note (scale step
    below the next bar's root). Notes starting on cueSteps are charted; notes of at least holdFrom
    steps become holds.
    """
    key = song.key
    part = Part(program=program, channel=0, volume=volume, reverb=reverb)
    base = key.pitch(0, octave)
    lo, hi = base - 5, base + 19

    def root(deg):
        # The chord root folded into the octave around the song's tonic, so fifths and octaves
        # above it stay in a bass register.
        r = key.pitch(deg, octave)
        while r >= base + 7:
            r -= 12
        while r < base - 5:
            r += 12
        return r

    offs = {"R": 0, "3": 2, "5": 4, "7": 6, "8": 7}
    for bar, (label, inSec, deg) in enumerate(song.bars):
        rng = song.rng("bass", bar)
        nextDeg = song.bars[(bar + 1) % len(song.bars)][2]
        r = root(deg)
        for step, length, tone in patterns[label]:
            if tone == "a":
                nr = root(nextDeg)
                pitch = nr - (key.pitch(nextDeg, octave) - key.pitch(nextDeg - 1, octave))
            else:
                pitch = r + key.pitch(deg + offs[tone], octave) - key.pitch(deg, octave)
            beat = 4 * bar + step / 4.0
            vel = 104 if step == 0 else (92 if step % 4 == 0 else 80)
            part.add(beat, length / 4.0 * 0.92, pitch, humanise(rng, vel, 5))
            if step in cueSteps:
                pref = (pitch - lo) / float(hi - lo)
                band = 2 if step == 0 else (1 if step % 8 == 0 else 0)
                hold = 0.0
                if holdFrom and length >= holdFrom:
                    hold = length / 4.0 - 0.5
                part.cue(beat, pref, band, hold)
    return part


def comp(song, program, rhythms, centre, size=3, volume=90, cueSteps=(0,), length=1.0, reverb=50,
         chorus=30, pan=64, holdSteps=None):
    """Chord hits (keys, stabs, guitars) on per-section rhythms (16-step strings).

    The chord is voiced close around centre. Hits on cueSteps are charted; with holdSteps a hit on
    one of those steps becomes a hold lasting its length minus half a beat.
    """
    key = song.key
    part = Part(program=program, channel=0, volume=volume, reverb=reverb, chorus=chorus, pan=pan)
    for bar, (label, inSec, deg) in enumerate(song.bars):
        rng = song.rng("comp", bar)
        pattern = rhythms[label]
        hits = steps16(pattern)
        voicing = nearestVoicing(key.chord(deg, size), centre)
        for i, step in enumerate(hits):
            nxt = hits[i + 1] if i + 1 < len(hits) else 16
            dur = min(length * (nxt - step) / 4.0, (nxt - step) / 4.0)
            beat = 4 * bar + step / 4.0
            vel = VEL.get(pattern[step], 90)
            for p in voicing:
                part.add(beat, dur * 0.95, p, humanise(rng, vel - 8, 4))
            if step in cueSteps:
                # Across the lane by the voicing's height and the chord's root.
                pref = 0.6 * (voicing[-1] - centre + 8) / 20.0 + 0.4 * (deg % 7) / 6.0
                band = 2 if step == 0 and inSec % 2 == 0 else (1 if step % 8 == 0 else 0)
                hold = 0.0
                if holdSteps and step in holdSteps and dur >= 1.0:
                    hold = dur - 0.5
                part.cue(beat, pref, band, hold)
    return part


def pad(song, program, centre, size=4, volume=80, holdBeats=2.5, cueEvery=1, reverb=80, chorus=60,
        skip=()):
    """Sustained chords, one per bar, tied over when the chord repeats. A hold cue on the first
    beat of every cueEvery-th bar of a section, lasting holdBeats."""
    key = song.key
    part = Part(program=program, channel=0, volume=volume, reverb=reverb, chorus=chorus)
    bar = 0
    n = len(song.bars)
    while bar < n:
        label, inSec, deg = song.bars[bar]
        span = 1
        while bar + span < n and song.bars[bar + span][2] == deg and span < 2:
            span += 1
        voicing = nearestVoicing(key.chord(deg, size), centre)
        rng = song.rng("pad", bar)
        for p in voicing:
            part.add(4 * bar, 4 * span - 0.1, p, humanise(rng, 72, 4))
        for b in range(bar, bar + span):
            lab, ins, d = song.bars[b]
            if lab in skip or ins % cueEvery:
                continue
            # Chords move across the screen with their root, so progressions draw a path.
            pref = 0.1 + 0.8 * (d % 7) / 6.0
            band = 2 if ins == 0 else (1 if ins % 2 == 0 else 0)
            part.cue(4 * b, pref, band, holdBeats)
        bar += span
    return part


def arp(song, program, centre, order, rate=4, volume=85, cueSteps=(0, 8), reverb=50, chorus=20,
        pan=64, size=4, gate=0.8):
    """Arpeggio over the bar's chord: order lists chord-tone indices (wrapping into the next
    octave), rate is notes per beat. Notes on cueSteps (16ths of the bar) are charted."""
    key = song.key
    part = Part(program=program, channel=0, volume=volume, reverb=reverb, chorus=chorus, pan=pan)
    for bar, (label, inSec, deg) in enumerate(song.bars):
        rng = song.rng("arp", bar)
        tones = nearestVoicing(key.chord(deg, size), centre)
        count = 4 * rate
        for i in range(count):
            idx = order[i % len(order)]
            pitch = tones[idx % len(tones)] + 12 * (idx // len(tones))
            beat = 4 * bar + i / float(rate)
            step = int(round(i * 4 / rate))
            vel = 96 if i % rate == 0 else 72
            part.add(beat, gate / rate, pitch, humanise(rng, vel, 5))
            if step in cueSteps and i * 4 % rate == 0:
                pref = (pitch - centre + 8) / 22.0
                band = 2 if step == 0 else (1 if step % 8 == 0 else 0)
                part.cue(beat, pref, band)
    return part


def melody(song, program, lo, hi, rhythms, volume=100, holdFrom=1.5, minGap=0.5, reverb=60,
           chorus=20, pan=64, rests=(), octaveShift=0):
    """A melody in four-bar phrases built from two-bar rhythm cells.

    rhythms: section label -> list of bar rhythms, each a list of (start beat, length in beats).
    Phrase = cell A, cell B, cell A varied, cadence; the same section label yields the same phrase
    (its notes are seeded by the label), so choruses come back recognisably. Strong beats take
    chord tones, weak beats move by scale step. Notes at least minGap apart are charted; notes of
    holdFrom beats or more become holds. Sections listed in rests are silent.
    """
    key = song.key
    part = Part(program=program, channel=0, volume=volume, reverb=reverb, chorus=chorus, pan=pan)
    lastCue = -99.0
    mid = (lo + hi) // 2
    prev = mid
    for bar, (label, inSec, deg) in enumerate(song.bars):
        if label in rests:
            continue
        phraseBar = inSec % 4
        cells = rhythms[label]
        cellIndex = {0: 0, 1: 1, 2: 0, 3: 2}[phraseBar] % len(cells)
        rng = song.rng("melody", label, inSec // 4 % 2, phraseBar)
        chord = key.chord(deg, 3)
        for start, dur in cells[cellIndex]:
            strong = start % 2 == 0
            if strong or (phraseBar == 3 and dur >= 1):
                cands = [p + 12 * o for p in chord for o in range(-3, 4)]
            else:
                d = key.degreeOf(prev) + rng.choice((-2, -1, -1, 1, 1, 2))
                cands = [key.pitch(d)]
            cands = [p + 12 * octaveShift for p in cands]
            cands = [p for p in cands if lo <= p <= hi] or [prev]
            # Step away from the last note, drawn back toward the middle of the range.
            target = prev + rng.choice((-3, -2, -1, 1, 2, 3)) + int(round((mid - prev) * 0.35))
            moving = [p for p in cands if p != prev and abs(p - prev) <= 7]
            if strong and moving and rng.random() < 0.75:
                cands = moving
            pitch = min(cands, key=lambda p: (abs(p - target), p))
            beat = 4 * bar + start
            vel = 104 if start == 0 else (92 if strong else 80)
            part.add(beat, dur * 0.94, pitch, humanise(rng, vel, 5))
            prev = pitch
            if beat - lastCue >= minGap - 1e-9 and start == int(start * 2) / 2.0:
                pref = (pitch - lo) / float(hi - lo)
                band = 2 if start == 0 else (1 if strong else 0)
                hold = dur - 0.5 if dur >= holdFrom else 0.0
                part.cue(beat, pref, band, hold)
                lastCue = beat + hold
    return part


def perc(song, kit, patterns, cueRule, volume=90, reverb=40, pan=64):
    """Hand percussion (claps, shakers, tambourines) on the drum channel; like drums, no fills."""
    part = Part(program=kit, channel=DRUM_CHANNEL, volume=volume, reverb=reverb, pan=pan)
    for bar, (label, inSec, _) in enumerate(song.bars):
        rng = song.rng("perc", bar)
        for drum, steps in patterns[label].items():
            for step, ch in enumerate(steps):
                if ch in ".- ":
                    continue
                beat = 4 * bar + step / 4.0
                part.add(beat, 0.25, drum, humanise(rng, VEL[ch], 5))
                c = cueRule(drum, step, inSec)
                if c:
                    part.cue(beat, c[0], c[1])
    return part
