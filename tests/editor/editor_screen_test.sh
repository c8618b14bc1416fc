#!/usr/bin/env bash
# Opens the stereo plugin's editor under Xvfb at given settings, reads the
# total curve off a screenshot, drags a handle with xdotool, and checks the
# host's saved state holds the new frequency and gain, and types a band's
# frequency into the band strip.
#
#   editor_screen_test.sh EDITOR_HOST EDITOR_CHECK PLUGIN.clap OUTDIR
set -euo pipefail
host=$1 check=$2 plugin=$3 out=$4
rm -rf "$out"
mkdir -p "$out"

source "$(dirname "$0")/xvfb.sh" "$out"

# Band 2: low shelf 250 Hz +6 dB; band 8: peak 3 kHz -8 dB Q 1.4; both
# channels. Their handles lie well away from the 100 Hz and 1 kHz columns.
settings=(7=1 8=1 9=250 10=6 11=0.7071 37=1 38=0 39=3000 40=-8 41=1.4)
open_editor "$out" "$host" "$plugin" "$out" 60 "${settings[@]}"
win=$editor_window
hostpid=$editor_pid
# The measured curve arrives from the worker within a fraction of a second.
sleep 1
import -window "$win" "$out/editor.png"
convert "$out/editor.png" "$out/editor.ppm"
read -r width height <<<"$(identify -format '%w %h' "$out/editor.png")"
echo "editor window ${width}x${height}"
"$check" curve "$out/editor.ppm" 1 "${settings[@]}"

# Drag band 8's handle 120 px right and 60 px up.
read -r x y < <("$check" where "$width" "$height" 1 3000 -8)
xdotool mousemove --window "$win" "$x" "$y" sleep 0.2 mousedown 1 sleep 0.2 \
  mousemove --window "$win" $((x + 40)) $((y - 20)) sleep 0.2 \
  mousemove --window "$win" $((x + 120)) $((y - 60)) sleep 0.3 mouseup 1 sleep 0.5
import -window "$win" "$out/after-drag.png"

# Type band 2's frequency into the strip: click the cell, "1.5k", Return.
read -r x y < <("$check" cell "$width" "$height" 1 1 3)
xdotool mousemove --window "$win" "$x" "$y" sleep 0.2 click 1 sleep 0.2 type --delay 50 "1.5k"
xdotool sleep 0.2 key Return sleep 0.5
import -window "$win" "$out/after-typing.png"
touch "$out/quit"
wait "$hostpid"
"$check" drag "$out/state.txt" "$width" "$height" 1 7 3000 -8 120 -60
"$check" value "$out/state.txt" 9 1500
