#!/usr/bin/env bash
# The editor's cost, under Xvfb with the stereo CLAP plugin in
# tests/editor/editor_host (which feeds 480-sample blocks of quiet noise every 10 ms):
# three runs of SECONDS each, without the editor, with it idle, and with a
# handle dragged in circles the whole time. Prints per run the share of a
# core the whole process used and the time inside the plugin's process()
# per second of audio (the audio path's cost, which the editor must leave
# alone).
#   bench/editor/editor_cpu.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
seconds=${2:-20}
host=$build/plugins/tests-editor/editor_host
check=$build/plugins/tests-editor/editor_check
plugin=$build/clap/lintaq-stereo.clap
work=$(mktemp -d)
source tests/editor/xvfb.sh "$work"
settings=(7=1 8=1 9=250 10=6 11=0.7071 37=1 38=0 39=3000 40=-8 41=1.4)

report() {
  awk -v name="$1" '{ printf "%-14s process CPU %5.1f %% of a core; plugin process() %.4f s per s of audio\n",
                      name, 100 * $6 / $8, $2 / ($4 / 48000) }' "$work/timing.txt"
}

rm -f "$work/ready" "$work/quit"
"$host" --no-editor "$plugin" "$work" "$seconds" "${settings[@]}" >/dev/null
report "no editor"

rm -f "$work/ready" "$work/quit"
open_editor "$work" "$host" "$plugin" "$work" "$seconds" "${settings[@]}"
wait "$editor_pid"
report "editor idle"


rm -f "$work/ready" "$work/quit"
open_editor "$work" "$host" "$plugin" "$work" $((seconds + 60)) "${settings[@]}"
read -r width height <<<"$(xdotool getwindowgeometry "$editor_window" | awk '/Geometry/ { sub("x", " ", $2); print $2 }')"
read -r x y < <("$check" where "$width" "$height" 1 3000 -8)
xdotool mousemove --window "$editor_window" "$x" "$y" mousedown 1
end=$((SECONDS + seconds - 2))
while [ $SECONDS -lt $end ]; do
  for a in 0 1 2 3 4 5 6 7; do
    dx=$(awk -v a="$a" 'BEGIN { printf "%d", 60 * cos(a * 0.785) }')
    dy=$(awk -v a="$a" 'BEGIN { printf "%d", 40 * sin(a * 0.785) }')
    xdotool mousemove --window "$editor_window" $((x + dx)) $((y + dy))
    sleep 0.02
  done
done
xdotool mouseup 1
touch "$work/quit"
wait "$editor_pid"
report "editor drag"
