#!/usr/bin/env bash
# The stereo plugin with all twelve bands working, at 48000 Hz, in every
# quality mode, with and without 2x oversampling: eight rows from one run.
#   bash bench/lv2_host/run_lintaq.sh [BUILD_DIR] [extra lintaq_lv2_bench options]
# BUILD_DIR is a tree configured with -DLINTAQ_BUILD_BENCH=ON (default build).
set -euo pipefail
build=${1:-build}
shift || true
bench=$build/bench/lv2_host/lintaq_lv2_bench
[ -x "$bench" ] || { echo "no $bench: configure with -DLINTAQ_BUILD_BENCH=ON and build it" >&2; exit 1; }
export LV2_PATH=$(cd "$build" && pwd)/lv2

# route type freq gain q, one line a band: every type, every routing
bands=(
  "1 3 40 0 0.7071"   "1 1 120 4 0.7"   "2 0 250 -6 2"     "3 0 500 5 1.5"
  "4 0 1000 -8 3"     "5 0 2000 6 1"    "1 0 3500 -3 0.5"  "4 0 6000 9 4"
  "5 0 9000 -12 6"    "2 0 13000 3 1"   "1 2 15000 -4 0.7" "3 4 19000 0 0.7071"
)
common=()
for k in "${!bands[@]}"; do
  read -r route type freq gain q <<<"${bands[$k]}"
  b=band$((k + 1))
  common+=(-c "${b}_enable=$route" -c "${b}_type=$type" -c "${b}_freq=$freq"
           -c "${b}_gain=$gain" -c "${b}_q=$q")
done
rows=()
for q in 0 1 2 3; do
  for os in 0 1; do
    label="mode $q"
    if [ "$os" = 1 ]; then label+=" 2x"; fi
    rows+=(--row "$label" urn:lintaq:lv2:stereo quality=$q oversample=$os)
  done
done
exec "$bench" --rate 48000 "$@" "${common[@]}" "${rows[@]}"
