#!/usr/bin/env bash
# wine-run.sh --prefix DIR PROGRAM.exe [ARGS...]
# Runs a Windows program of the cross build under Wine, in the project's
# private prefix DIR (made once, then reused), with a Japanese locale, and
# returns the program's exit code. The display is the private Xvfb that
# with-xvfb.sh started (QVT_XVFB_DISPLAY); without one, a private Xvfb is
# started for this run alone. The user's own display is never used, so a
# test run puts no window on the desktop.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

[ "${1:-}" = --prefix ] && [ $# -ge 3 ] || { echo "usage: wine-run.sh --prefix DIR PROGRAM [ARGS...]" >&2; exit 2; }
prefix=$2
shift 2

if [ -z "${QVT_XVFB_DISPLAY:-}" ]; then
  exec "$here/with-xvfb.sh" --wine-prefix "$prefix" "$here/wine-run.sh" --prefix "$prefix" "$@"
fi

# shellcheck source=wine-env.sh
. "$here/wine-env.sh" "$prefix"
export DISPLAY="$QVT_XVFB_DISPLAY"
qvt_wine_prefix_ready
exec "$QVT_WINE" "$@"
