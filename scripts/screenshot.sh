#!/usr/bin/env bash
# Takes docs/screenshot-a.png and docs/screenshot-b.png: each program, listening with logging
# on and a simulated unit reporting some inputs, photographed under Xvfb.
#
# Builds nothing: run it after a build, with the build folder as argument (default "build").
# Everything runs inside a private network and mount namespace holding loopback and one made-up
# interface (10.200.0.1 on a veth pair), so the monitor has an adapter to offer and the unit
# talks only to an address of that namespace.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)

if [ "${DRAVIK_SCREENSHOT_INSIDE:-}" != 1 ]; then
  for f in "$build/DRAVIK_A" "$build/DRAVIK_B" "$build/tools/dravik-unit"; do
    [ -x "$f" ] || { echo "missing $f: build the programs and tools first" >&2; exit 1; }
  done
  export DRAVIK_SCREENSHOT_INSIDE=1
  exec unshare -rnm bash "$0" "$build"
fi

address=10.200.0.1
ip link set lo up
if ! ip link add dravik0 type dummy 2>/dev/null; then
  ip link add dravik0 type veth peer name dravik1
  ip link set dravik1 up
fi
ip addr add "$address/24" dev dravik0
ip link set dravik0 up
# The interface tables of this namespace, not the host's.
mount -t sysfs sysfs /sys

work=$(mktemp -d /tmp/dravik-screenshot-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=:97
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

cp932() { iconv -f UTF-8 -t CP932; }

# shoot VARIANT MODEL EXTENSION BITS NAMES...: one program run and its picture.
shoot() {
  local variant=$1 model=$2 extension=$3 bits=$4
  shift 4
  local dir="$work/$variant"
  mkdir -p "$dir"
  cp "$build/DRAVIK_$variant" "$dir/"
  local settings="$dir/screenshot.$extension"
  {
    printf '#$TITLEBAR=%s 監視盤\r\n' "$model"
    printf '#$PORT=10003\r\n#$PORT2=10004\r\n#$PORT3=\r\n#$PORT4=\r\n'
    [ "$variant" = A ] && printf '#$SEND=10003\r\n'
    local n=1
    for name in "$@"; do printf '#$%s=%s\r\n' "$name" "${names[$((n - 1))]}"; n=$((n + 1)); done
    printf '#$LOGGING=ON\r\n#$SERVER=START\r\n#$LOGFILENAME=%s/%s.csv\r\n' "$dir" "$model"
  } | cp932 >"$settings"
  printf '%s\r\n' "$settings" >"$dir/$model.ini"

  "$dir/DRAVIK_$variant" >/dev/null 2>&1 &
  local program=$!
  pids+=("$program")
  sleep 1.5
  "$build/tools/dravik-unit" --host "$address" --port 10003 --do "$bits" --keep-open \
    --hold 4000 >/dev/null 2>&1 &
  pids+=($!)
  sleep 2
  local out
  out="$root/docs/screenshot-$(echo "$variant" | tr AB ab).png"
  import -window root "$work/root.png"
  convert "$work/root.png" -trim +repage "$out"
  kill "$program"
  wait "$program" 2>/dev/null || true
  echo "wrote $out"
}

names=("非常停止" "扉開" "運転中" "異常" "ブザー" "回転灯" "予備" "予備2")
shoot A DRAVIK-A dva 1010 DI1 DI2 DI3 DI4 DO1 DO2 DO3 DO4
names=("非常停止" "扉開" "運転中" "異常" "温度警報" "水位上限" "水位下限" "予備")
shoot B DRAVIK-B dvb 10110010 DI1 DI2 DI3 DI4 DI5 DI6 DI7 DI8
