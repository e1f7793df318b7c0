#!/usr/bin/env bash
# Regenerates the tiny audio files the audio tests load (tests/data/audio/).
# Needs sox, oggenc, lame and flac (scripts/setup --content installs them).
#
# Every compressed file is encoded from the same source: 4410 frames (0.1 s) of 44.1 kHz stereo,
# 30 ms of silence and then a 1 kHz tone (left) and 1.5 kHz tone (right), so that tests can check
# both the exact length and where the tone starts after decoding.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$root/tests/data/audio"
mkdir -p "$out"
for tool in sox oggenc lame flac; do
    command -v "$tool" >/dev/null || { echo "make_audio_fixtures: $tool is missing (scripts/setup --content)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The shared source: 1323 frames of silence, then 3087 frames of tone at half scale.
sox -r 44100 -c 2 -n -b 16 "$work/source.wav" synth 3087s sine 1000 sine 1500 vol 0.5 pad 1323s

# WAV: the first 2205 frames (0.05 s) keep the file small.
sox "$work/source.wav" "$out/stem.wav" trim 0 2205s
# FLAC, Ogg Vorbis and MP3 (with LAME's gapless header) of the whole source.
flac --silent --force --best -o "$out/stem.flac" "$work/source.wav"
oggenc --quiet -q 0 --serial 1 -o "$out/stem.ogg" "$work/source.wav"
lame --quiet -b 96 --resample 44.1 "$work/source.wav" "$out/stem.mp3"

# Mono at 22.05 kHz: 1102 frames of a 500 Hz tone, loaded through the resampler and upmix.
sox -r 22050 -c 1 -n -b 16 "$out/mono_22k.wav" synth 1102s sine 500 vol 0.5

# Compressed stems at other rates, whose lengths the level check reads from their headers: 4801
# frames at 48 kHz (resampled to 4411 at 44.1 kHz, a count that rounds up) in FLAC and Ogg Vorbis,
# and 2207 frames of stereo at 22.05 kHz in Ogg Vorbis.
sox -r 48000 -c 2 -n -b 16 "$work/source48.wav" synth 3361s sine 1000 sine 1500 vol 0.5 pad 1440s
flac --silent --force --best -o "$out/stem_48k.flac" "$work/source48.wav"
oggenc --quiet -q 0 --serial 1 -o "$out/stem_48k.ogg" "$work/source48.wav"
sox -r 22050 -c 2 -n -b 16 "$work/source22.wav" synth 2207s sine 700 sine 900 vol 0.5
oggenc --quiet -q 0 --serial 1 -o "$out/stem_22k.ogg" "$work/source22.wav"

# Refused inputs: an empty file and bytes in no audio format.
: >"$out/empty.wav"
printf 'This is a text file, not audio.\n' >"$out/not_audio.wav"

ls -l "$out"
