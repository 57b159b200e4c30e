#!/usr/bin/env bash
# Builds both packages and runs their programs as an operator would, offscreen, each with a
# startup configuration asking for a running server; a simulated unit then reports, and the
# test expects the acknowledgement and a line in the access log.
# - The portable archive, unpacked into a fresh folder: the programs keep their files beside
#   themselves, and the script in it makes desktop entries that start them from there.
# - The Debian package, unpacked with dpkg-deb -x into a scratch root (never installed), passes
#   lintian. Its programs, in a folder they cannot write, keep their files in the per-user
#   folders of a fresh HOME. SIGTERM while four units send pipelined frames ends DRAVIK_A like
#   the close box: exit 0 at once, whole log lines only, every answered frame logged, ports
#   free.
#
# The programs bind to a real adapter address, never loopback, so each runs inside a network
# namespace this test creates, with a veth pair holding 10.200.0.1: no traffic leaves it.
set -euo pipefail
build=$1
skip=77
command -v unshare >/dev/null || { echo "unshare is missing"; exit $skip; }
unshare -rnm true 2>/dev/null || { echo "network namespaces are not permitted here"; exit $skip; }
for tool in lintian desktop-file-validate dpkg-deb; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
archive=$(ls "$work"/out/dravik-*-linux-x86_64.tar.gz)
deb=$(ls "$work"/out/dravik_*_amd64.deb)
# A space in the path: the desktop entries must quote it.
mkdir "$work/un packed"
tar -xzf "$archive" -C "$work/un packed"
folder=$(ls -d "$work/un packed"/dravik-*)
for f in DRAVIK_A DRAVIK_B dravik-unit README.txt DRAVIK_A.desktop DRAVIK_B.png \
         install-desktop-entries.sh; do
  [ -e "$folder/$f" ] || fail "$f is not in $(basename "$archive")"
done
root=$work/root
dpkg-deb -x "$deb" "$root"
for f in usr/bin/DRAVIK_A usr/bin/DRAVIK_B usr/bin/dravik-unit usr/share/doc/dravik/README.txt \
         usr/share/doc/dravik/copyright usr/share/man/man1/dravik-unit.1.gz; do
  [ -e "$root/$f" ] || fail "$f is not in $(basename "$deb")"
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 fonts-ipafont-gothic; do
  [[ "$depends" == *"$d"* ]] || fail "the package does not depend on $d: $depends"
done
version=$(dpkg-deb -f "$deb" Version)
[ "$("$root/usr/bin/dravik-unit" --version)" = "dravik-unit $version" ] ||
  fail "dravik-unit --version does not say $version"
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || { cat "$work/lintian.txt"; fail "lintian"; }
echo "$(basename "$deb"): lintian without errors"

# Every desktop entry is valid, runs an executable program and shows an icon that exists.
check_entry() {
  local entry=$1 exec=$2 program=$3 icon=$4 icon_file=$5
  desktop-file-validate "$entry" || fail "$entry is not a valid desktop entry"
  grep -qxF "Exec=$exec" "$entry" || fail "$entry: Exec is not $exec"
  [ -x "$program" ] || fail "$entry: $program is no program"
  grep -qxF "Icon=$icon" "$entry" || fail "$entry: Icon is not $icon"
  [ -s "$icon_file" ] || fail "$entry: no icon $icon_file"
}
# Width and height from a PNG's header.
png_size() { od -An -tu1 -j18 -N6 "$1" | awk '{ print $1 * 256 + $2 "x" $5 * 256 + $6 }'; }
home=$work/home-portable
mkdir "$home"
HOME=$home sh "$folder/install-desktop-entries.sh" >/dev/null
for p in DRAVIK_A DRAVIK_B; do
  icons=$root/usr/share/icons/hicolor
  check_entry "$root/usr/share/applications/$p.desktop" "$p" "$root/usr/bin/$p" "$p" \
    "$icons/48x48/apps/$p.png"
  for size in 48x48 256x256; do
    [ "$(png_size "$icons/$size/apps/$p.png")" = "$size" ] || fail "no $size icon $p.png"
  done
  for entry in "$folder/$p.desktop" "$home/.local/share/applications/$p.desktop"; do
    check_entry "$entry" "\"$folder/$p\"" "$folder/$p" "$folder/$p.png" "$folder/$p.png"
  done
done
echo "desktop entries: valid, and their programs and icons exist"

# Inside the namespace: the adapter up, and `answered PID PORT` reporting as a unit until the
# program answers (its acknowledgement on stdout).
setup='set -euo pipefail
# The adapter table reads /sys/class/net, which must show this namespace'"'"'s interfaces.
mount -t sysfs sysfs /sys
ip link set lo up
ip link add v0 type veth peer name v1
ip addr add 10.200.0.1/24 dev v0
ip link set v0 up
ip link set v1 up
answered() {
  for _ in $(seq 1 100); do
    "$unit" --host 10.200.0.1 --port "$2" --do 1000 --timeout 500 2>/dev/null | grep "^ack:" && return
    kill -0 "$1" 2>/dev/null || { echo "FAIL: the program ended"; cat "$out"; exit 1; }
    sleep 0.1
  done
}'

# Runs a program with a startup configuration at `ini` naming a settings file at `settings`,
# and checks that it answers and logs into `log`. `finish` is run in the namespace once the
# program has answered, with $pid set.
run_program() {
  local program=$1 ini=$2 settings=$3 log=$4 home=$5 finish=$6
  printf '%s' "$settings" >"$ini"
  env -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME="$home" QT_QPA_PLATFORM=offscreen \
    unshare -rnm bash -c "$setup
$finish" inner "$program" "$(dirname "$program")/dravik-unit" "$work/$(basename "$program").out" \
    "$root" >"$work/answer"
  grep -q "^ack: 64 6F 21 20 C8" "$work/answer" ||
    fail "$program did not answer as expected: $(cat "$work/answer" "$work/$(basename "$program").out")"
  [ -s "$log" ] || fail "$program wrote no access log at $log"
  grep -q ',10.200.0.1,1,0,0,0' "$log" || fail "$program logged no report"
}

# Starts the program and waits for its answer; then one SIGTERM must end it with status 0.
start='program=$1 unit=$2 out=$3
"$program" >"$out" 2>&1 &
pid=$!
answered $pid "$port"'
one_signal='kill -TERM $pid; status=0; wait $pid || status=$?
[ $status -eq 0 ] || { echo "FAIL: SIGTERM ended it with $status"; exit 1; }'

# The portable programs: their files beside them; nothing in the user's folders.
port=10003
for model in A B; do
  settings="$folder/DRAVIK-$model.dv${model,}"
  printf '#$PORT=%s\r\n#$LOGGING=ON\r\n#$SERVER=START\r\n' "$port" >"$settings"
  signals=$one_signal
  # DRAVIK_A takes two signals, once its report is logged: the second one, during the
  # shutdown, ends it at once.
  [ $model = B ] || signals='for _ in $(seq 1 50); do
  grep -qs ",10.200.0.1," "${program%/*}/DRAVIK-A.csv" && break
  sleep 0.1
done
kill -TERM $pid; sleep 0.1
kill -0 $pid 2>/dev/null || { echo "FAIL: the first SIGTERM killed it"; exit 1; }
kill -TERM $pid; status=0; wait $pid || status=$?
[ $status -eq 143 ] || { echo "FAIL: a second SIGTERM did not end it at once: $status"; exit 1; }'
  run_program "$folder/DRAVIK_$model" "$folder/DRAVIK-$model.ini" "$settings" \
    "$folder/DRAVIK-$model.csv" "$home" "port=$port
$start
$signals"
  [ ! -e "$home/.config/dravik" ] && [ ! -e "$home/.local/share/dravik" ] ||
    fail "the portable DRAVIK_$model made per-user folders"
  echo "DRAVIK_$model from $(basename "$archive"): listening, answered, logged beside itself"
  port=10005
done

# The Debian package's programs in a read-only /usr, as installed programs are, with a fresh
# HOME: the startup configuration is read from ~/.config/dravik, the log goes to
# ~/.local/share/dravik, which the program makes.
home=$work/home-deb
mkdir -p "$home/.config/dravik"
read_only_usr='mount --bind "$4/usr" "$4/usr"
mount -o remount,bind,ro "$4/usr"'
settings=$home/one.dvb
printf '#$PORT=10003\r\n#$LOGGING=ON\r\n#$SERVER=START\r\n' >"$settings"
run_program "$root/usr/bin/DRAVIK_B" "$home/.config/dravik/DRAVIK-B.ini" "$settings" \
  "$home/.local/share/dravik/DRAVIK-B.csv" "$home" "port=10003
$read_only_usr
$start
$one_signal"
echo "DRAVIK_B from $(basename "$deb"): listening, answered, logged in the per-user folders"

# SIGTERM while four units send pipelined frames (DRAVIK_A, whose trace pane stays empty).
settings=$home/four.dva
printf '#$PORT=10011\r\n#$PORT2=10012\r\n#$PORT3=10013\r\n#$PORT4=10014\r\n#$LOGGING=ON\r\n#$SERVER=START\r\n' \
  >"$settings"
log=$home/.local/share/dravik/DRAVIK-A.csv
run_program "$root/usr/bin/DRAVIK_A" "$home/.config/dravik/DRAVIK-A.ini" "$settings" "$log" \
  "$home" "port=10011
$read_only_usr
$start"'
units=()
for port in 10011 10012 10013 10014; do
  "$unit" --host 10.200.0.1 --port $port --keep-open --count 0 --interval 0 \
    --raw "44 4F 31 30 C8 44 4F 30 31 C8 44 4F 31 31 C8 44 4F 30 30 C8" >"$out.$port" 2>&1 &
  units+=($!)
done
sleep 0.5
begin=$(date +%s%N)
kill -TERM $pid
status=0
wait $pid || status=$?
took=$(( ($(date +%s%N) - begin) / 1000000 ))
[ $status -eq 0 ] || { echo "FAIL: SIGTERM ended DRAVIK_A with $status"; cat "$out"; exit 1; }
[ $took -le 1000 ] || { echo "FAIL: SIGTERM took $took ms"; exit 1; }
for port in 10011 10012 10013 10014; do
  "$unit" --listen $port --bind 10.200.0.1 --hold 1 >/dev/null ||
    { echo "FAIL: port $port is still held"; exit 1; }
done
kill -INT "${units[@]}" 2>/dev/null || true
wait "${units[@]}" || true
cat "$out".100*'

# The log: every line whole (CR LF, a date, a time, the unit, 4 inputs and 4 outputs), and a
# line for every acknowledgement a unit received.
acks=$(grep -c '^ack:' "$work/answer")
lines=$(grep -c ',10.200.0.1,' "$log")
[ "$acks" -gt 20 ] || fail "the four units were hardly answered ($acks acknowledgements)"
[ "$lines" -ge "$acks" ] || fail "$acks frames answered, $lines logged"
[ "$(tail -c 2 "$log" | od -An -tx1)" = " 0d 0a" ] || fail "the log ends inside a line"
LC_ALL=C awk -F, '!/\r$/ || NF != 11 { bad++ } END { exit bad > 0 }' "$log" ||
  fail "a line of the log is cut: $(LC_ALL=C awk -F, '!/\r$/ || NF != 11' "$log" | head -3)"
echo "DRAVIK_A from $(basename "$deb"): SIGTERM ended it cleanly after $acks answered frames"
