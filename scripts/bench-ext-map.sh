#!/usr/bin/env bash
# bench-ext-map.sh [BUILD_DIR]: times the allocation map of a 64 GiB ext4
# volume. mke2fs formats a sparse 64 GiB file (quick: only its metadata is
# written), the file is given a ".ndi" side file as a partitionless raw
# disk, and bench/ExtMapBench.cpp (compiled here against BUILD_DIR's
# libraries, default build/linux) builds the map and then asks for every
# sector's bit. Prints both times. Not a test; CI does not run it. Needs
# e2fsprogs, a C++17 compiler and a filesystem that keeps sparse files.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:-$repo/build/linux}")
for lib in fsmap/libqvt_fsmap.a engine/libqvt_engine.a platform/libqvt_platform.a; do
  [ -f "$build/$lib" ] || { echo "bench-ext-map.sh: no $build/$lib (build qvt_fsmap first)" >&2; exit 2; }
done
command -v mke2fs >/dev/null || { echo "bench-ext-map.sh: needs mke2fs (package e2fsprogs)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qvt-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
c++ -std=c++17 -O2 -I"$repo/fsmap" -I"$repo/engine" -I"$repo/engine/vmdk" -I"$repo/platform" "$repo/bench/ExtMapBench.cpp" \
  "$build/fsmap/libqvt_fsmap.a" "$build/engine/libqvt_engine.a" "$build/platform/libqvt_platform.a" \
  -lz -o "$work/ext-map-bench"
sectors=$((64 * 1024 * 1024 * 2))
truncate -s 64G "$work/disk.img"
mke2fs -q -F -t ext4 "$work/disk.img"
echo "NDI 0 $sectors 16 63 512" > "$work/disk.ndi"
"$work/ext-map-bench" "$work/disk.img"
