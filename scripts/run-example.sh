#!/usr/bin/env bash
# Sets up, builds, and runs the main job: equalise audio with the built-in setting.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
./build/examples/equalise_demo
