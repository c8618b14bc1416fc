#!/usr/bin/env bash
# Writes a Windows LV2 bundle's Turtle at build time: DPF's generator, a
# Windows program, loads the module and asks it, under Wine.
#   wine_lv2_ttl.sh WINEPREFIX GENERATOR MODULE_FILE_NAME   (run in the bundle folder)
# Wine's output goes to a file: its background services inherit it and
# would otherwise hold the build tool's pipe open after the generator ends.
set -euo pipefail
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
generator=$2 module=$3
name=${module%.*}
log=$name.wine.log
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  WINEARCH=win64 wine wineboot -i </dev/null >/dev/null 2>&1
fi
rm -f manifest.ttl "$name.ttl"
if ! wine "$generator" "$module" </dev/null >"$log" 2>&1 || [ ! -s manifest.ttl ] || [ ! -s "$name.ttl" ]; then
  cat "$log" >&2
  echo "wine_lv2_ttl.sh: no Turtle written for $module" >&2
  exit 1
fi
rm -f "$log"
