#!/usr/bin/env bash
# bench-stream-optimized.sh [BUILD_DIR]: times the engine's stream-optimized
# writer against qemu-img on the same source. bench/StreamOptimizedBench.cpp
# (compiled here against BUILD_DIR's libraries, default build/linux) makes
# a 2 GiB raw disk with about half of its grains holding partly compressible
# data (text, tables, random bytes, zero blocks); qemu-img turns it into a
# monolithicSparse src.vmdk, the source of every timing:
#   engine, grains deflated on one thread per processor
#   engine, one thread (the sequential writer), for reference
#   qemu-img convert -O vmdk -o subformat=streamOptimized
# Prints the best of ROUNDS (default 3) runs of each, the ratio engine /
# qemu-img and the load average; checks that both engine outputs are the
# same bytes and read as the source. Not a test; CI does not run it. Needs
# qemu-img, a C++17 compiler and about 4 GiB of free space in $TMPDIR.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:-$repo/build/linux}")
rounds=${ROUNDS:-3}
for lib in engine/libqvt_engine.a platform/libqvt_platform.a; do
  [ -f "$build/$lib" ] || { echo "bench-stream-optimized.sh: no $build/$lib (build qvt_engine first)" >&2; exit 2; }
done
command -v qemu-img >/dev/null ||
  { echo "bench-stream-optimized.sh: needs qemu-img (package qemu-utils)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qvt-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
bench="$work/stream-optimized-bench"
c++ -std=c++17 -O2 -I"$repo/engine" -I"$repo/engine/vmdk" "$repo/bench/StreamOptimizedBench.cpp" \
  "$build/engine/libqvt_engine.a" "$build/platform/libqvt_platform.a" -lz -pthread -o "$bench"
cd "$work"
mkdir par seq  # the outputs share a name: it is in their descriptors

echo "making the source in $work ..."
"$bench" make src.raw 2048
qemu-img convert -f raw -O vmdk -o subformat=monolithicSparse src.raw src.vmdk
rm -f src.raw
echo "src.vmdk: $(du -m src.vmdk | cut -f1) MiB"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { print b - a }'; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? a : b) }'; }
# Each timing runs on a warm source and ends with a sync of its output.
engine() {  # THREADS OUT
  cat src.vmdk >/dev/null
  local t0 t1
  t0=$(now); "$bench" write src.vmdk "$2" "$1" >/dev/null; sync "$2"; t1=$(now)
  elapsed "$t0" "$t1"
}
qemu() {
  cat src.vmdk >/dev/null
  local t0 t1
  t0=$(now)
  qemu-img convert -f vmdk -O vmdk -o subformat=streamOptimized src.vmdk qemu.vmdk
  sync qemu.vmdk; t1=$(now)
  elapsed "$t0" "$t1"
}

best_par=999999 best_seq=999999 best_qemu=999999
for ((round = 1; round <= rounds; ++round)); do
  rm -f par/out.vmdk seq/out.vmdk qemu.vmdk
  best_par=$(min "$best_par" "$(engine 0 par/out.vmdk)")
  best_qemu=$(min "$best_qemu" "$(qemu)")
  best_seq=$(min "$best_seq" "$(engine 1 seq/out.vmdk)")
  echo "round $round done (load average $(cut -d' ' -f1-3 /proc/loadavg))"
done

cmp -s par/out.vmdk seq/out.vmdk ||
  { echo "bench-stream-optimized.sh: the parallel and sequential outputs differ" >&2; exit 1; }
qemu-img compare -q -f vmdk -F vmdk src.vmdk par/out.vmdk ||
  { echo "bench-stream-optimized.sh: the output does not read as its source" >&2; exit 1; }

awk -v p="$best_par" -v s="$best_seq" -v q="$best_qemu" -v n="$(nproc)" \
    -v po="$(du -m par/out.vmdk | cut -f1)" -v qo="$(du -m qemu.vmdk | cut -f1)" 'BEGIN {
  printf "engine, %d processors:  %.3f s   (%d MiB)\n", n, p, po;
  printf "engine, one thread:     %.3f s\n", s;
  printf "qemu-img convert:       %.3f s   (%d MiB)\n", q, qo;
  printf "ratio engine / qemu-img: %.2f   (one thread: %.2f)\n", p / q, s / q;
  print "(best of each over the rounds, warm source, each timing ends with a sync of its output)" }'
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
