#!/usr/bin/env bash
# Builds the portable archive, unpacks it into a fresh folder and starts each program from
# there, offscreen, with a startup configuration asking for a running server. A simulated unit
# then reports, and the test expects the acknowledgement and a line in the access log.
#
# The programs bind to a real adapter address, never loopback, so each runs inside a network
# namespace this test creates, with a veth pair holding 10.200.0.1: no traffic leaves it.
set -euo pipefail
build=$1
skip=77
command -v unshare >/dev/null || { echo "unshare is missing"; exit $skip; }
unshare -rnm true 2>/dev/null || { echo "network namespaces are not permitted here"; exit $skip; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
archive=$(ls "$work"/out/dravik-*-linux-x86_64.tar.gz)
mkdir "$work/unpacked"
tar -xzf "$archive" -C "$work/unpacked"
folder=$(ls -d "$work"/unpacked/dravik-*)
for f in DRAVIK_A DRAVIK_B dravik-unit README.txt DRAVIK_A.desktop DRAVIK_B.png; do
  [ -e "$folder/$f" ] || { echo "FAIL: $f is not in $(basename "$archive")"; exit 1; }
done

check_program() {
  local program=$1 model=$2 extension=$3 port=$4
  local settings="$folder/$model.$extension"
  printf '#$PORT=%s\r\n#$LOGGING=ON\r\n#$SERVER=START\r\n' "$port" > "$settings"
  printf '%s' "$settings" > "$folder/$model.ini"
  # Inside the namespace: bring up the adapter, start the program, report as a unit.
  unshare -rnm bash -s "$folder" "$program" "$port" <<'INNER'
set -euo pipefail
folder=$1 program=$2 port=$3
# The adapter table reads /sys/class/net, which must show this namespace's interfaces.
mount -t sysfs sysfs /sys
ip link set lo up
ip link add v0 type veth peer name v1
ip addr add 10.200.0.1/24 dev v0
ip link set v0 up
ip link set v1 up
QT_QPA_PLATFORM=offscreen "$folder/$program" >"$folder/$program.out" 2>&1 &
pid=$!
answer=""
for _ in $(seq 1 100); do
  answer=$("$folder/dravik-unit" --host 10.200.0.1 --port "$port" --do 1000 --timeout 500 2>/dev/null | grep '^ack:' || true)
  [ -n "$answer" ] && break
  kill -0 "$pid" 2>/dev/null || { echo "FAIL: $program ended"; cat "$folder/$program.out"; exit 1; }
  sleep 0.1
done
kill "$pid"
wait "$pid" 2>/dev/null || true
case "$answer" in
  "ack: 64 6F 21 20 C8"*) ;;
  *) echo "FAIL: $program did not answer as expected: '$answer'"; cat "$folder/$program.out"; exit 1 ;;
esac
INNER
  local log="$folder/$model.csv"
  [ -s "$log" ] || { echo "FAIL: $program wrote no access log"; exit 1; }
  grep -q ',10.200.0.1,1,0,0,0' "$log" || { echo "FAIL: $program logged no report"; exit 1; }
  echo "$program from $(basename "$archive"): listening, answered, logged"
}

check_program DRAVIK_A DRAVIK-A dva 10003
check_program DRAVIK_B DRAVIK-B dvb 10005
