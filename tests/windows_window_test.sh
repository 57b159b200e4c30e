#!/usr/bin/env bash
# The Win32 window test (tests/windows_window_test.exe of the Windows build BUILD) under Wine:
#   windows_window_test.sh BUILD
# in a prefix of its own in BUILD, in the namespace and on the display of wine_desktop.sh.
set -euo pipefail
build=$(cd "$1" && pwd)
export DRAVIK_WINDOW_TEST_NAMESPACE=1
exec "$(dirname "$0")/../scripts/wine_desktop.sh" "$build/wineprefix-desktop" bash -c \
  '"$WINE" "$(winpath "$0/tests/windows_window_test.exe")" | tr -d "\r"; exit "${PIPESTATUS[0]}"' \
  "$build"
