#!/usr/bin/env bash
# Builds the engine benchmark and prints its tables: the real-time factor
# of the plain loops and of the fastest kernel set (with the ratio of the
# two, taken in the same run), and the cost of every call at 32, 64 and
# 256-frame blocks for a LintaqInit and a LintaqInitSmooth instance side by
# side (mean, 99th percentile, maximum, and their total costs' ratio).
#   bash bench/run.sh [extra benchmark options]
#   bash bench/run.sh --benchmark_filter=callCost    # that table alone
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLINTAQ_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc)" --target bench_engine >/dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
build-bench/bench/engine/bench_engine --benchmark_min_time=0.3 --benchmark_out="$out" \
  --benchmark_out_format=json "$@" >/dev/null
python3 bench/engine/tables.py "$out"
