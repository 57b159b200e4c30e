#!/usr/bin/env bash
# Runs a Windows program under Debian's Wine: wine.sh PREFIX PROGRAM [ARGUMENTS...]. The prefix
# (a folder of the build) is made on first use, by one caller while the others wait. No display
# is used, no desktop entries are made, and nothing asks to install Mono or Gecko.
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      "$wine" wineboot -i >/dev/null 2>&1
      /usr/lib/wine/wineserver -w
    fi
  ) 9>"$prefix.lock"
fi
# Wine's server ends 3 s after its last program, and a program that starts while it is going
# away dies with "recvmsg: Connection reset by peer": one that outlives every gap between
# tests is started here (a second start, while one runs, changes nothing), holding none of
# ctest's outputs.
/usr/lib/wine/wineserver -p 30 </dev/null >/dev/null 2>&1 || true
# Windows programs end their lines with CR LF; the tests and ctest read lines as Linux writes
# them. Through files, not pipes: the helper processes Wine starts on demand (the network
# driver's among them) inherit both outputs and outlive the program, so a pipe would not end.
output=$(mktemp)
errors=$(mktemp)
trap 'rm -f "$output" "$errors"' EXIT
status=0
"$wine" "$@" >"$output" 2>"$errors" || status=$?
tr -d '\r' <"$output"
tr -d '\r' <"$errors" >&2
exit "$status"
