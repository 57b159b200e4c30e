#!/usr/bin/env bash
# The Windows packages under Wine: windows_package_test.sh BUILD (the Windows build folder).
# Builds them, unpacks the zip and runs both of its programs, which keep their files beside
# themselves; then, in the same fresh prefix, installs the setup silently, runs the installed
# DRAVIK_B from Program Files, which keeps its files under the prefix's AppData, and uninstalls
# it silently. Each program starts listening from its startup configuration, answers
# dravik-unit.exe and logs the report; closed as the close box does, it ends with status 0.
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
if [ "${DRAVIK_WINE_DESKTOP_INSIDE:-}" != 1 ]; then
  cmake --build "$build" --target windows-packages >/dev/null
  fresh=$(mktemp -d)
  trap 'rm -rf "$fresh"' EXIT
  "$root/scripts/wine_desktop.sh" "$fresh/prefix" bash "$0" "$@"
  exit
fi

fail() { echo "FAIL: $*"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
address=10.200.0.1

# serves PROGRAM UNIT CONFIG DATA: PROGRAM (a Linux path), started with a startup configuration
# in the folder CONFIG, listens, answers UNIT and logs the report in DATA; closed, it ends with
# status 0.
serves() {
  local program=$1 unit=$2 config=$3 data=$4
  local model
  model=$(basename "$program" .exe | tr _ -)
  mkdir -p "$config"
  printf '#$PORT=10003\r\n#$LOGGING=ON\r\n#$SERVER=START\r\n' >"$config/start.set"
  printf '%s\r\n' "$(winpath "$config/start.set")" >"$config/$model.ini"
  "$WINE" "$(winpath "$program")" &
  local monitor=$! answer=""
  for _ in $(seq 100); do
    answer=$("$WINE" "$(winpath "$unit")" --host "$address" --port 10003 --do 1 2>&1 | tr -d '\r') &&
      grep -q '^ack:' <<<"$answer" && break
    sleep 0.1
  done
  grep -q '^ack:' <<<"$answer" || fail "$program did not answer the unit: $answer"
  # The answer goes out before the report's log line is written.
  for _ in $(seq 50); do grep -q "$address" "$data/$model.csv" 2>/dev/null && break; sleep 0.1; done
  grep -q "$address" "$data/$model.csv" 2>/dev/null || fail "$program logged nothing in $data"
  # taskkill without /f sends the program's windows WM_CLOSE, as the close box does.
  "$WINE" taskkill /im "$(basename "$program")" >/dev/null 2>&1
  wait "$monitor" || fail "$program ended with status $?"
}

zip=$build/dravik-$version-windows-x64.zip
setup=$build/dravik-$version-setup.exe
mkdir "$work/portable"
(cd "$work/portable" && cmake -E tar xf "$zip")
folder=$work/portable/dravik-$version-windows-x64
for f in DRAVIK_A.exe DRAVIK_B.exe dravik-unit.exe README.txt LICENSE.txt; do
  [ -f "$folder/$f" ] || fail "$f not in ${zip##*/}"
done
for p in DRAVIK_A DRAVIK_B; do serves "$folder/$p.exe" "$folder/dravik-unit.exe" "$folder" "$folder"; done

"$WINE" "$(winpath "$setup")" /S
/usr/lib/wine/wineserver -w
installed="$WINEPREFIX/drive_c/Program Files/DRAVIK"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/DRAVIK"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\DRAVIK'
for f in DRAVIK_A.exe DRAVIK_B.exe dravik-unit.exe README.txt LICENSE.txt uninstall.exe; do
  [ -f "$installed/$f" ] || fail "$f not installed"
done
[ -f "$menu/DRAVIK_A.lnk" ] && [ -f "$menu/DRAVIK_B.lnk" ] || fail "no Start-menu entries"
"$WINE" reg query "$key" /v UninstallString >/dev/null 2>&1 || fail "no uninstall entry"
# Wine lets anyone write under Program Files; Windows does not, and this read-only mount stands
# in for it.
mount --bind "$installed" "$installed"
mount -o remount,bind,ro "$installed"
# A folder of the user by its variable (APPDATA), as a Linux path.
user() { "$WINE" winepath -u "$("$WINE" cmd /c echo "%$1%" | tr -d '\r')" | tr -d '\r'; }
serves "$installed/DRAVIK_B.exe" "$installed/dravik-unit.exe" "$(user APPDATA)/dravik" \
  "$(user LOCALAPPDATA)/dravik"
[ ! -e "$installed/DRAVIK-B.csv" ] && [ ! -e "$installed/DRAVIK-B.ini" ] ||
  fail "the installed program wrote beside itself"
umount "$installed"

"$WINE" "$(winpath "$installed/uninstall.exe")" /S
/usr/lib/wine/wineserver -w
[ ! -e "$installed" ] || fail "the uninstaller left $(ls "$installed")"
[ ! -e "$menu" ] || fail "the uninstaller left the Start-menu entries"
! "$WINE" reg query "$key" >/dev/null 2>&1 || fail "the uninstaller left its uninstall entry"
echo "zip and installer: ok"
