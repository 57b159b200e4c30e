#!/usr/bin/env bash
# Starts DRAVIK_A or DRAVIK_B from the build folder. Without a display the program runs on
# Qt's offscreen platform, which keeps it working (listening, logging) with no window to see.
set -euo pipefail
build=${1:-build}
variant=${2:-A}
case "$variant" in
  A|a) program="$build/DRAVIK_A" ;;
  B|b) program="$build/DRAVIK_B" ;;
  *) echo "VARIANT must be A or B, not '$variant'" >&2; exit 2 ;;
esac
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: running $(basename "$program") on Qt's offscreen platform (no window is shown)."
  export QT_QPA_PLATFORM=offscreen
fi
exec "$program"
