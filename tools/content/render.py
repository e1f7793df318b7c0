"""Audio side of the generator: FluidSynth renders, loop folding, level balance and encoding.

All stems of a song end up exactly `samples` long (a whole number of bars at 44100 Hz), so they
loop together sample for sample. Whatever a render rings on past the loop end (releases, reverb)
is mixed back onto the loop start, which is what the listener hears when the loop comes round.
"""

import os
import re
import subprocess

SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
RATE = 44100
SYNTH_GAIN = 0.3  # keeps every single render well below full scale (sox reads floats clipped)
MIX_PEAK = 0.89  # about -1 dBFS for the loudest moment of all stems together


def run(cmd):
    r = subprocess.run(cmd, capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("%s failed:\n%s" % (" ".join(cmd), r.stderr))
    return r


def samplesOf(path):
    return int(run(["soxi", "-s", path]).stdout.strip())


def renderMidi(midiPath, wavPath):
    run(["fluidsynth", "-n", "-i", "-q", "-g", str(SYNTH_GAIN), "-r", str(RATE), "-R", "1", "-C", "1",
         "-o", "synth.cpu-cores=1", "-O", "float", "-T", "wav", "-F", wavPath, SOUNDFONT, midiPath])


def foldToLoop(renderPath, outPath, samples, workDir):
    """Cuts or pads a render to exactly `samples` frames, mixing the part past the end onto the start."""
    have = samplesOf(renderPath)
    if have <= samples:
        run(["sox", "-R", renderPath, outPath, "pad", "0", "%ds" % (samples - have)])
    else:
        head = os.path.join(workDir, "head.wav")
        tail = os.path.join(workDir, "tail.wav")
        run(["sox", "-R", renderPath, head, "trim", "0", "%ds" % samples])
        run(["sox", "-R", renderPath, tail, "trim", "%ds" % samples, "%ds" % min(have - samples, samples)])
        run(["sox", "-R", "-m", "-v", "1", head, "-v", "1", tail, outPath])
        os.remove(head)
        os.remove(tail)
    got = samplesOf(outPath)
    if got != samples:
        raise RuntimeError("%s has %d samples, expected %d" % (outPath, got, samples))


def mixPeak(paths):
    """Peak amplitude of all stems played together (measured at a quarter level, then scaled,
    because sox clips float samples above full scale on reading)."""
    cmd = ["sox", "-R", "-m"]
    for p in paths:
        cmd += ["-v", "0.25", p]
    cmd += ["-n", "stat"]
    err = run(cmd).stderr
    peak = 0.0
    for label in ("Maximum amplitude", "Minimum amplitude"):
        m = re.search(label + r":\s*(-?[0-9.]+)", err)
        peak = max(peak, abs(float(m.group(1))))
    return peak * 4.0


def encode(wavPath, outPath, gain, fmt, quality, serial, title):
    """Scales a folded stem by `gain` and writes OGG Vorbis or FLAC (16-bit, stereo, 44100 Hz).

    The Ogg stream serial is fixed so that a rebuild produces the same bytes."""
    pcm = outPath + ".pcm16.wav"
    run(["sox", "-R", wavPath, "-b", "16", "-e", "signed-integer", pcm, "vol", "%.6f" % gain])
    if fmt == "ogg":
        run(["oggenc", "-Q", "-q", str(quality), "-s", str(serial), "-t", title, "-a", "Vibrelle", "-o",
             outPath, pcm])
    elif fmt == "flac":
        run(["flac", "-s", "-f", "-8", "-T", "TITLE=" + title, "-T", "ARTIST=Vibrelle", "-o", outPath, pcm])
    else:
        raise ValueError("unknown audio format " + fmt)
    os.remove(pcm)
