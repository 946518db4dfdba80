# Sourced with the prefix folder as argument: the environment in which the
# project runs Windows programs under Wine, and qvt_wine_prefix_ready, which
# makes the prefix on first use.
qvt_wine_prefix_dir=$(mkdir -p "$1" && cd "$1" && pwd)
export WINEPREFIX="$qvt_wine_prefix_dir"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: neither is needed and neither can be downloaded.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The program is Japanese: Wine takes its locale and ANSI code page (932)
# from the Unix locale.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
unset WINESERVER
if [ -x /usr/lib/wine/wine64 ]; then QVT_WINE=/usr/lib/wine/wine64; else QVT_WINE=wine; fi
if [ -x /usr/lib/wine/wineserver64 ]; then QVT_WINESERVER=/usr/lib/wine/wineserver64; else QVT_WINESERVER=wineserver; fi

# The prefix records which version of this file made it; a prefix made by
# another version is made again.
qvt_wine_prefix_version=$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)

qvt_wine_prefix_ready() {
  local stamp="$WINEPREFIX/.qvt-ready"
  [ "$(cat "$stamp" 2>/dev/null)" = "$qvt_wine_prefix_version" ] && return 0
  (
    flock 9
    [ "$(cat "$stamp" 2>/dev/null)" = "$qvt_wine_prefix_version" ] && exit 0
    echo "Wine: preparing the prefix $WINEPREFIX (once)" >&2
    "$QVT_WINESERVER" -k 2>/dev/null || true
    find "$WINEPREFIX" -mindepth 1 -delete
    "$QVT_WINE" wineboot --init >/dev/null 2>&1 || true
    # A virtual desktop: Wine draws every window with its frame and caption
    # itself, so screenshots look as on Windows, and no window manager of the
    # host takes part.
    "$QVT_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$QVT_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
    # Wine's own fonts (Marlett draws the caption buttons) are not found in
    # Debian's data folder by this Wine; the prefix's Fonts folder is.
    if [ -d /usr/share/wine/fonts ]; then
      ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    "$QVT_WINESERVER" -w
    [ -f "$WINEPREFIX/system.reg" ] || { echo "Wine: wineboot made no prefix in $WINEPREFIX" >&2; exit 1; }
    echo "$qvt_wine_prefix_version" >"$stamp"
  ) 9>"$WINEPREFIX.lock"
}

# The Windows form of a Unix path, as Wine's drive Z: shows it.
qvt_winpath() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}
