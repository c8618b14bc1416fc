#!/usr/bin/env bash
# The Windows LV2 bundle's Turtle, written under Wine, against the Linux
# one's: the same files with the same text, but for the modules' names, the
# editor's window system (X11 there, Windows here) and Windows line ends,
# which Turtle readers take as they come.
#   compare_lv2_turtle.sh NAME LINUX_BUNDLE WINDOWS_BUNDLE
set -euo pipefail
name=$1 linux=$2 windows=$3
linuxFiles=$(cd "$linux" && ls -- *.ttl) windowsFiles=$(cd "$windows" && ls -- *.ttl)
if [ "$linuxFiles" != "$windowsFiles" ]; then
  echo "Turtle files differ: Linux $(echo $linuxFiles), Windows $(echo $windowsFiles)" >&2
  exit 1
fi
for f in $linuxFiles; do
  if ! diff <(sed -e "s/<$name\.so>/<$name.dll>/g" -e "s/<${name}_ui\.so>/<${name}_ui.dll>/g" \
                  -e 's/ui:X11UI/ui:WindowsUI/g' "$linux/$f") <(tr -d '\r' <"$windows/$f") | head -20; then
    echo "$f differs beyond the module's name" >&2
    exit 1
  fi
done
grep -q "<$name.dll>" "$windows/manifest.ttl"
echo "identical but for the modules' names and window system: $(echo $linuxFiles)"
