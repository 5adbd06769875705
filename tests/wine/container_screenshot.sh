#!/usr/bin/env bash
# Takes the README's picture of the lamp in both states: runs container_screenshot.exe (from a
# win64 build) in an X server of its own and grabs the screen.
#   tests/wine/container_screenshot.sh BUILD_DIR OUTPUT.png
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export QVX_WINEPREFIX="${QVX_WINEPREFIX:-$build/wineprefix-container}"
export WINEPREFIX="$QVX_WINEPREFIX"
export QVX_TEST_OCX="Z:$build/module/emulated/QelVantorixActiveX.ocx"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; "$here/../../cmake/wine-server" stop' EXIT
xvfb-run -a -s "-screen 0 320x200x24" bash -c '
  "$1/cmake/wine-server" start
  "$1/cmake/wine-run" "$2/tests/wine/container_screenshot.exe" 6 &
  sleep 4
  xwd -root -silent > "$3/screen.xwd"
  wait' _ "$here/../.." "$build" "$tmp"
/usr/bin/convert "$tmp/screen.xwd" -crop 250x90+0+0 +repage "$out"
echo "wrote $out"
