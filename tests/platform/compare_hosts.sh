#!/usr/bin/env bash
# Runs the scenario host on Linux against liblintaq.so and under Wine
# against lintaq.dll, and demands identical output bytes.
#   compare_hosts.sh SUITE LINUX_HOST LINUX_LIBRARY WINDOWS_HOST WORKDIR [ARGS]
set -euo pipefail
suite=$1 linuxHost=$2 linuxLib=$3 windowsHost=$4 work=$5
shift 5
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
mkdir -p "$work"
t0=$(date +%s%N)
"$linuxHost" "$linuxLib" "$work/$suite-linux.bin" "$suite" "$@"
t1=$(date +%s%N)
# The host loads lintaq.dll by name from its own folder.
(cd "$(dirname "$windowsHost")" && wine "./$(basename "$windowsHost")" lintaq.dll "$work/$suite-windows.bin" "$suite" "$@" </dev/null)
t2=$(date +%s%N)
echo "linux $(((t1 - t0) / 1000000)) ms, wine $(((t2 - t1) / 1000000)) ms"
if ! cmp "$work/$suite-linux.bin" "$work/$suite-windows.bin"; then
  echo "the Windows DLL's output differs from the Linux library's" >&2
  exit 1
fi
echo "identical: $(stat -c %s "$work/$suite-linux.bin") bytes"
rm -f "$work/$suite-linux.bin" "$work/$suite-windows.bin"
