#!/usr/bin/env bash
# Runs a command that drives Windows programs with a window under Wine:
#   wine_desktop.sh PREFIX COMMAND [ARGUMENTS...]
# Everything runs inside a network and mount namespace of its own holding loopback and one
# made-up adapter (10.200.0.1 on a veth pair), so the monitors have an adapter to offer and every
# connection stays inside; on an Xvfb display; in the Wine prefix PREFIX, made on first use,
# whose font substitutes map the fonts the window names to the IPA fonts (Japanese text, not
# boxes). COMMAND finds Wine in $WINE and turns a path into Wine's with `winpath`; its status is
# this script's. The prefix's programs end with the script. Exits 77 where namespaces are not
# permitted.
set -euo pipefail
if [ "${DRAVIK_WINE_DESKTOP_INSIDE:-}" != 1 ]; then
  unshare -rnm true 2>/dev/null || { echo "network namespaces are not permitted here"; exit 77; }
  export DRAVIK_WINE_DESKTOP_INSIDE=1
  exec unshare -rnm bash "$0" "$@"
fi
prefix=$(realpath -m "$1")
shift

ip link set lo up
if ! ip link add dravik0 type dummy 2>/dev/null; then
  ip link add dravik0 type veth peer name dravik1
  ip link set dravik1 up
fi
ip addr add 10.200.0.1/24 dev dravik0
ip link set dravik0 up
# The interface tables of this namespace, not the host's.
mount -t sysfs sysfs /sys

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
export WINE=/usr/lib/wine/wine64
# A Linux path as Wine sees it, on its drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
export -f winpath

work=$(mktemp -d)
xvfb=""
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Xvfb names its display a moment before it takes clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  "$WINE" wineboot -i >/dev/null 2>&1
  # The window's fonts by their Windows names; and the system's own (title bars, message boxes,
  # file dialogs), which Wine draws in Tahoma, without the Japanese a Japanese Windows has in
  # its system font. regedit reads its files as UTF-16.
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' \
    '"ＭＳ Ｐゴシック"="IPAPGothic"' '"ＭＳ ゴシック"="IPAGothic"' '"Tahoma"="IPAPGothic"' \
    '"MS Shell Dlg"="IPAPGothic"' '"MS Shell Dlg 2"="IPAPGothic"' |
    iconv -f UTF-8 -t UTF-16 >"$work/fonts.reg"
  "$WINE" regedit /S "$(winpath "$work/fonts.reg")"
fi
"$@"
