#!/usr/bin/python3
"""Writes the MIDI conformance fixtures and their expected charts.

Every fixture is written byte by byte here (so that running status, system exclusive and
unusual meta events appear exactly as intended), then read back with mido, an independent
MIDI reader, and the chart that the game should build from it is computed from mido's
reading into a JSON file beside it. The game's reader is never consulted.

Two fixtures have no expectations from mido, and the C++ tests work their values out by
hand: an SMPTE division (mido keeps the raw division word) and a data byte right after a
system exclusive message (mido carries the earlier channel status over it; the game refuses
the file).

Usage (Debian's python3-mido; run with /usr/bin/python3):
    tools/midi_conformance.py [OUTDIR]            write fixtures (default tests/data/midi)
    tools/midi_conformance.py --check TOOL FILE.. compare `vibrelle-chart FILE` with mido
"""

import json
import os
import struct
import subprocess
import sys

import mido

# ---- Byte helpers ----


def vlq(value):
    """A MIDI variable-length quantity."""
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append((value & 0x7F) | 0x80)
        value >>= 7
    return bytes(reversed(groups))


def header(fmt, ntracks, division):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, ntracks, division)


def track(*events):
    """A track chunk from (delta, message bytes) pairs; the end-of-track event is added."""
    body = b"".join(vlq(delta) + bytes(msg) for delta, msg in events)
    body += vlq(0) + bytes([0xFF, 0x2F, 0x00])
    return b"MTrk" + struct.pack(">I", len(body)) + body


def tempo(bpm):
    us = round(60000000 / bpm)
    return [0xFF, 0x51, 0x03, (us >> 16) & 0xFF, (us >> 8) & 0xFF, us & 0xFF]


def meta(kind, data):
    data = bytes(data)
    return [0xFF, kind] + list(vlq(len(data))) + list(data)


def on(ch, key, vel):
    return [0x90 | ch, key, vel]


def off(ch, key, vel=64):
    return [0x80 | ch, key, vel]


def pan(ch, value):
    return [0xB0 | ch, 10, value]


# ---- Fixtures ----


def fixture_format0_running_status():
    """Format 0 at 96 ticks per quarter: running status across a note series, note-ons with
    velocity 0 as note-offs, a program change, a system exclusive message and text meta events."""
    return header(0, 1, 96) + track(
        (0, meta(0x03, b"Running status")),
        (0, tempo(100)),
        (0, [0xC0, 5]),
        (0, on(0, 60, 100)),
        (48, [60, 0]),           # running status: note-on velocity 0 = note-off
        (0, [62, 90]),           # running status note-on
        (48, [62, 0]),
        (0, [64, 80]),
        (0, [67, 70]),           # chord under running status
        (96, [64, 0]),
        (0, [67, 0]),
        (0, [0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7]),
        (24, on(0, 72, 127)),
        (24, [0x80, 72, 33]),    # note-off with a release velocity
        (0, [72, 10]),           # running status on a note-off
        (0, meta(0x01, b"done")),
    )


def fixture_format1_tempo_map():
    """Format 1 with a tempo track and two note tracks: tempo changes (also at a tick where notes
    start), pan changes on several channels, one of them set in another track, and the hold
    channel 1."""
    conductor = track(
        (0, meta(0x03, b"Conductor")),
        (0, [0xFF, 0x58, 0x04, 4, 2, 24, 8]),
        (0, tempo(90)),
        (480, tempo(60)),
        (480, tempo(150)),
        (720, meta(0x06, b"bridge")),
        (240, tempo(120)),
    )
    melody = track(
        (0, meta(0x03, b"Melody")),
        (0, pan(0, 20)),
        (0, on(0, 60, 100)),
        (240, off(0, 60)),
        (0, pan(2, 100)),        # pan of channel 2, set here, used by the next track's notes
        (240, on(0, 62, 101)),   # at the tick of the tempo change to 60 BPM
        (480, off(0, 62, 0)),
        (0, pan(0, 110)),
        (0, on(0, 64, 102)),
        (720, off(0, 64)),
        (240, on(0, 65, 103)),
        (240, off(0, 65)),
    )
    harmony = track(
        (0, meta(0x03, b"Harmony")),
        (0, on(1, 48, 90)),      # channel 1: a hold note
        (960, off(1, 48)),
        (0, on(2, 50, 91)),
        (0, pan(1, 5)),
        (480, off(2, 50)),
        (0, on(1, 52, 92)),
        (960, off(1, 52)),
        (0, pan(2, 0)),
        (0, on(2, 53, 93)),
        (120, off(2, 53)),
    )
    return header(1, 3, 480) + conductor + melody + harmony


def fixture_overlapping_notes():
    """Overlapping note-ons of one key on one channel, a note-off with nothing to pair, a note-on
    that is never released, and the same key on another channel in between."""
    return header(0, 1, 120) + track(
        (0, on(3, 60, 100)),
        (60, on(3, 60, 90)),     # second strike before the first is released
        (0, on(4, 60, 80)),      # same key, other channel
        (60, off(3, 60, 11)),    # pairs with the first strike
        (60, [0x94, 60, 0]),     # channel 4 released by a velocity-0 note-on
        (60, off(3, 60, 12)),    # pairs with the second strike
        (0, off(3, 61, 13)),     # nothing to pair with
        (120, on(3, 62, 70)),    # never released
        (0, on(9, 36, 127)),
        (30, off(9, 36)),
    )


def fixture_sysex_and_meta():
    """Format 1 with system exclusive messages (0xF0 and 0xF7 escapes, one with an empty body and
    one long enough for a two-byte length), a variety of meta events, and no tempo at all."""
    long_sysex = [0xF0] + list(vlq(130)) + [i & 0x7F for i in range(129)] + [0xF7]
    first = track(
        (0, meta(0x03, b"Setup")),
        (0, [0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7]),
        (0, [0xF7, 0x02, 0x43, 0x12]),
        (0, [0xF0, 0x00]),
        (10, long_sysex),
        (0, meta(0x59, [0xFE, 0x00])),   # key signature
        (0, meta(0x7F, b"\x00\x00\x41")),  # sequencer specific
        (5, meta(0x05, b"la la")),
    )
    second = track(
        (0, meta(0x21, [0])),            # MIDI port
        (0, [0xB5, 7, 100]),             # volume: a control change that is not pan
        (0, pan(5, 127)),
        (0, on(5, 70, 1)),
        (100, [0xE5, 0x00, 0x40]),       # pitch bend
        (0, [0xA5, 70, 50]),             # key pressure, not a note
        (20, off(5, 70, 127)),
        (0, meta(0x06, b"end")),
    )
    return header(1, 2, 240) + first + second


def fixture_same_tick_tracks():
    """Two tracks with events at the same ticks: the merged order puts the earlier track first,
    so a pan change of track 0 at a tick applies to a note of track 1 at that tick, and a note-off
    of track 0 comes before a note-on of track 1."""
    a = track(
        (0, tempo(120)),
        (0, pan(0, 1)),
        (0, on(0, 40, 64)),
        (96, off(0, 40)),
        (0, pan(0, 2)),
        (96, pan(0, 3)),
    )
    b = track(
        (0, on(0, 41, 65)),
        (96, on(0, 42, 66)),
        (0, off(0, 41)),
        (96, off(0, 42)),
    )
    return header(1, 2, 96) + a + b


def fixture_smpte_division():
    """SMPTE division 0xE728: 25 frames of 40 subframes, 1000 ticks per quarter note (no mido)."""
    division = (0xE7 << 8) | 40
    return header(0, 1, division) + track(
        (0, on(0, 60, 100)),
        (1000, off(0, 60)),
        (500, on(0, 61, 100)),
        (500, off(0, 61)),
    )


def fixture_running_status_after_sysex():
    """A data byte right after a system exclusive message: running status is not allowed there, so
    the game refuses the file."""
    return header(0, 1, 96) + track(
        (0, on(0, 60, 100)),
        (0, [0xF0, 0x01, 0xF7]),
        (10, [60, 0]),
    )


FIXTURES = {
    "format0_running_status": fixture_format0_running_status,
    "format1_tempo_map": fixture_format1_tempo_map,
    "overlapping_notes": fixture_overlapping_notes,
    "sysex_and_meta": fixture_sysex_and_meta,
    "same_tick_tracks": fixture_same_tick_tracks,
}
UNREADABLE_BY_MIDO = {
    "smpte_division": fixture_smpte_division,
    "running_status_after_sysex": fixture_running_status_after_sysex,
}

# ---- The chart, computed from mido's reading ----


def expected_chart(mid):
    """The chart the game builds: every note-on and note-off with its time in seconds, the
    duration to its partner, the channel's pan at that point, sorted by time."""
    tpq = mid.ticks_per_beat
    # Absolute ticks; the merged order is by tick, then by track, then by position in the track.
    merged = []
    for track_index, trk in enumerate(mid.tracks):
        tick = 0
        for position, msg in enumerate(trk):
            tick += msg.time
            merged.append({"tick": tick, "track": track_index, "pos": position, "msg": msg})
    merged.sort(key=lambda e: e["tick"])  # stable: earlier tracks and earlier events first

    # Seconds: 120 BPM until the first tempo event; a tempo change applies after its own tick.
    spt = 60.0 / (120.0 * tpq)
    last_tick = 0
    last_seconds = 0.0
    first = True
    bpm = None
    for event in merged:
        if first or event["tick"] > last_tick:
            last_seconds += (event["tick"] - last_tick) * spt
            last_tick = event["tick"]
            first = False
        event["seconds"] = last_seconds
        msg = event["msg"]
        if msg.type == "set_tempo" and msg.tempo > 0:
            spt = msg.tempo / 1000000.0 / tpq
            if bpm is None:
                bpm = 60000000.0 / msg.tempo

    def is_on(msg):
        return msg.type == "note_on" and msg.velocity > 0

    def is_off(msg):
        return msg.type == "note_off" or (msg.type == "note_on" and msg.velocity == 0)

    # Note pairs within each track, first in first out per channel and key.
    partner = {}
    by_track = sorted(merged, key=lambda e: (e["track"], e["pos"]))
    queues = {}
    for event in by_track:
        msg = event["msg"]
        if is_on(msg):
            queues.setdefault((event["track"], msg.channel, msg.note), []).append(event)
        elif is_off(msg):
            queue = queues.get((event["track"], msg.channel, msg.note))
            if queue:
                note_on = queue.pop(0)
                partner[id(note_on)] = event

    notes = []
    pans = [64] * 16
    for event in merged:
        msg = event["msg"]
        if msg.type == "control_change" and msg.control == 10:
            pans[msg.channel] = msg.value
        if not (is_on(msg) or is_off(msg)):
            continue
        duration = 0.0
        if is_on(msg) and id(event) in partner:
            duration = abs(partner[id(event)]["seconds"] - event["seconds"])
        notes.append({
            "time": event["seconds"],
            "duration": duration,
            "tick": event["tick"],
            "note": msg.note,
            "velocity": msg.velocity,
            "pan": pans[msg.channel],
            "channel": msg.channel,
            "on": is_on(msg),
        })
    notes.sort(key=lambda n: n["time"])
    return {"ticksPerQuarterNote": tpq, "midiBpm": bpm if bpm is not None else 120.0, "notes": notes}


# ---- Main ----


def write_fixtures(outdir):
    os.makedirs(outdir, exist_ok=True)
    for name, make in list(FIXTURES.items()) + list(UNREADABLE_BY_MIDO.items()):
        path = os.path.join(outdir, name + ".mid")
        with open(path, "wb") as f:
            f.write(make())
        if name in FIXTURES:
            chart = expected_chart(mido.MidiFile(path))
            with open(os.path.join(outdir, name + ".json"), "w") as f:
                json.dump(chart, f, indent=1)
                f.write("\n")
        print("wrote", path)


def check(tool, files):
    """Compares the chart tool's output with mido's reading; prints one line per file."""
    failures = 0
    for path in files:
        try:
            want = expected_chart(mido.MidiFile(path))
        except Exception as e:  # mido refuses the file
            want = None
            why = str(e).splitlines()[0] if str(e) else type(e).__name__
        run = subprocess.run([tool, path], capture_output=True, text=True)
        got = json.loads(run.stdout) if run.returncode == 0 else None
        if want is None and got is None:
            print("both refuse  ", path)
        elif want is None:
            print("mido refuses ", path, "(%s); we read %d notes" % (why, len(got["notes"])))
        elif got is None:
            print("we refuse    ", path, "; mido reads %d notes" % len(want["notes"]))
            failures += 1
        else:
            same = len(got["notes"]) == len(want["notes"]) and abs(got["midiBpm"] - want["midiBpm"]) < 1e-3
            for g, w in zip(got["notes"], want["notes"]):
                for key in w:
                    if key in ("time", "duration"):
                        same = same and abs(g[key] - w[key]) <= 1e-12 * max(1.0, abs(w[key]))
                    else:
                        same = same and g[key] == w[key]
            print("same         " if same else "DIFFERENT    ", path)
            failures += 0 if same else 1
    return failures


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--check":
        sys.exit(1 if check(sys.argv[2], sys.argv[3:]) else 0)
    here = os.path.dirname(os.path.abspath(__file__))
    write_fixtures(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "tests", "data", "midi"))
