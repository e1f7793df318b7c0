"""Small music toolkit for the level generator: scales, chords, notes, parts and MIDI writing.

Times inside a song are in beats (quarter notes) from the loop start; a bar has four beats.
Everything here is deterministic: randomness comes from random.Random instances seeded by the
caller, so a rebuild reproduces the same notes.
"""

from dataclasses import dataclass, field

import mido

TICKS_PER_BEAT = 480
DRUM_CHANNEL = 9

SCALES = {
    "major": [0, 2, 4, 5, 7, 9, 11],
    "minor": [0, 2, 3, 5, 7, 8, 10],
    "dorian": [0, 2, 3, 5, 7, 9, 10],
}

# General MIDI percussion keys used by the drum parts.
KICK, RIM, SNARE, CLAP, SNARE2 = 36, 37, 38, 39, 40
LOW_TOM, HAT, MID_TOM, PEDAL_HAT, HIGH_TOM, OPEN_HAT = 45, 42, 47, 44, 50, 46
CRASH, RIDE, TAMBOURINE, COWBELL, SHAKER, CLAVES = 49, 51, 54, 56, 70, 75


@dataclass
class Note:
    """One performed note: start and length in beats, MIDI pitch and velocity."""

    start: float
    dur: float
    pitch: int
    vel: int


@dataclass
class Cue:
    """One chart candidate: where a circle should be, before positions are assigned.

    beat: note time in beats; hold: hold length in beats (0 = tap circle);
    pref: horizontal preference 0..1 inside the stem's lane; band: 0 soft, 1 middle, 2 loud.
    """

    beat: float
    hold: float
    pref: float
    band: int


@dataclass
class Part:
    """One stem's performance: a General MIDI instrument on one channel, plus its chart cues."""

    program: int
    channel: int
    volume: int = 100
    pan: int = 64
    reverb: int = 40
    chorus: int = 0
    notes: list = field(default_factory=list)
    cues: list = field(default_factory=list)

    def add(self, start, dur, pitch, vel):
        self.notes.append(Note(start, dur, int(pitch), max(1, min(127, int(vel)))))

    def cue(self, beat, pref, band, hold=0.0):
        self.cues.append(Cue(beat, hold, max(0.0, min(1.0, pref)), band))


class Key:
    """A key centre: tonic pitch class (as a MIDI pitch near the bass) and a mode."""

    def __init__(self, tonic, mode):
        self.tonic = tonic
        self.steps = SCALES[mode]

    def pitch(self, degree, octave=0):
        """MIDI pitch of a scale degree (0-based, may exceed 6 or be negative) above the tonic."""
        return self.tonic + 12 * (octave + degree // 7) + self.steps[degree % 7]

    def chord(self, degree, size=3, octave=0):
        """Stacked thirds on a scale degree: size 3 = triad, 4 = seventh chord."""
        return [self.pitch(degree + 2 * i, octave) for i in range(size)]

    def degreeOf(self, pitch):
        """Nearest scale degree at or below a pitch (inverse of pitch)."""
        best = None
        for d in range(-21, 50):
            if self.pitch(d) <= pitch:
                best = d
        return best

    def inScale(self, pitch):
        return (pitch - self.tonic) % 12 in self.steps


def nearestVoicing(chord, centre):
    """Chord tones moved by octaves to lie within a fifth or so around centre, sorted."""
    out = []
    for p in chord:
        while p < centre - 6:
            p += 12
        while p > centre + 6:
            p -= 12
        out.append(p)
    return sorted(out)


def steps16(pattern):
    """Indices of the hits in a step pattern written as a string ('x' or a digit = hit)."""
    return [i for i, ch in enumerate(pattern) if ch not in ".- "]


def humanise(rng, vel, spread=6):
    return max(1, min(127, vel + rng.randint(-spread, spread)))


# ---- MIDI writing ----


def _tick(beats):
    return int(round(beats * TICKS_PER_BEAT))


def _tempoTrack(bpm, name):
    track = mido.MidiTrack()
    track.append(mido.MetaMessage("track_name", name=name, time=0))
    track.append(mido.MetaMessage("set_tempo", tempo=mido.bpm2tempo(bpm), time=0))
    track.append(mido.MetaMessage("time_signature", numerator=4, denominator=4, time=0))
    return track


def _eventsToTrack(events, name):
    """events: (tick, order, message) with absolute ticks; returns a track with delta times."""
    track = mido.MidiTrack()
    track.append(mido.MetaMessage("track_name", name=name, time=0))
    now = 0
    for tick, _, msg in sorted(events, key=lambda e: (e[0], e[1])):
        track.append(msg.copy(time=tick - now))
        now = tick
    track.append(mido.MetaMessage("end_of_track", time=0))
    return track


def writePerformance(path, part, bpm, loopBeats, tailBeats, name):
    """Writes the MIDI that FluidSynth renders for one stem.

    A controller event at loopBeats + tailBeats keeps the renderer running past the loop end so
    that release and reverb tails exist; the caller folds them back onto the loop start.
    """
    ch = part.channel
    events = []
    # On the drum channel the program chooses the kit (bank 128 in the General MIDI sound font).
    events.append((0, 0, mido.Message("program_change", channel=ch, program=part.program)))
    for cc, value in ((7, part.volume), (10, part.pan), (91, part.reverb), (93, part.chorus)):
        events.append((0, 1, mido.Message("control_change", channel=ch, control=cc, value=value)))
    for n in part.notes:
        on, off = _tick(n.start), _tick(n.start + n.dur)
        if off <= on:
            off = on + 1
        # Note-offs sort before note-ons at the same tick so repeated pitches retrigger cleanly.
        events.append((on, 3, mido.Message("note_on", channel=ch, note=n.pitch, velocity=n.vel)))
        events.append((off, 2, mido.Message("note_off", channel=ch, note=n.pitch, velocity=0)))
    end = _tick(loopBeats + tailBeats)
    events.append((end, 4, mido.Message("control_change", channel=ch, control=91, value=part.reverb)))
    mid = mido.MidiFile(type=1, ticks_per_beat=TICKS_PER_BEAT)
    mid.tracks.append(_tempoTrack(bpm, name))
    mid.tracks.append(_eventsToTrack(events, name))
    mid.save(path)


def writeChart(path, placed, bpm, name):
    """Writes a gameplay chart: one note per circle at its key and velocity.

    placed: list of (beat, holdBeats, key, velocity). Hold circles go on channel 1 with the hold
    length as the note length; tap circles on channel 0 with a short note.
    """
    events = []
    for beat, hold, key, vel in placed:
        ch = 1 if hold > 0 else 0
        length = hold if hold > 0 else 0.125
        on, off = _tick(beat), _tick(beat + length)
        events.append((on, 3, mido.Message("note_on", channel=ch, note=key, velocity=vel)))
        events.append((off, 2, mido.Message("note_off", channel=ch, note=key, velocity=0)))
    mid = mido.MidiFile(type=1, ticks_per_beat=TICKS_PER_BEAT)
    mid.tracks.append(_tempoTrack(bpm, name))
    mid.tracks.append(_eventsToTrack(events, name + " chart"))
    mid.save(path)
