#!/usr/bin/env bash
# Screenshots of the plugin's editor for the README (docs/images/), taken
# under Xvfb from the Release build: the Smile preset, and a surgical narrow
# cut where the engine's response departs from the ideal curve.
#   scripts/editor-screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
host=$build/plugins/tests-editor/editor_host
plugin=$build/clap/lintaq-stereo.clap
[ -x "$host" ] || { echo "build first: cmake --build $build --target editor_host"; exit 1; }
work=$(mktemp -d)
source tests/editor/xvfb.sh "$work"

# Parameter n of band k (0-based) is 2 + 5k + field: enable, type, freq, gain, q.
smile=(0=2 1=1 2=1 3=3 4=30 6=0.7071 7=1 8=1 9=120 10=4 11=0.7071 17=1 18=0 19=400 20=-3 21=1
       32=1 33=0 34=3000 35=2 36=1.4 52=1 53=2 54=10000 55=3 56=0.7071)
# Quality 3 (the shortest frames): a -15 dB Q 20 notch at 150 Hz rings far
# past them, a -12 dB Q 8 cut at 1 kHz a little; a gentle high shelf.
narrow=(0=3 1=0 12=1 13=0 14=150 15=-15 16=20 17=1 18=0 19=1000 20=-12 21=8 52=1 53=2 54=8000 55=2 56=0.7071)

shoot() {
  local name=$1; shift
  rm -f "$work/ready" "$work/quit"
  open_editor "$work" "$host" "$plugin" "$work" 30 "$@"
  sleep 2 # the measured curve comes from a worker thread
  import -window "$editor_window" "docs/images/$name.png"
  touch "$work/quit"
  wait "$editor_pid"
  echo "docs/images/$name.png"
}
shoot editor-smile "${smile[@]}"
shoot editor-narrow-cut "${narrow[@]}"
