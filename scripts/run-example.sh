#!/usr/bin/env bash
# Sets up, builds, and runs the main job: equalise an example file with the
# built-in default preset and draw its curve. Everything lands in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target lintaq_cli >/dev/null
lintaq=build/tools/lintaq/lintaq
mkdir -p out
"$lintaq" generate-demo out/demo.wav
"$lintaq" process out/demo.wav out/demo-smile.wav --builtin smile
"$lintaq" curve --builtin smile --measured -o out/demo-smile.svg
echo "input:     $(pwd)/out/demo.wav"
echo "equalised: $(pwd)/out/demo-smile.wav"
echo "curve:     $(pwd)/out/demo-smile.svg (open it in a browser)"
