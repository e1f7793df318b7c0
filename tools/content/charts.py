"""Turns chart cues into circle positions (MIDI key and velocity) for a whole level at once.

In the game a circle's x is key * width / 128 and its y is velocity * height / 128, so the key
and velocity of a chart note are its place on screen. A press is judged against the nearest
unjudged circle within 102 px (target radius 100 + 2) whose time is at most 0.1 s ahead, so two
circles whose judgement windows overlap must sit far enough apart that no press near one can
reach the other: we keep their centres at least two reaches apart on a 1280 x 720 screen (a
larger screen only spreads them further). They must also differ in keyboard key (eight lanes of
16 key numbers, three velocity bands), or one key press could land on the wrong circle.

Every stem of a level ends up playing at once and the charts loop, so the placement looks at all
stems together and at the wrap from the loop end to its start.
"""

import math

REF_W, REF_H = 1280, 720
REACH = 102.0
MIN_SEP = 2 * REACH
KEY_MIN, KEY_MAX = 10, 118  # keeps a full-size circle on a 16:9 screen
BAND_VELS = (list(range(20, 41, 4)), list(range(44, 85, 4)), list(range(88, 113, 4)))
BAND_CENTRE = (30, 64, 100)
WINDOW_MARGIN = 0.05  # seconds of slack around each judgement window
CROWD_SPAN = 1.0  # seconds within which circles near each other still cost a little


def band(velocity):
    return 0 if velocity < 42 else (1 if velocity <= 85 else 2)


def keyboardKey(key, velocity):
    """The keyboard lane and row a circle gets in keyboard gameplay."""
    return (min(key, 127) // 16, band(velocity))


def judgeWindow(t, hold):
    """Seconds during which a circle at t can take a press or is held (tap: 0.1 early to 0.2 late;
    hold: until 0.3 s past its end), widened by a small margin."""
    end = t + (hold + 0.3 if hold > 0 else 0.2)
    return (t - 0.1 - WINDOW_MARGIN, end + WINDOW_MARGIN)


def overlapsWrapped(a, b, loop):
    for shift in (-loop, 0.0, loop):
        if a[0] < b[1] + shift and b[0] + shift < a[1]:
            return True
    return False


def wrappedGap(t1, t2, loop):
    d = (t2 - t1) % loop
    return min(d, loop - d)


def distance(k1, v1, k2, v2):
    return math.hypot((k1 - k2) * REF_W / 128.0, (v1 - v2) * REF_H / 128.0)


class Placement:
    """One placed circle: time and hold in seconds and beats, position, stem."""

    __slots__ = ("t", "hold", "beat", "holdBeats", "key", "vel", "stem", "window")

    def __init__(self, t, hold, beat, holdBeats, key, vel, stem):
        self.t, self.hold, self.beat, self.holdBeats = t, hold, beat, holdBeats
        self.key, self.vel, self.stem = key, vel, stem
        self.window = judgeWindow(t, hold)


def _candidates(lane, cue):
    """All positions for a cue with their base cost (distance from where the music wants it)."""
    kmin, kmax = lane
    kpref = kmin + cue.pref * (kmax - kmin)
    out = []
    for b, vels in enumerate(BAND_VELS):
        bandCost = 0.0 if b == cue.band else 40.0
        for v in vels:
            vcost = 0.4 * abs(v - BAND_CENTRE[b])
            for k in range(KEY_MIN, KEY_MAX + 1, 2):
                out.append((abs(k - kpref) + vcost + bandCost, k, v))
    out.sort()
    return out


def placeLevel(stems, bpm, loopSeconds):
    """Assigns a position to every cue of every stem.

    stems: list of (lane, cues) in stem order; lane is the (lowest, highest) key the stem prefers.
    Returns (per-stem list of (beat, holdBeats, key, velocity), number of cues dropped because no
    position kept clear of the circles around them).
    """
    spb = 60.0 / bpm
    order = []
    for s, (lane, cues) in enumerate(stems):
        for c in cues:
            order.append((c.beat * spb, s, c, lane))
    order.sort(key=lambda e: (e[0], e[1]))

    placed = []
    dropped = 0
    for t, s, cue, lane in order:
        hold = cue.hold * spb
        window = judgeWindow(t, hold)
        hard = [p for p in placed if overlapsWrapped(window, p.window, loopSeconds)]
        near = [p for p in placed if p not in hard and wrappedGap(t, p.t, loopSeconds) < CROWD_SPAN]
        hardKeys = {keyboardKey(p.key, p.vel) for p in hard}
        best = None
        for base, k, v in _candidates(lane, cue):
            if best is not None and base >= best[0]:
                break
            if keyboardKey(k, v) in hardKeys:
                continue
            if any(distance(k, v, p.key, p.vel) < MIN_SEP for p in hard):
                continue
            crowd = 0.0
            for p in near:
                d = distance(k, v, p.key, p.vel)
                if d < MIN_SEP:
                    closeness = 1.0 - wrappedGap(t, p.t, loopSeconds) / CROWD_SPAN
                    crowd += 15.0 * (1.0 - d / MIN_SEP) * closeness
            total = base + crowd
            if best is None or total < best[0]:
                best = (total, k, v)
        if best is None:
            dropped += 1
            continue
        placed.append(Placement(t, hold, cue.beat, cue.hold, best[1], best[2], s))

    out = [[] for _ in stems]
    for p in placed:
        out[p.stem].append((p.beat, p.holdBeats, p.key, p.vel))
    return out, dropped
