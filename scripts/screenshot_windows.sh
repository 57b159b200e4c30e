#!/usr/bin/env bash
# Takes docs/screenshot-windows-a.png and docs/screenshot-windows-b.png: each Windows program
# under Wine, listening with logging on and a simulated unit reporting some inputs, in a Wine
# desktop window on Xvfb (which draws the title bar a window manager would).
#   screenshot_windows.sh [BUILD]   (the Windows build folder, default build-windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build-windows}" && pwd)
if [ "${DRAVIK_WINE_DESKTOP_INSIDE:-}" != 1 ]; then
  for f in "$build/DRAVIK_A.exe" "$build/DRAVIK_B.exe" "$build/tools/dravik-unit.exe"; do
    [ -f "$f" ] || { echo "missing $f: make windows first" >&2; exit 1; }
  done
  exec "$root/scripts/wine_desktop.sh" "$build/wineprefix-desktop" bash "$0" "$build"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp932() { iconv -f UTF-8 -t CP932; }

# shoot VARIANT MODEL EXTENSION BITS NAMES...: one program run and its picture.
shoot() {
  local variant=$1 model=$2 extension=$3 bits=$4
  shift 4
  local dir="$work/$variant"
  mkdir -p "$dir"
  cp "$build/DRAVIK_$variant.exe" "$dir/"
  local settings="$dir/screenshot.$extension" n=1 name
  {
    printf '#$TITLEBAR=%s 監視盤\r\n' "$model"
    printf '#$PORT=10003\r\n#$PORT2=10004\r\n#$PORT3=\r\n#$PORT4=\r\n'
    for name in "$@"; do printf '#$%s=%s\r\n' "$name" "${names[$((n - 1))]}"; n=$((n + 1)); done
    printf '#$LOGGING=ON\r\n#$SERVER=START\r\n'
  } | cp932 >"$settings"
  printf '%s\r\n' "$(winpath "$settings")" >"$dir/$model.ini"

  "$WINE" explorer /desktop=dravik,640x800 "$(winpath "$dir/DRAVIK_$variant.exe")" &
  local desktop=$! unit
  # The unit reports once the program listens: until then it ends at once, refused.
  for _ in $(seq 30); do
    "$WINE" "$(winpath "$build/tools/dravik-unit.exe")" --host 10.200.0.1 --port 10003 \
      --do "$bits" --keep-open --hold 8000 >/dev/null 2>&1 &
    unit=$!
    sleep 1
    kill -0 "$unit" 2>/dev/null && break
  done
  sleep 1
  local out
  out="$root/docs/screenshot-windows-$(echo "$variant" | tr AB ab).png"
  import -window root "$work/root.png"
  # The Wine desktop around the window goes: its colour, from the far corner, is cut away.
  local desktop_colour
  desktop_colour=$(convert "$work/root.png" -format '%[pixel:p{639,799}]' info:)
  convert "$work/root.png" -crop 640x800+0+0 +repage -bordercolor "$desktop_colour" -border 1 \
    -trim +repage "$out"
  "$WINE" taskkill /im "DRAVIK_$variant.exe" >/dev/null 2>&1
  wait "$unit" 2>/dev/null || true
  # The desktop stays when its last window goes.
  /usr/lib/wine/wineserver -k
  wait "$desktop" 2>/dev/null || true
  echo "wrote $out"
}

names=("非常停止" "扉開" "運転中" "異常" "ブザー" "回転灯" "予備" "予備2")
shoot A DRAVIK-A dva 1010 DI1 DI2 DI3 DI4 DO1 DO2 DO3 DO4
names=("非常停止" "扉開" "運転中" "異常" "温度警報" "水位上限" "水位下限" "予備")
shoot B DRAVIK-B dvb 10110010 DI1 DI2 DI3 DI4 DI5 DI6 DI7 DI8
