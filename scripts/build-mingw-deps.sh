#!/usr/bin/env bash
# Cross-builds libpng, tinyxml2 and GoogleTest for 64-bit Windows from Debian's
# own source packages, into build/deps/x86_64-w64-mingw32, and links the Boost
# headers there. A finished prefix is reused as it is.
#
# The source entries are derived from the machine's own apt sources and kept in
# a private apt configuration under build/deps/apt: the system's lists and
# source files are never touched.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$repo/build/deps"
triple=x86_64-w64-mingw32
prefix="$deps/$triple"
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"
stamp="$prefix/.complete"
# The stamp records what the prefix was built from, so that a change of this
# script or of the toolchain file rebuilds it.
want=$(cat "${BASH_SOURCE[0]}" "$toolchain" | sha256sum | cut -d' ' -f1)

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
  echo "MinGW dependencies: reusing $prefix"
  exit 0
fi

apt_dir="$deps/apt"
src_dir="$deps/src"
rm -rf "$apt_dir" "$src_dir" "$prefix"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/state/lists/partial" \
         "$apt_dir/cache/archives/partial" "$src_dir" "$prefix"

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "build-mingw-deps: cannot tell the Debian release" >&2; exit 1; }

# Only suites of this release (bookworm, bookworm-updates, bookworm-security...)
# are taken over, so that third-party repositories without sources are left out.
suite_of_release() { [ "$1" = "$codename" ] || [[ "$1" == "$codename"-* ]]; }

derive_deb822() {  # file: deb822 .sources stanzas → deb-src stanzas
  awk -v rel="$codename" '
    function flush() {
      if (types ~ /(^| )deb( |$)/ && enabled != "no" && uris != "") {
        n = split(suites, s, " "); keep = ""
        for (i = 1; i <= n; i++)
          if (s[i] == rel || index(s[i], rel "-") == 1) keep = keep " " s[i]
        if (keep != "") {
          print "Types: deb-src"; print "URIs: " uris; print "Suites:" keep
          print "Components: " comps
          if (signed != "") print "Signed-By: " signed
          print ""
        }
      }
      types = uris = suites = comps = signed = enabled = ""
    }
    /^[ \t]*#/ { next }
    /^[ \t]*$/ { flush(); next }
    {
      key = tolower($1); sub(/:$/, "", key); val = $0; sub(/^[^:]*:[ \t]*/, "", val)
      if (key == "types") types = val
      else if (key == "uris") uris = val
      else if (key == "suites") suites = val
      else if (key == "components") comps = val
      else if (key == "signed-by") signed = val
      else if (key == "enabled") enabled = tolower(val)
    }
    END { flush() }' "$1"
}

derive_one_line() {  # file: "deb [opts] uri suite comps" lines → deb-src lines
  while read -r kind rest; do
    [ "$kind" = deb ] || continue
    opts=""
    if [[ "$rest" == \[* ]]; then opts="${rest%%]*}]"; rest="${rest#*] }"; fi
    read -r uri suite comps <<<"$rest"
    suite_of_release "$suite" || continue
    echo "deb-src $opts $uri $suite $comps"
  done <"$1"
}

out="$apt_dir/sources.list.d"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] && derive_one_line "$f" >>"$out/derived.list"
done
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && derive_deb822 "$f" >>"$out/derived.sources"
done
if ! grep -qs . "$out"/derived.*; then
  echo "build-mingw-deps: no Debian source entry could be derived from /etc/apt" >&2
  exit 1
fi

apt_private=(
  -o "Dir::Etc::SourceList=$out/derived.list"
  -o "Dir::Etc::SourceParts=$out"
  -o "Dir::State=$apt_dir/state"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Sandbox::User=root"
)
touch "$out/derived.list"
echo "MinGW dependencies: reading Debian's source indexes"
apt-get "${apt_private[@]}" -qq update
# A mirror's index can name a version its pool does not hold (yet): try every
# listed version, newest first, until one downloads.
fetch_source() {
  local pkg=$1 ver
  for ver in $(apt-cache "${apt_private[@]}" madison "$pkg" | awk -F'|' '{gsub(/ /,"",$2); print $2}' |
               sort -u -V -r); do
    if (cd "$src_dir" && apt-get "${apt_private[@]}" -qq source "$pkg=$ver" >"$deps/fetch-$pkg.log" 2>&1); then
      echo "MinGW dependencies: $pkg $ver"
      return 0
    fi
  done
  echo "build-mingw-deps: no source of $pkg could be downloaded:" >&2
  cat "$deps/fetch-$pkg.log" >&2
  exit 1
}
for pkg in libpng1.6 tinyxml2 googletest; do fetch_source "$pkg"; done

src_of() { find "$src_dir" -mindepth 1 -maxdepth 1 -type d -name "$1-*" | head -n 1; }

cross_build() {  # name source-dir cmake-options...
  local name=$1 src=$2; shift 2
  echo "MinGW dependencies: building $name"
  cmake -S "$src" -B "$deps/obj/$name" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -Wno-dev "$@" >"$deps/obj-$name.log" 2>&1 ||
    { cat "$deps/obj-$name.log" >&2; exit 1; }
  cmake --build "$deps/obj/$name" --target install >>"$deps/obj-$name.log" 2>&1 ||
    { tail -n 60 "$deps/obj-$name.log" >&2; exit 1; }
}

rm -rf "$deps/obj"
cross_build libpng "$(src_of libpng1.6)" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
  -DZLIB_LIBRARY="/usr/$triple/lib/libz.a" -DZLIB_INCLUDE_DIR="/usr/$triple/include"
cross_build tinyxml2 "$(src_of tinyxml2)" \
  -DBUILD_SHARED_LIBS=OFF -Dtinyxml2_BUILD_TESTING=OFF
cross_build googletest "$(src_of googletest)" \
  -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF

# Boost.Regex is header-only: the cross build uses Debian's headers through a
# link, so that no other host header directory is put on its include path.
[ -d /usr/include/boost ] || { echo "build-mingw-deps: Boost headers missing" >&2; exit 1; }
mkdir -p "$prefix/include"
ln -sfn /usr/include/boost "$prefix/include/boost"

rm -rf "$deps/obj"
echo "$want" >"$stamp"
echo "MinGW dependencies: ready in $prefix"
