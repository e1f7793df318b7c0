#!/usr/bin/python3
"""Measures vibrelle-level against the shipped levels, whose true charts are known.

    /usr/bin/python3 tools/authoring_accuracy.py [--build build/dev] [--out build/authoring_accuracy]

The shipped stems were rendered from performance MIDI files by tools/content. This script writes
those files again (OUT/truth/<level>/<stem>.perf.mid), links each level's stem audio into a
folder of its own (OUT/levels/<level>, nothing is written under assets/), runs
`vibrelle-level new` there, plays every generated level with tools/content/simulate.py (the
perfect-play check) and prints the accuracy tables of bench_authoring_accuracy, then the speed.
Needs the dev build's vibrelle-level and bench_authoring_accuracy, python3-mido and sox
(scripts/setup --content installs them).
"""

import argparse
import os
import resource
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(HERE, "content"))

from music import writePerformance  # noqa: E402
from songs import SONGS  # noqa: E402

TAIL_BEATS = 8  # as make_levels.py renders them
AUDIO = (".ogg", ".flac", ".wav", ".mp3")


def childCpuSeconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "dev"))
    ap.add_argument("--out", default=os.path.join(ROOT, "build", "authoring_accuracy"))
    args = ap.parse_args()
    tool = os.path.join(args.build, "tools", "vibrelle-level")
    bench = os.path.join(args.build, "bench", "bench_authoring_accuracy")
    for program in (tool, bench):
        if not os.access(program, os.X_OK):
            sys.exit("missing %s: build the dev preset's vibrelle-level and bench_authoring_accuracy" % program)

    shutil.rmtree(args.out, ignore_errors=True)
    truthRoot = os.path.join(args.out, "truth")
    levelDirs = []
    audioSeconds, wallSeconds, cpuSeconds = 0.0, 0.0, 0.0
    simulated = []
    for make in SONGS:
        song = make()
        folder = song["folder"]
        truth = os.path.join(truthRoot, folder)
        os.makedirs(truth)
        for stem in song["stems"]:
            writePerformance(os.path.join(truth, stem["name"] + ".perf.mid"), stem["part"], song["bpm"],
                             song["bars"] * 4, TAIL_BEATS, stem["name"])
        level = os.path.join(args.out, "levels", folder)
        os.makedirs(level)
        shipped = os.path.join(ROOT, "assets", "levels", folder)
        for name in sorted(os.listdir(shipped)):
            if name.lower().endswith(AUDIO):
                os.symlink(os.path.join(shipped, name), os.path.join(level, name))
        cpuBefore = childCpuSeconds()
        started = time.monotonic()
        run = subprocess.run([tool, "new", level], capture_output=True, text=True)
        wallSeconds += time.monotonic() - started
        cpuSeconds += childCpuSeconds() - cpuBefore
        print(run.stdout, end="")
        print(run.stderr, end="", file=sys.stderr)
        if run.returncode != 0:
            sys.exit("vibrelle-level failed on %s" % folder)
        for line in run.stdout.splitlines():
            if line.startswith("Charted "):
                audioSeconds += float(line.split()[1])
        check = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "content", "simulate.py"),
                                os.path.join(level, "level.json")], capture_output=True, text=True)
        verdict = [line.strip() for line in check.stdout.splitlines() if "perfect play" in line or "FAULT" in line]
        simulated.append((folder, check.returncode, verdict))
        levelDirs.append(level)

    print()
    tables = subprocess.run([bench, truthRoot] + levelDirs, capture_output=True, text=True)
    print(tables.stdout, end="")
    if tables.returncode != 0:
        print(tables.stderr, end="", file=sys.stderr)
        sys.exit("bench_authoring_accuracy failed")
    print("\nPerfect-play check (tools/content/simulate.py, 200 s):")
    for folder, code, verdict in simulated:
        print("  %-15s %s%s" % (folder, "; ".join(verdict), "" if code == 0 else "  (FAILED)"))
    print("\nSpeed: %.1f s of audio charted in %.1f s wall time (%.0f s/s), %.1f s of CPU time (%.0f s/s)" % (
        audioSeconds, wallSeconds, audioSeconds / wallSeconds, cpuSeconds, audioSeconds / cpuSeconds))
    sys.exit(1 if any(code != 0 for _, code, _ in simulated) else 0)


if __name__ == "__main__":
    main()
