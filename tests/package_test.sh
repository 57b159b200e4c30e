#!/usr/bin/env bash
# Builds both packages and runs their programs offscreen, started by their startup files, expecting
# a simulated unit's report answered and logged. The programs bind to a real adapter address, so
# each runs in a network namespace made here (veth 10.200.0.1): nothing leaves it.
set -euo pipefail
build=$1
command -v unshare >/dev/null && unshare -rnm true 2>/dev/null ||
  { echo "network namespaces are not permitted here"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
for t in lintian desktop-file-validate dpkg-deb hardening-check; do command -v $t >/dev/null || fail "no $t"; done
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
# holds FOLDER PACKAGE FILE...: every FILE is in FOLDER, where PACKAGE was unpacked.
holds() { local d=$1 p=$2 f; shift 2; for f; do [ -e "$d/$f" ] || fail "$f not in ${p##*/}"; done; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
archive=$(ls "$work"/out/dravik-*-linux-x86_64.tar.gz)
deb=$(ls "$work"/out/dravik_*_amd64.deb)
mkdir "$work/un packed" # a space in the path, which the desktop entries must quote
tar -xzf "$archive" -C "$work/un packed"
folder=$(ls -d "$work/un packed"/dravik-*)
holds "$folder" "$archive" DRAVIK_A DRAVIK_B dravik-unit README.txt DRAVIK_A.desktop DRAVIK_B.png \
  install-desktop-entries.sh LICENSE
root=$work/root
dpkg-deb -x "$deb" "$root" # never installed
holds "$root" "$deb" usr/bin/DRAVIK_A usr/bin/DRAVIK_B usr/bin/dravik-unit \
  usr/share/doc/dravik/README.txt usr/share/doc/dravik/copyright usr/share/man/man1/dravik-unit.1.gz
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 fonts-ipafont-gothic; do [[ "$depends" == *"$d"* ]] || fail "no $d"; done
[ "$("$root/usr/bin/dravik-unit" --version)" = "dravik-unit $(dpkg-deb -f "$deb" Version)" ] ||
  fail "dravik-unit --version does not say the package's version"
# Hardening tags are only information to lintian: shown, they must be absent.
lintian --fail-on error --display-info "$deb" >"$work/lintian.txt" 2>&1 ||
  { cat "$work/lintian.txt"; fail lintian; }
if grep hardening- "$work/lintian.txt"; then fail "lintian finds unhardened programs"; fi
# Debian 12's own start files (Scrt1.o, crti.o, crtn.o) carry no control-flow (IBT, SHSTK)
# marking, so no program linked here has it, Debian's own included: that marking is checked on
# every object of ours, everything else on the programs.
hardening-check --nocfprotection "$root"/usr/bin/{DRAVIK_A,DRAVIK_B,dravik-unit} \
  >"$work/hardening.txt" || { cat "$work/hardening.txt"; fail hardening-check; }
while IFS= read -r -d '' object; do
  readelf -n "$object" | grep -q "x86 feature: IBT, SHSTK" ||
    fail "${object#"$build"/} is built without control-flow protection"
done < <(find "$build/src" "$build/tools" -name '*.o' -print0)
# Both packages are under the MIT licence, in the Debian copyright format in the .deb.
grep -q "^Permission is hereby granted, free of charge" "$folder/LICENSE" &&
  grep -qx "License: Expat" "$root/usr/share/doc/dravik/copyright" &&
  cmp -s <(sed -n '/^Permission/,$p' "$folder/LICENSE") \
    <(sed -n '/^ Permission/,$s/^ \.\?//p' "$root/usr/share/doc/dravik/copyright") ||
  fail "the two packages do not carry the same MIT licence"

# entry FILE EXEC PROGRAM ICON ICON_FILE: a valid entry running a program, with an existing icon.
entry() {
  desktop-file-validate "$1" && grep -qxF "Exec=$2" "$1" && [ -x "$3" ] && grep -qxF "Icon=$4" "$1" &&
    [ -s "$5" ] || fail "$1: invalid, or not Exec=$2 (program $3) with Icon=$4 ($5)"
}
home=$work/home-portable && mkdir "$home" && HOME=$home sh "$folder/install-desktop-entries.sh" >/dev/null
icons=$root/usr/share/icons/hicolor
for p in DRAVIK_A DRAVIK_B; do
  entry "$root/usr/share/applications/$p.desktop" "$p" "$root/usr/bin/$p" "$p" \
    "$icons/48x48/apps/$p.png"
  for size in 48x48 256x256; do # width and height from the PNG header
    [ "$(od -An -tu1 -j18 -N6 "$icons/$size/apps/$p.png" |
      awk '{ print $1 * 256 + $2 "x" $5 * 256 + $6 }')" = "$size" ] || fail "no $size icon $p.png"
  done
  for e in "$folder/$p.desktop" "$home/.local/share/applications/$p.desktop"; do
    entry "$e" "\"$folder/$p\"" "$folder/$p" "$folder/$p.png" "$folder/$p.png"
  done
done

# In the namespace: the adapter up, /usr read-only for the Debian programs as when installed, the
# program started and a unit reporting until it answers; `stop STATUS` sends SIGTERM and expects
# the program to end with STATUS.
inner='set -euo pipefail
program=$1 unit=$2 out=$3 port=$4
mount -t sysfs sysfs /sys # the adapter table reads /sys/class/net
ip link set lo up && ip link add v0 type veth peer name v1 && ip addr add 10.200.0.1/24 dev v0
ip link set v0 up && ip link set v1 up
[ "$5" = - ] || { mount --bind "$5/usr" "$5/usr"; mount -o remount,bind,ro "$5/usr"; }
"$program" >"$out" 2>&1 & pid=$!
for _ in $(seq 1 100); do
  "$unit" --host 10.200.0.1 --port "$port" --do 1000 --timeout 500 2>/dev/null | grep "^ack:" && break
  kill -0 $pid 2>/dev/null || { echo "FAIL: the program ended"; cat "$out"; exit 1; }
  sleep 0.1
done
stop() {
  kill -TERM $pid; status=0; wait $pid || status=$?
  [ $status -eq $1 ] || { echo "FAIL: SIGTERM ended it with $status"; cat "$out"; exit 1; }
}
'
# run MODEL PROGRAMS CONFIG DATA HOME PORTS USR THEN: the program, its startup configuration in
# CONFIG naming a settings file there that starts the server on PORTS, answers on the first PORT
# and logs into DATA; USR is the root whose /usr is made read-only, or -; THEN ends the program.
run() {
  local program=$2/DRAVIK_$1 settings=$3/DRAVIK-$1.dv${1,} log=$4/DRAVIK-$1.csv out=$work/$1.out n="" p
  for p in $6; do printf '#$PORT%s=%s\r\n' "$n" "$p"; n=$((${n:-1} + 1)); done >"$settings"
  printf '#$LOGGING=ON\r\n#$SERVER=START\r\n' >>"$settings"
  printf '%s' "$settings" >"$3/DRAVIK-$1.ini"
  env -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME="$5" QT_QPA_PLATFORM=offscreen unshare -rnm \
    bash -c "$inner$8" inner "$program" "$2/dravik-unit" "$out" "${6%% *}" "$7" >"$work/answer" ||
    fail "$program: $(grep -A5 FAIL "$work/answer")"
  grep -q "^ack: 64 6F 21 20 C8" "$work/answer" ||
    fail "$program did not answer as expected: $(cat "$work/answer" "$out")"
  grep -qs ',10.200.0.1,1,0,0,0' "$log" || fail "$program logged no report at $log"
}

# The portable programs keep their files beside themselves. DRAVIK_A, once its report is logged,
# is sent a second SIGTERM during the shutdown, which ends it at once.
run A "$folder" "$folder" "$folder" "$home" 10003 - '
for _ in $(seq 1 50); do grep -qs ",10.200.0.1," "${program%/*}/DRAVIK-A.csv" && break; sleep 0.1; done
kill -TERM $pid; sleep 0.1
kill -0 $pid 2>/dev/null || { echo "FAIL: the first SIGTERM killed it"; exit 1; }
stop 143'
run B "$folder" "$folder" "$folder" "$home" 10005 - 'stop 0'
[ ! -e "$home/.config/dravik" ] && [ ! -e "$home/.local/share/dravik" ] ||
  fail "the portable programs made per-user folders"

# The Debian package's programs read their startup configuration from ~/.config/dravik of a fresh
# HOME and log into ~/.local/share/dravik, which they make.
home=$work/home-deb; config=$home/.config/dravik data=$home/.local/share/dravik; mkdir -p "$config"
run B "$root/usr/bin" "$config" "$data" "$home" 10003 "$root" 'stop 0'

# SIGTERM while four units send pipelined frames ends DRAVIK_A like the close box: at once,
# ports free, whole log lines only, every answered frame logged.
ports="10011 10012 10013 10014"
run A "$root/usr/bin" "$config" "$data" "$home" "$ports" "$root" '
for p in '"$ports"'; do
  "$unit" --host 10.200.0.1 --port $p --keep-open --count 0 --interval 0 \
    --raw "44 4F 31 30 C8 44 4F 30 31 C8 44 4F 31 31 C8 44 4F 30 30 C8" >"$out.$p" 2>&1 &
  units+=($!)
done
sleep 0.5
begin=$(date +%s%N); stop 0
[ $(( $(date +%s%N) - begin )) -le 1000000000 ] || { echo "FAIL: SIGTERM took over 1 s"; exit 1; }
for p in '"$ports"'; do
  "$unit" --listen $p --bind 10.200.0.1 --hold 1 >/dev/null || { echo "FAIL: port $p is still held"; exit 1; }
done
kill -INT "${units[@]}" 2>/dev/null || true; wait "${units[@]}" || true
cat "$out".100*'
log=$data/DRAVIK-A.csv acks=$(grep -c '^ack:' "$work/answer")
[ "$acks" -gt 20 ] || fail "the four units were hardly answered ($acks acknowledgements)"
[ "$(grep -c ',10.200.0.1,' "$log")" -ge "$acks" ] || fail "$acks frames answered, fewer logged"
[ "$(tail -c 2 "$log" | od -An -tx1)" = " 0d 0a" ] || fail "the log ends inside a line"
cut=$(LC_ALL=C awk -F, '!/\r$/ || NF != 11' "$log" | head -3) # CR LF, date, time, unit, 4 + 4
[ -z "$cut" ] || fail "a line of the log is cut: $cut"
