#!/usr/bin/env bash
# Checks the DLL's export and import tables: exactly the functions the
# public header declares, by their undecorated names; imports only from
# KERNEL32.dll and msvcrt.dll (no C++ runtime or thread library DLL).
#   check_dll_tables.sh DLL HEADER OBJDUMP
set -euo pipefail
dll=$1 header=$2 objdump=$3
dump=$("$objdump" -p "$dll")
want=$(grep -o '^LINTAQ_API [^(]*(' "$header" | sed 's/($//; s/.*[ *]//' | sort)
got=$(echo "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^\t\[/ {print $NF; next} on {on=0}' | sort)
imports=$(echo "$dump" | awk '/DLL Name:/ {print $3}' | sort -u)
echo "exports:" $got
echo "imports:" $imports
status=0
if [ "$want" != "$got" ]; then
  echo "exports differ from the header's functions:" >&2
  diff <(echo "$want") <(echo "$got") >&2 || true
  status=1
fi
[ "$(echo "$want" | wc -l)" -eq 11 ] || { echo "expected eleven functions in the header" >&2; status=1; }
if [ "$imports" != "$(printf 'KERNEL32.dll\nmsvcrt.dll')" ]; then
  echo "unexpected imports" >&2
  status=1
fi
exit $status
