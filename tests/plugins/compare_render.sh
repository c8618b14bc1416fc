#!/usr/bin/env bash
# Renders the same scenes through the Linux plugin with the Linux render
# host and through the Windows plugin with the Windows render host under
# Wine, and demands identical output bytes.
#   compare_render.sh FORMAT VARIANT LINUX_HOST LINUX_PLUGIN WINDOWS_HOST WINDOWS_PLUGIN WORKDIR
set -euo pipefail
format=$1 variant=$2 linuxHost=$3 linuxPlugin=$4 windowsHost=$5 windowsPlugin=$6 work=$7
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
mkdir -p "$work"
linuxOut=$work/$format-$variant-linux.bin windowsOut=$work/$format-$variant-windows.bin
t0=$(date +%s%N)
"$linuxHost" "$format" "$variant" "$linuxPlugin" "$linuxOut"
t1=$(date +%s%N)
# The plugin is loaded by name from its own folder.
(cd "$(dirname "$windowsPlugin")" &&
  wine "$windowsHost" "$format" "$variant" "$(basename "$windowsPlugin")" "$windowsOut" </dev/null)
t2=$(date +%s%N)
echo "linux $(((t1 - t0) / 1000000)) ms, wine $(((t2 - t1) / 1000000)) ms"
if ! cmp "$linuxOut" "$windowsOut"; then
  echo "the Windows $format plugin's output differs from the Linux one's" >&2
  exit 1
fi
echo "identical: $(stat -c %s "$linuxOut") bytes"
rm -f "$linuxOut" "$windowsOut"
