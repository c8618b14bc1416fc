#!/usr/bin/env bash
# Builds the fuzz harness and runs it for SECONDS (default 60) from the seed
# corpus in fuzz/corpus. New inputs go to build-fuzz/corpus, crash
# reproducers to build-fuzz/; the committed seeds are never touched.
# Replay one input: build-fuzz/lintaq_fuzz FILE
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j 2 --target lintaq_fuzz
mkdir -p build-fuzz/corpus
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
status=0
build-fuzz/lintaq_fuzz -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
  -max_len=8192 -print_final_stats=1 -artifact_prefix=build-fuzz/ \
  build-fuzz/corpus fuzz/corpus >build-fuzz/last-run.log 2>&1 || status=$?
grep -E '^(#[0-9]+ +(INITED|DONE)|stat::number_of_executed_units|==[0-9]+==|SUMMARY|lintaq_fuzz:|artifact_prefix)' \
  build-fuzz/last-run.log || true
[ "$status" -eq 0 ] || { echo "fuzzing failed ($status); full log in build-fuzz/last-run.log" >&2; exit 1; }
