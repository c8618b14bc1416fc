#!/usr/bin/env bash
# Opens the Windows build's stereo CLAP editor under Wine as a floating
# window (on Xvfb) with the editor host built for Windows, and saves a
# screenshot showing the curve; given the Linux build, its editor_check
# then finds the curve at 100 Hz and 1 kHz where the settings put it.
#   scripts/wine-editor-screenshot.sh [MINGW_BUILD_DIR] [OUT.png] [LINUX_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-mingw}")
out=$(realpath -m "${2:-$build/editor-wine.png}")
[ -f "$build/editor_host.exe" ] || { echo "build first: cmake --build $build --target editor_host lintaq-stereo-clap"; exit 1; }
work=$(mktemp -d)
source tests/editor/xvfb.sh "$work"
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all
[ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1
settings=(7=1 8=1 9=250 10=6 11=0.7071 37=1 38=0 39=3000 40=-8 41=1.4)
# Wine sees the root folder as drive Z:.
open_editor "$work" wine "$build/editor_host.exe" "Z:$build/clap/lintaq-stereo.clap" "Z:$work" 40 "${settings[@]}"
sleep 3
import -window "$editor_window" "$out"
touch "$work/quit"
wait "$editor_pid"
echo "$out"
if [ -n "${3:-}" ]; then
  convert "$out" "$work/editor.ppm"
  "$3/plugins/tests-editor/editor_check" curve "$work/editor.ppm" 1 "${settings[@]}"
fi
