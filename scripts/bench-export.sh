#!/usr/bin/env bash
# bench-export.sh [QVTDISK]: times `qvtdisk export` against
# `qemu-img convert -O raw` on the same 2 GiB disk: a monolithicSparse base
# and a VMware-style twoGbMaxExtentSparse child, each holding a quarter of
# the grains, so that half the disk is allocated through the chain. Prints
# both times and their ratio (ours / qemu-img's). Not a test; CI does not
# run it. Needs qemu-img, qemu-io and about 5 GiB of free space in $TMPDIR.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
qvtdisk=$(realpath "${1:-$repo/build/linux/bin/qvtdisk}")
[ -x "$qvtdisk" ] || { echo "bench-export.sh: no qvtdisk at $qvtdisk (build first)" >&2; exit 2; }
command -v qemu-img >/dev/null && command -v qemu-io >/dev/null ||
  { echo "bench-export.sh: needs qemu-img and qemu-io (package qemu-utils)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qvt-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

size=$((2 * 1024 * 1024 * 1024))
run=$((256 * 1024))  # four grains
runs=$((size / run))

# Runs r with r % 4 == $1 get pattern $2.
writes() {
  local r
  for ((r = $1; r < runs; r += 4)); do echo "write -q -P $2 $((r * run)) $run"; done
}

echo "making the chain in $work ..."
qemu-img create -q -f vmdk -o subformat=monolithicSparse base.vmdk "$size"
writes 0 0x5a | qemu-io -f vmdk base.vmdk >/dev/null
base_cid=$(strings -n 4 base.vmdk | sed -n 's/^CID=//p' | head -n 1)

qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentSparse empty.vmdk "$size"
mv empty-s001.vmdk child-s001.vmdk
rm empty.vmdk
cat > child.vmdk <<DESC
# Disk DescriptorFile
version=1
CID=0badc0de
parentCID=$base_cid
createType="twoGbMaxExtentSparse"
parentFileNameHint="base.vmdk"

# Extent description
RW $((size / 512)) SPARSE "child-s001.vmdk"
DESC
writes 2 0xa5 | qemu-io -f vmdk child.vmdk >/dev/null
"$qvtdisk" info child.vmdk | sed -n 's/^ *grains: /grains held: /p'

# Both read the same warm files.
cat base.vmdk child-s001.vmdk >/dev/null

now() { date +%s.%N; }
ours=() theirs=()
for round in 1 2; do
  rm -f ours.raw theirs.raw
  t0=$(now); "$qvtdisk" export child.vmdk ours.raw; t1=$(now)
  qemu-img convert -f vmdk -O raw child.vmdk theirs.raw; t2=$(now)
  ours+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
  theirs+=("$(awk -v a="$t1" -v b="$t2" 'BEGIN { print b - a }')")
done
cmp -s ours.raw theirs.raw || { echo "bench-export.sh: the two exports differ" >&2; exit 1; }

awk -v o1="${ours[0]}" -v o2="${ours[1]}" -v q1="${theirs[0]}" -v q2="${theirs[1]}" 'BEGIN {
  ours = o1 < o2 ? o1 : o2; theirs = q1 < q2 ? q1 : q2;
  printf "qvtdisk export:          %.3f s (best of two)\n", ours;
  printf "qemu-img convert -O raw: %.3f s (best of two)\n", theirs;
  printf "ratio (qvtdisk / qemu-img): %.2f\n", ours / theirs }'
