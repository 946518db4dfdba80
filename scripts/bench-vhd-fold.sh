#!/usr/bin/env bash
# bench-vhd-fold.sh [QVTDISK]: times the two VHD folds against cp of the
# image whose blocks they carry. A 1 GiB dynamic base g.vhd (qemu-img), a
# differencing b.vhd over it with every other 2 MiB block written (half its
# blocks allocated), and an empty child a.vhd over b.vhd:
#   fold-parent a.vhd  carries b.vhd's 256 blocks into a.vhd  vs  cp b.vhd
#   fold-chain a.vhd   then copies that (half-allocated) a.vhd
#                      and looks through g.vhd for the rest   vs  cp a.vhd
# Prints the times and the ratios (fold / cp). Not a test; CI does not run
# it. Needs qemu-img and about 3 GiB of free space in $TMPDIR.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
qvtdisk=$(realpath "${1:-$repo/build/linux/bin/qvtdisk}")
[ -x "$qvtdisk" ] || { echo "bench-vhd-fold.sh: no qvtdisk at $qvtdisk (build first)" >&2; exit 2; }
command -v qemu-img >/dev/null ||
  { echo "bench-vhd-fold.sh: needs qemu-img (package qemu-utils)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qvt-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

block=$((2 * 1024 * 1024))
blocks=512  # 1 GiB
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { print b - a }'; }

echo "making the chain in $work ..."
qemu-img create -q -f vpc -o subformat=dynamic g.vhd 1G
head -c "$block" /dev/urandom > block.raw
"$qvtdisk" child g.vhd b.vhd
for ((i = 0; i < blocks; i += 2)); do "$qvtdisk" write b.vhd $((i * block)) block.raw; done
"$qvtdisk" info b.vhd | sed -n 's/^ *blocks: /b.vhd blocks: /p' | head -n 1
"$qvtdisk" export b.vhd before.raw

best_parent=999999 best_chain=999999 best_cp_b=999999 best_cp_a=999999
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? a : b) }'; }
for round in 1 2; do
  rm -f a.vhd a.vhd_QVT_TEMP copy.vhd
  "$qvtdisk" child b.vhd a.vhd
  cat b.vhd a.vhd g.vhd >/dev/null  # every run reads warm files

  t0=$(now); cp b.vhd copy.vhd; sync copy.vhd; t1=$(now)
  best_cp_b=$(min "$best_cp_b" "$(elapsed "$t0" "$t1")"); rm -f copy.vhd

  t0=$(now); "$qvtdisk" fold-parent a.vhd >/dev/null; sync a.vhd; t1=$(now)
  best_parent=$(min "$best_parent" "$(elapsed "$t0" "$t1")")

  cat a.vhd >/dev/null
  t0=$(now); cp a.vhd copy.vhd; sync copy.vhd; t1=$(now)
  best_cp_a=$(min "$best_cp_a" "$(elapsed "$t0" "$t1")"); rm -f copy.vhd

  t0=$(now); "$qvtdisk" fold-chain a.vhd >/dev/null; sync a.vhd; t1=$(now)
  best_chain=$(min "$best_chain" "$(elapsed "$t0" "$t1")")
done
"$qvtdisk" export a.vhd after.raw
cmp -s before.raw after.raw || { echo "bench-vhd-fold.sh: the folded image reads differently" >&2; exit 1; }

awk -v p="$best_parent" -v c="$best_chain" -v cb="$best_cp_b" -v ca="$best_cp_a" 'BEGIN {
  printf "fold-parent (256 blocks carried):    %.3f s   cp b.vhd: %.3f s   ratio %.2f\n", p, cb, p / cb;
  printf "fold-chain  (half-allocated child):  %.3f s   cp a.vhd: %.3f s   ratio %.2f\n", c, ca, c / ca;
  print "(best of two runs each, warm files, each timing ends with a sync of its output)" }'
