#!/bin/sh
# Makes the desktop entries of this folder start its programs from wherever the folder was
# unpacked: DRAVIK_A.desktop and DRAVIK_B.desktop get the programs' and icons' absolute paths,
# here (a double-click in the file manager starts the monitor) and in the user's application
# menu. Run it again after moving the folder.
set -eu
folder=$(cd "$(dirname "$0")" && pwd -P)
menu=${XDG_DATA_HOME:-$HOME/.local/share}/applications
mkdir -p "$menu"

# Exec takes the path as one quoted argument, in which \ " ` $ are escaped; every value then
# escapes \ once more, and a % that is not a field code is doubled.
exec_value() {
  printf '"%s"' "$(printf '%s' "$1" | sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g' -e 's/%/%%/g')"
}
string_value() {
  printf '%s' "$1" | sed -e 's/\\/\\\\/g'
}

for program in DRAVIK_A DRAVIK_B; do
  entry="$menu/$program.desktop"
  EXEC=$(exec_value "$folder/$program") ICON=$(string_value "$folder/$program.png") awk '
    /^Exec=/ { print "Exec=" ENVIRON["EXEC"]; next }
    /^Icon=/ { print "Icon=" ENVIRON["ICON"]; next }
    { print }' "$folder/$program.desktop" > "$entry.new"
  mv "$entry.new" "$entry"
  if [ -w "$folder" ]; then
    cp "$entry" "$folder/$program.desktop"
    chmod 755 "$folder/$program.desktop"
  fi
  echo "$program: $entry"
done
