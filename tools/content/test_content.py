#!/usr/bin/python3
"""Tests for the chart placement and the perfect-play simulation.

    /usr/bin/python3 -m unittest discover -s tools/content -p 'test_*.py'
"""

import itertools
import os
import random
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import charts  # noqa: E402
import simulate  # noqa: E402
from make_levels import thinCues  # noqa: E402
from music import Cue  # noqa: E402


def tap(t, note=64, vel=64):
    return {"time": t, "note": note, "vel": vel, "channel": 0, "dur": 0.05}


def hold(t, dur, note=64, vel=64):
    return {"time": t, "note": note, "vel": vel, "channel": 1, "dur": dur}


def stemOf(notes, length=60.0):
    return {"name": "s", "length": length, "samples": int(length * 44100), "notes": notes}


class Placement(unittest.TestCase):
    def test_CirclesWithOverlappingWindowsStayApartAcrossStemsAndTheLoopEnd(self):
        rng = random.Random(7)
        bpm, beats = 140, 32
        loop = beats * 60.0 / bpm
        stems = []
        for s in range(6):
            cues = [Cue(b / 2.0, 1.0 if rng.random() < 0.1 else 0.0, rng.random(), rng.randrange(3))
                    for b in range(0, 2 * beats) if rng.random() < 0.6]
            stems.append(((10 + 10 * s, 60 + 10 * s), cues))
        placed, dropped = charts.placeLevel(stems, bpm, loop)
        flat = [(b * 60.0 / bpm, h * 60.0 / bpm, k, v) for notes in placed for b, h, k, v in notes]
        self.assertEqual(sum(len(c) for _, c in stems), len(flat) + dropped)
        self.assertLess(dropped, len(flat) // 20)
        for (t1, h1, k1, v1), (t2, h2, k2, v2) in itertools.combinations(flat, 2):
            if charts.overlapsWrapped(charts.judgeWindow(t1, h1), charts.judgeWindow(t2, h2), loop):
                self.assertGreaterEqual(charts.distance(k1, v1, k2, v2), charts.MIN_SEP)
                self.assertNotEqual(charts.keyboardKey(k1, v1), charts.keyboardKey(k2, v2))
        for t, h, k, v in flat:
            self.assertTrue(charts.KEY_MIN <= k <= charts.KEY_MAX and 1 <= v <= 127)

    def test_ThinningKeepsAGapAfterEachHoldEnds(self):
        cues = [Cue(0, 2.0, 0.5, 1), Cue(1.0, 0, 0.5, 1), Cue(2.25, 0, 0.5, 1), Cue(2.5, 0, 0.5, 1),
                Cue(2.75, 0, 0.5, 1)]
        self.assertEqual([c.beat for c in thinCues(cues, 0.5)], [0, 2.5])


class PerfectPlay(unittest.TestCase):
    def test_EachLayerNeedsFiveHitsPerActiveLayerSinceTheLastRise(self):
        notes = [tap(0.5 + 0.5 * i) for i in range(100)]
        stems = [stemOf(notes), stemOf([]), stemOf([])]
        unlock, successes, misses, faults = simulate.simulate(stems, 20.0)
        self.assertEqual((misses, faults), (0, []))
        # Only stem 0 charts notes: the 5th hit (2.5 s) adds stem 1, ten more (7.5 s) stem 2.
        self.assertAlmostEqual(unlock[1], 2.5, delta=0.02)
        self.assertAlmostEqual(unlock[2], 7.5, delta=0.02)

    def test_AHoldCountsOnPressAndOnCompletion(self):
        stems = [stemOf([hold(1.0 + 2.0 * i, 1.0) for i in range(10)]), stemOf([])]
        unlock, successes, misses, faults = simulate.simulate(stems, 6.5)
        self.assertEqual(successes, 6)
        self.assertAlmostEqual(unlock[1], 5.0, delta=0.02)  # 5th success: third hold pressed

    def test_ACircleOnlyReachedBeforeItsStemJoinsIsNeitherSpawnedNorMissed(self):
        stems = [stemOf([tap(0.5 + 0.5 * i, note=20) for i in range(100)]),
                 stemOf([tap(1.0, note=100)] + [tap(10.0, note=100)])]
        unlock, successes, misses, faults = simulate.simulate(stems, 11.9)
        self.assertEqual(misses, 0)
        self.assertGreater(unlock[1], 1.0)
        self.assertEqual(successes, 23 + 1)

    def test_TwoLiveCirclesWithinReachAreReported(self):
        stems = [stemOf([tap(1.0, note=60, vel=64)]), stemOf([])]
        clash = [stemOf([tap(1.0, note=60, vel=64), tap(1.05, note=64, vel=70)])]
        self.assertEqual(simulate.simulate(stems, 3.0)[3], [])
        self.assertTrue(simulate.simulate(clash, 3.0)[3])

    def test_SameKeyboardKeyWhileAHoldIsDownIsReported(self):
        far = [stemOf([hold(1.0, 1.0, note=16, vel=64), tap(1.5, note=31, vel=80)])]
        faults = simulate.simulate(far, 3.0)[3]
        self.assertTrue(any("held by a hold note" in f for f in faults))


if __name__ == "__main__":
    unittest.main()
