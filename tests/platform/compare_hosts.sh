#!/usr/bin/env bash
# Runs the scenario host on Linux against liblintaq.so and under Wine
# against lintaq.dll, and demands identical output bytes.
#   compare_hosts.sh SUITE LINUX_HOST LINUX_LIBRARY OTHER_HOST WORKDIR [ARGS]
# With LINTAQ_OTHER_RUNNER set (an emulator command), the other host is a
# Linux build for another processor, run by it against the liblintaq.so
# beside it.
set -euo pipefail
suite=$1 linuxHost=$2 linuxLib=$3 otherHost=$4 work=$5
shift 5
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
mkdir -p "$work"
t0=$(date +%s%N)
"$linuxHost" "$linuxLib" "$work/$suite-linux.bin" "$suite" "$@"
t1=$(date +%s%N)
if [ -n "${LINTAQ_OTHER_RUNNER:-}" ]; then
  other=emulated
  # shellcheck disable=SC2086 # the runner is a command and its options
  $LINTAQ_OTHER_RUNNER "$otherHost" "$(dirname "$otherHost")/liblintaq.so" "$work/$suite-other.bin" "$suite" "$@"
else
  other=wine
  # The host loads lintaq.dll by name from its own folder.
  (cd "$(dirname "$otherHost")" && wine "./$(basename "$otherHost")" lintaq.dll "$work/$suite-other.bin" "$suite" "$@" </dev/null)
fi
t2=$(date +%s%N)
echo "linux $(((t1 - t0) / 1000000)) ms, $other $(((t2 - t1) / 1000000)) ms"
if ! cmp "$work/$suite-linux.bin" "$work/$suite-other.bin"; then
  echo "the $other build's output differs from the x86-64 Linux library's" >&2
  exit 1
fi
echo "identical: $(stat -c %s "$work/$suite-linux.bin") bytes"
rm -f "$work/$suite-linux.bin" "$work/$suite-other.bin"
