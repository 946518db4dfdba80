#!/usr/bin/env bash
# run.sh: sets the machine up, builds QVT.exe and starts it under Wine.
# With a display (DISPLAY set and reachable) QVT runs there until it is
# closed. Without one it runs on a private Xvfb just long enough for a
# screenshot of its main window, and the script says where the picture is.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/setup.sh
scripts/build-mingw-deps.sh
mkdir -p build/mingw
cmake --preset mingw >build/mingw/configure.log 2>&1 || { cat build/mingw/configure.log >&2; exit 1; }
cmake --build --preset mingw --target QVT qvt_screenshot

prefix=build/mingw/wine-prefix
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  . scripts/wine-env.sh "$prefix"
  qvt_wine_prefix_ready
  echo "Starting QVT.exe on $DISPLAY"
  exec "$QVT_WINE" build/mingw/bin/QVT.exe
fi

shot="$repo/build/mingw/artifacts/qvt.png"
mkdir -p "$(dirname "$shot")"
. scripts/wine-env.sh "$prefix"
echo "No display: starting QVT.exe on a private Xvfb for a screenshot"
scripts/with-xvfb.sh --wine-prefix "$prefix" \
  scripts/wine-run.sh --prefix "$prefix" build/mingw/bin/qvt_screenshot.exe "$(qvt_winpath "$shot")"
echo "Screenshot of QVT.exe: $shot"
