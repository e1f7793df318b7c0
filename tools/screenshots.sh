#!/usr/bin/env bash
# Renders named scenes of the game to PNG under Xvfb with software GL, for looking at the frames
# and for the README's pictures.
#
# Usage: tools/screenshots.sh [-o OUTDIR] [--size WxH] [SCENE...]
#   menu        the main menu with the level table (after 3 s)
#   settings    the settings screen; credits: the credits (after 3 s)
#   controls    the Controls screen: the key grid as a keyboard (after 3 s)
#   calibration the calibration screen, listening to the click (after 3 s)
#   tutorial    the tutorial's stem-progress page with the tutorial song playing (after 4 s)
#   background  the background alone, nothing playing, interface hidden (after 2 s)
#   keyboard    the default level early in autoplay: few circles, their key letters (after 9 s)
#   gamepad     the same, the bot pressing the circles' gamepad buttons: their glyphs (after 9 s)
#   midplay     the default level mid-play under autoplay with the HUD, most layers in (after 40 s)
#   results     the results screen of a made-up sample round (after 3 s)
#   practice    a practice round at 75 % under autoplay, paused at 8 s: the overlay's speed controls
#   practicehud the same round playing, its practice line at the foot of the screen (after 9 s)
#   leaderboard the leaderboard screen (after 3 s); tutorial0 .. tutorial4: each tutorial page
#   navlevels   the main menu with the keyboard focus on the level table; navbutton: on a button
#   addlevel    the Add Level screen, empty; addlevelrun: a made-up level part way through (after 3 s)
# Without scenes, all of them but leaderboard and the single tutorial pages. Pictures are 1920x1080
# (the game's full screen on a virtual display) unless --size asks for a window of WxH pixels
# (e.g. 1280x720, 720x1280), and go to OUTDIR (default: build/screenshots), named SCENE.png at
# 1920x1080 and SCENE-WxH.png at other sizes. The game is the release build, built first when
# needed; VIBRELLE_BINARY names another one.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$root/build/screenshots"
size=""
while [ $# -gt 0 ]; do
    case "$1" in
    -o)
        out=$(mkdir -p "$2" && cd "$2" && pwd)
        shift 2
        ;;
    --size)
        [[ "${2:-}" =~ ^[0-9]+x[0-9]+$ ]] || { echo "screenshots: --size takes WIDTHxHEIGHT, e.g. 1280x720" >&2; exit 2; }
        size=$2
        shift 2
        ;;
    *) break ;;
    esac
done
# The virtual display is at least as large as the window, and 1920x1080 for the full screen.
screen=1920x1080
window=()
suffix=""
if [ -n "$size" ] && [ "$size" != 1920x1080 ]; then
    w=${size%x*} h=${size#*x}
    screen="$((w > 1920 ? w : 1920))x$((h > 1080 ? h : 1080))"
    window=(--window-size "$size")
    suffix="-$size"
fi
scenes=("$@")
[ ${#scenes[@]} -gt 0 ] || scenes=(menu settings controls calibration credits results tutorial background keyboard gamepad midplay)

binary="${VIBRELLE_BINARY:-}"
if [ -z "$binary" ]; then
    cmake --preset release -S "$root" >/dev/null
    cmake --build "$root/build/release" --target vibrelle >/dev/null
    binary="$root/build/release/src/vibrelle"
fi
mkdir -p "$out"
# The game may write into the player's data folder; keep the real one out of it.
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT

shoot() {
    local name=$1$suffix
    shift
    echo "screenshots: $name"
    (cd "$root/assets" && VIBRELLE_DATA_DIR="$root/assets" SDL_AUDIO_DRIVER=dummy LIBGL_ALWAYS_SOFTWARE=1 XDG_DATA_HOME="$data" \
        xvfb-run -a -s "-screen 0 ${screen}x24 -nolisten tcp" \
        "$binary" "${window[@]}" --screenshot "$out/$name.png" "$@" >"$out/$name.log" 2>&1) ||
        { echo "screenshots: $name failed, see $out/$name.log" >&2; return 1; }
}

for scene in "${scenes[@]}"; do
    case "$scene" in
    menu) shoot menu --quit-after 3 ;;
    navlevels) shoot navlevels --focus level_row_0 --quit-after 3 ;;
    navbutton) shoot navbutton --focus '##settings' --quit-after 3 ;;
    settings | controls | calibration | credits | leaderboard | results) shoot "$scene" --screen "$scene" --quit-after 3 ;;
    addlevel) shoot addlevel --screen addlevel --quit-after 3 ;;
    addlevelrun) shoot addlevelrun --screen addlevel:running --quit-after 3 ;;
    tutorial) shoot tutorial --screen tutorial:3 --quit-after 4 ;;
    tutorial[0-4]) shoot "$scene" --screen "tutorial:${scene#tutorial}" --quit-after 4 ;;
    background) shoot background --hide-gui --quit-after 2 ;;
    keyboard) shoot keyboard --autoplay --quit-after 9 ;;
    gamepad) shoot gamepad --autoplay-pad --quit-after 9 ;;
    midplay) shoot midplay --autoplay --quit-after 40 ;;
    practice) shoot practice --practice 75 --autoplay --pause-at 8 --quit-after 11 ;;
    practicehud) shoot practicehud --practice 75 --autoplay --quit-after 9 ;;
    *)
        echo "screenshots: unknown scene '$scene' (menu, settings, controls, calibration, credits, results, leaderboard, addlevel, addlevelrun, tutorial, tutorial0..4, background, keyboard, gamepad, midplay, practice, practicehud)" >&2
        exit 2
        ;;
    esac
done
echo "screenshots: written to $out"
