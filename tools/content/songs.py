"""The songs of the shipped levels, composed as code.

Each song function returns a dict: folder name, title, tempo, bars, difficulty, description and
its stems in start order. A stem is a dict with the file stem name, the performance Part, the
lane (lowest and highest key its circles prefer), colour, animation and file format. Stems are
ordered so the first is the one a round starts with: a steady, dense part that gets the combo
going (drums for the songs, the hold-note pad for the tutorial).
"""

from music import Key
from parts import Song, arp, bass, comp, drums, melody, pad, perc

# GM drum keys
K, SN, CL, HH, OH, RD, TB, SH, RIM = 36, 38, 39, 42, 46, 51, 54, 70, 37

COLORS = {
    "drums": [1.0, 0.22, 0.62],
    "bass": [0.2, 0.42, 1.0],
    "chords": [0.68, 0.3, 1.0],
    "keys": [0.68, 0.3, 1.0],
    "stabs": [0.68, 0.3, 1.0],
    "arp": [0.0, 0.9, 1.0],
    "lead": [1.0, 0.76, 0.1],
    "pad": [0.2, 1.0, 0.6],
    "strings": [0.2, 1.0, 0.6],
    "perc": [1.0, 0.42, 0.18],
    "bells": [0.92, 0.88, 1.0],
    "melody": [1.0, 0.76, 0.1],
}

ANIMATION = {
    "drums": {"base": 1.0, "peak": 2.6, "lerpSpeed": 26.0},
    "bass": {"base": 1.0, "peak": 2.2, "lerpSpeed": 16.0},
    "chords": {"base": 1.0, "peak": 1.9, "lerpSpeed": 12.0},
    "keys": {"base": 1.0, "peak": 1.9, "lerpSpeed": 12.0},
    "stabs": {"base": 1.0, "peak": 2.1, "lerpSpeed": 22.0},
    "arp": {"base": 0.9, "peak": 1.7, "lerpSpeed": 30.0},
    "lead": {"base": 1.0, "peak": 2.0, "lerpSpeed": 18.0},
    "melody": {"base": 1.0, "peak": 2.0, "lerpSpeed": 18.0},
    "pad": {"base": 1.2, "peak": 1.6, "lerpSpeed": 5.0},
    "strings": {"base": 1.2, "peak": 1.6, "lerpSpeed": 6.0},
    "perc": {"base": 1.0, "peak": 2.3, "lerpSpeed": 28.0},
    "bells": {"base": 1.0, "peak": 1.8, "lerpSpeed": 9.0},
}


def stem(name, part, lane, instrument, fmt="ogg", role=None, color=None, animation=None):
    role = role or name
    return {
        "name": name,
        "part": part,
        "lane": lane,
        "instrument": instrument,
        "format": fmt,
        "color": color or COLORS[role],
        "animation": animation or ANIMATION[role],
    }


def cueDrums(kick=(0, 8), snare=(4, 12), extra=()):
    """Chart rule for a kit: kicks left and soft, snares right of them and loud."""

    def rule(drum, step, barInSection):
        if drum == K and step in kick:
            return (0.1 + 0.05 * (step // 4), 1 if step == 0 else 0)
        if drum in (SN, CL) and step in snare:
            return (0.75, 2)
        if (drum, step) in extra:
            return (0.45, 1)
        return None

    return rule


# ---- Tutorial: First Light ----


def firstLight():
    key = Key(60, "major")  # C major
    song = Song(key, 84, [("A", 8)], {"A": [0, 5, 3, 4, 0, 5, 1, 4]}, seed="firstlight")
    padPart = pad(song, program=89, centre=60, size=3, volume=64, holdBeats=2.5, reverb=90)
    cells = {"A": [[(0, 1), (1, 1), (2, 1.5), (3.5, 0.5)], [(0, 1.5), (1.5, 0.5), (2, 1), (3, 1)],
                   [(0, 3)]]}
    bells = melody(song, program=11, lo=67, hi=84, rhythms=cells, volume=124, holdFrom=99, minGap=1.0,
                   reverb=70)
    brush = drums(song, kit=40, volume=96, fillEvery=0, reverb=40,
                  patterns={"A": {K: "x.......x.....o.", SN: "....x.......x...", 44: "..o...o...o...o."}},
                  cueRule=cueDrums(kick=(0,), snare=(4, 12)))
    return {
        "folder": "tutorialsong", "title": "First Light", "bpm": 84, "bars": 8, "difficulty": 1,
        "description": "A gentle tutorial song", "key": "C major",
        "stems": [
            stem("pad", padPart, (30, 90), "Warm pad"),
            stem("melody", bells, (40, 110), "Vibraphone", fmt="flac", role="bells"),
            stem("brushes", brush, (14, 80), "Brush kit", role="drums"),
        ],
    }


# ---- Level 1: Sunrise Groove ----


def sunriseGroove():
    key = Key(53, "major")  # F major
    song = Song(key, 96, [("A", 8), ("B", 8), ("A", 8)],
                {"A": [0, 5, 1, 4], "B": [3, 4, 2, 5]}, seed="sunrise")
    kit = drums(song, kit=0, volume=122, fillStyle="sparse",
                patterns={
                    "A": {K: "x.....x...x.....", SN: "....x.......x...", HH: "x.x.x.x.x.x.x.xo"},
                    "B": {K: "x.....x.x.......", SN: "....x.......x..g", HH: "x.x.x.x.x.x.x.x.",
                          OH: "..............x."},
                },
                cueRule=cueDrums(kick=(0,), snare=(4, 12), extra=((K, 10),)))
    bassPart = bass(song, program=33, volume=104, cueSteps=(0, 8), patterns={
        "A": [(0, 6, "R"), (6, 2, "5"), (8, 4, "8"), (12, 2, "5"), (14, 2, "a")],
        "B": [(0, 8, "R"), (8, 4, "5"), (12, 4, "3")],
    }, holdFrom=8)
    keys = comp(song, program=4, centre=65, size=4, volume=72, cueSteps=(0, 10),
                rhythms={"A": "x.....o...x.....", "B": "x.......x.o....."})
    leadCells = {
        "A": [[(0, 1.5), (1.5, 0.5), (2, 1), (3, 1)], [(0, 1), (1, 1), (2, 2)], [(0, 0.5), (0.5, 3.5)]],
        "B": [[(0, 1), (1, 0.5), (1.5, 0.5), (2, 2)], [(0, 2), (2, 1), (3, 1)], [(0, 4)]],
    }
    lead = melody(song, program=73, lo=65, hi=86, rhythms=leadCells, volume=100, holdFrom=1.5, minGap=1.0,
                  reverb=70)
    strings = pad(song, program=48, centre=60, size=3, volume=96, holdBeats=3.0, cueEvery=2)
    return {
        "folder": "sunrise_groove", "title": "Sunrise Groove", "bpm": 96, "bars": 24, "difficulty": 1,
        "key": "F major",
        "description": "Easy. A warm, laid-back groove with room to breathe between the beats.",
        "stems": [
            stem("drums", kit, (12, 64), "Acoustic kit"),
            stem("bass", bassPart, (10, 56), "Fingered bass"),
            stem("keys", keys, (34, 96), "Electric piano"),
            stem("lead", lead, (52, 118), "Flute"),
            stem("strings", strings, (30, 100), "String ensemble"),
        ],
    }


# ---- Level 2: Neon Drive (also the default level) ----


def neonDrive():
    key = Key(57, "minor")  # A minor
    song = Song(key, 112, [("V", 8), ("C", 8), ("B", 8), ("C", 8)],
                {"V": [0, 5, 2, 6], "C": [5, 6, 2, 0], "B": [3, 5, 4, 6]}, seed="neondrive")
    kit = drums(song, kit=25, volume=108, patterns={
        "V": {K: "x.......x.......", SN: "....x.......x...", HH: "x.x.x.x.x.x.x.x."},
        "C": {K: "x.....x.x.......", SN: "....x.......x...", HH: "xxx.xxx.xxx.xxx.", OH: "..............x."},
        "B": {K: "x.......x.x.....", SN: "....x.......x...", HH: "x.x.x.x.x.x.x.x."},
    }, cueRule=cueDrums(kick=(0, 8), snare=(4, 12), extra=((K, 6), (K, 10))))
    bassPart = bass(song, program=38, volume=120, cueSteps=(0, 6, 10), patterns={
        "V": [(s, 2, "R" if s % 8 else "8") for s in range(0, 16, 2)],
        "C": [(0, 2, "R"), (2, 2, "R"), (4, 2, "8"), (6, 2, "R"), (8, 2, "R"), (10, 2, "5"), (12, 2, "8"),
              (14, 2, "a")],
        "B": [(0, 6, "R"), (6, 2, "5"), (8, 2, "8"), (10, 6, "5")],
    })
    chords = comp(song, program=90, centre=64, size=3, volume=74, cueSteps=(0, 6, 10), pan=52,
                  rhythms={"V": "x.....x...x.....", "C": "x..x..x...x..x..", "B": "x.......x......."},
                  holdSteps=(0,))
    arpPart = arp(song, program=81, centre=72, order=[0, 1, 2, 3, 4, 3, 2, 1], rate=4, volume=70,
                  cueSteps=(0, 8), pan=80)
    leadCells = {
        "V": [[(0, 1), (1, 0.5), (1.5, 0.5), (2, 1), (3, 1)], [(0, 1.5), (1.5, 0.5), (2, 2)],
              [(0, 0.5), (0.5, 0.5), (1, 3)]],
        "C": [[(0, 0.5), (0.5, 0.5), (1, 1), (2, 0.5), (2.5, 1.5)], [(0, 1), (1, 1), (2, 1), (3, 1)],
              [(0, 2), (2, 2)]],
        "B": [[(0, 2), (2, 1), (3, 1)], [(0, 1.5), (1.5, 2.5)], [(0, 4)]],
    }
    lead = melody(song, program=80, lo=69, hi=93, rhythms=leadCells, volume=88, holdFrom=2.0, minGap=0.5,
                  chorus=40)
    padPart = pad(song, program=88, centre=64, size=4, volume=74, holdBeats=3.0, cueEvery=2)
    percPart = perc(song, kit=0, volume=112, pan=72, patterns={
        "V": {TB: "....x.......x...", SH: "x.x.x.x.x.x.x.x."},
        "C": {CL: "....x.......x...", TB: "..x...x...x...x.", SH: "xxxxxxxxxxxxxxxx"},
        "B": {TB: "....x.......x...", SH: "x.x.x.x.x.x.x.x."},
    }, cueRule=lambda d, s, b: (0.5, 1) if (d == CL and s == 12) or (d == TB and s == 4) else
                (0.8, 0) if d == TB and s == 14 else None)
    return {
        "folder": "neon_drive", "title": "Neon Drive", "bpm": 112, "bars": 32, "difficulty": 2,
        "key": "A minor",
        "description": "Medium. A synthwave night ride: steady beats, pulsing bass and a soaring lead.",
        "stems": [
            stem("drums", kit, (12, 66), "TR-808 kit"),
            stem("bass", bassPart, (10, 58), "Synth bass"),
            stem("chords", chords, (30, 96), "Poly synth"),
            stem("lead", lead, (50, 118), "Square lead"),
            stem("arp", arpPart, (56, 118), "Saw arpeggio"),
            stem("pad", padPart, (24, 104), "New age pad"),
            stem("perc", percPart, (20, 110), "Claps and shakers"),
        ],
    }


# ---- Level 3: Hyperlane ----


def hyperlane():
    key = Key(52, "minor")  # E minor
    song = Song(key, 140, [("A", 8), ("B", 8), ("C", 8), ("B", 8), ("A", 8)],
                {"A": [0, 5, 2, 6], "B": [0, 3, 5, 4], "C": [5, 6, 3, 4]}, seed="hyperlane")
    kit = drums(song, kit=24, volume=125, patterns={
        "A": {K: "x...x...x...x...", SN: "....x.......x...", HH: "..x...x...x...x."},
        "B": {K: "x...x...x...x.x.", SN: "....x.......x...", HH: "..x...x...x...x.", RD: "x.x.x.x.x.x.x.x."},
        "C": {K: "x.....x...x.....", SN: "....x.......x..g", HH: "x.xxx.xxx.xxx.xx"},
    }, cueRule=cueDrums(kick=(0, 8, 6, 10, 14), snare=(4, 12)))
    bassPart = bass(song, program=39, volume=100, cueSteps=(0, 6, 10, 14), patterns={
        "A": [(0, 2, "R"), (2, 2, "8"), (4, 2, "R"), (6, 2, "8"), (8, 2, "R"), (10, 2, "5"), (12, 2, "8"),
              (14, 2, "R")],
        "B": [(0, 3, "R"), (3, 3, "R"), (6, 2, "8"), (8, 3, "R"), (11, 3, "5"), (14, 2, "a")],
        "C": [(0, 6, "R"), (6, 4, "5"), (10, 4, "8"), (14, 2, "a")],
    })
    hats = perc(song, kit=0, volume=110, pan=84, patterns={
        "A": {OH: "..x...x...x...x.", SH: "xxxxxxxxxxxxxxxx"},
        "B": {OH: "..x...x...x...x.", TB: "....x.......x...", SH: "xxxxxxxxxxxxxxxx"},
        "C": {OH: "..x.......x.....", CL: "....x.......x...", SH: "x.x.x.x.x.x.x.x."},
    }, cueRule=lambda d, s, b: (0.3 + 0.04 * s, 0) if d == OH and s in (2, 10) else
                (0.7, 1) if d in (TB, CL) and s == 12 else None)
    stabs = comp(song, program=62, centre=62, size=3, volume=70, cueSteps=(0, 3, 6, 10), pan=48,
                 rhythms={"A": "x..x..x...x.....", "B": "x..x..x...x..x..", "C": "x.......x......."},
                 length=0.6, holdSteps=None)
    arpPart = arp(song, program=80, centre=76, order=[0, 2, 1, 3, 2, 4, 3, 1], rate=4, volume=80,
                  cueSteps=(0, 4, 8, 12), pan=40, gate=0.6)
    leadCells = {
        "A": [[(0, 0.5), (0.5, 0.5), (1, 0.5), (1.5, 0.5), (2, 1), (3, 1)], [(0, 1), (1, 1), (2, 0.5),
              (2.5, 1.5)], [(0, 0.5), (0.5, 0.5), (1, 3)]],
        "B": [[(0, 1), (1, 0.5), (1.5, 0.5), (2, 0.5), (2.5, 0.5), (3, 1)], [(0, 0.5), (0.5, 1.5), (2, 2)],
              [(0, 2.5), (2.5, 0.5), (3, 1)]],
        "C": [[(0, 2), (2, 1), (3, 1)], [(0, 1.5), (1.5, 0.5), (2, 2)], [(0, 4)]],
    }
    lead = melody(song, program=81, lo=71, hi=95, rhythms=leadCells, volume=84, holdFrom=2.0, minGap=0.5,
                  chorus=30)
    padPart = pad(song, program=91, centre=64, size=4, volume=76, holdBeats=3.0, cueEvery=1)
    bellCells = {
        "A": [[(0, 2), (2, 2)], [(0, 2), (2, 1), (3, 1)], [(0, 4)]],
        "B": [[(1, 1), (2, 2)], [(0, 1), (1, 1), (2, 2)], [(0, 4)]],
        "C": [[(0, 2), (2, 2)], [(0, 4)], [(0, 4)]],
    }
    bells = melody(song, program=9, lo=76, hi=96, rhythms=bellCells, volume=120, holdFrom=99, minGap=1.0,
                   reverb=90, pan=90)
    return {
        "folder": "hyperlane", "title": "Hyperlane", "bpm": 140, "bars": 40, "difficulty": 4,
        "key": "E minor",
        "description": "Hard. A fast trance run with eight layers and notes from every direction.",
        "stems": [
            stem("drums", kit, (12, 64), "Electronic kit"),
            stem("bass", bassPart, (10, 56), "Synth bass"),
            stem("hats", hats, (40, 116), "Hats and shakers", role="perc"),
            stem("stabs", stabs, (28, 96), "Synth brass"),
            stem("arp", arpPart, (60, 118), "Square arpeggio"),
            stem("lead", lead, (50, 118), "Saw lead"),
            stem("pad", padPart, (24, 104), "Choir pad"),
            stem("bells", bells, (40, 118), "Glockenspiel"),
        ],
    }


SONGS = [firstLight, sunriseGroove, neonDrive, hyperlane]
DEFAULT_LEVEL = "neon_drive"
