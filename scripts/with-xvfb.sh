#!/usr/bin/env bash
# with-xvfb.sh [--wine-prefix DIR] COMMAND [ARGS...]
# Runs COMMAND with a private Xvfb display (its name in DISPLAY and in
# QVT_XVFB_DISPLAY) and ends the display afterwards. With --wine-prefix, the
# Wine processes of that prefix are ended before the display goes, so that
# nothing of the run is left behind.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

prefix=""
if [ "${1:-}" = --wine-prefix ]; then prefix=$2; shift 2; fi
[ $# -ge 1 ] || { echo "usage: with-xvfb.sh [--wine-prefix DIR] COMMAND [ARGS...]" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "with-xvfb.sh: Xvfb is not installed (scripts/setup.sh installs it)" >&2; exit 1; }

numfile=$(mktemp)
logfile=$(mktemp)
# -displayfd: Xvfb picks a free display itself and writes its number once it
# accepts clients, so parallel runs never race for a number.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$numfile" 2>"$logfile" &
xvfb=$!

finish() {
  local status=$?
  if [ -n "$prefix" ] && [ -d "$prefix" ]; then
    ( . "$here/wine-env.sh" "$prefix"; "$QVT_WINESERVER" -k 2>/dev/null || true )
  fi
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -f "$numfile" "$logfile"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

for _ in $(seq 1 200); do
  [ -s "$numfile" ] && break
  kill -0 "$xvfb" 2>/dev/null || { echo "with-xvfb.sh: Xvfb did not start:" >&2; cat "$logfile" >&2; exit 1; }
  sleep 0.05
done
[ -s "$numfile" ] || { echo "with-xvfb.sh: Xvfb gave no display within 10 s" >&2; exit 1; }

export DISPLAY=":$(head -n 1 "$numfile")"
export QVT_XVFB_DISPLAY="$DISPLAY"
"$@"
