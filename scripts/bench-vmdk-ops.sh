#!/usr/bin/env bash
# bench-vmdk-ops.sh [QVTDISK]: times qvtdisk's VMDK copy and commit against
# qemu-img on the same chain: a 2 GiB monolithicSparse base (qemu-img, every
# other grain written by qemu-io: half allocated) and a child made by
# `qvtdisk child` holding every eighth grain of its own (qemu-io). Each
# written grain is half random bytes, half text. Timed:
#   copy        qvtdisk copy child.vmdk                 vs  qemu-img convert -O vmdk
#   commit      qvtdisk commit child.vmdk base.vmdk     vs  qemu-img commit -d
#               (each on a fresh copy of the chain)
#   stream      qvtdisk copy --stream-optimized         vs  qemu-img convert -O vmdk
#                                                           -o subformat=streamOptimized
#   trim        qvtdisk copy --trim of a 1 GiB ext4 volume (mkfs.ext4, files
#               written, most deleted with debugfs, as a VMDK)  vs  qemu-img convert -O vmdk
# Every timing ends with a sync of its output. Prints the best of ROUNDS
# (default 3) runs of each pair, the ratio qvtdisk / qemu-img and the load
# average, and checks that every result reads as it should. Not a test; CI
# does not run it. Uses QVTDISK, else build/linux/bin/qvtdisk (built there
# first when missing). Needs qemu-img, qemu-io, e2fsprogs and about 8 GiB of
# free space in $TMPDIR.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=${ROUNDS:-3}
if [ $# -ge 1 ]; then
  qvtdisk=$(realpath "$1")
else
  qvtdisk="$repo/build/linux/bin/qvtdisk"
  if [ ! -x "$qvtdisk" ]; then
    [ -f "$repo/build/linux/build.ninja" ] || (cd "$repo" && cmake --preset linux >/dev/null)
    cmake --build "$repo/build/linux" --target qvtdisk -j 2 >/dev/null
  fi
fi
[ -x "$qvtdisk" ] || { echo "bench-vmdk-ops.sh: no qvtdisk at $qvtdisk" >&2; exit 2; }
for tool in qemu-img qemu-io mkfs.ext4 debugfs; do
  command -v "$tool" >/dev/null ||
    { echo "bench-vmdk-ops.sh: needs $tool (packages qemu-utils, e2fsprogs)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qvt-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { print b - a }'; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? a : b) }'; }
fail() { echo "bench-vmdk-ops.sh: $*" >&2; exit 1; }

# A grain's worth of data: 32 KiB of random bytes, 32 KiB of text.
head -c 32768 /dev/urandom > grain.bin
for ((i = 1; i <= 700; i++)); do echo "line $i of the text a disk holds, and a number: $((i * 7919))"; done |
  head -c 32768 >> grain.bin
# qemu-io commands writing grain.bin at every $2-th grain from grain $1.
writes() {
  local g
  for ((g = $1; g < 32768; g += $2)); do echo "write -q -s grain.bin $((g * 65536)) 65536"; done
}

echo "making the chain in $work ..."
mkdir chain
qemu-img create -q -f vmdk -o subformat=monolithicSparse chain/base.vmdk 2G
# Without its flushes (cache mode "unsafe") qemu-io allocates many times
# faster; the bytes reach the file all the same.
writes 0 2 | qemu-io -t unsafe -f vmdk chain/base.vmdk >/dev/null
"$qvtdisk" child chain/base.vmdk chain/child.vmdk
writes 1 8 | qemu-io -t unsafe -f vmdk chain/child.vmdk >/dev/null
"$qvtdisk" info chain/child.vmdk |
  awk '/^  disk [0-9]+:/ { n = split($3, p, "/"); name = p[n] } /^ *grains:/ { print name ": " $2 " grains" }'
qemu-img convert -O raw chain/child.vmdk child.raw

echo "making the ext4 volume ..."
mkdir content
for ((i = 0; i < 24; i++)); do head -c 32M /dev/urandom > "content/file$i.bin"; done
truncate -s 1G fs.img
mkfs.ext4 -q -F -d content fs.img
# Two files of every three go; a third of the data stays in use.
for ((i = 0; i < 24; i++)); do
  if ((i % 3 != 0)); then debugfs -w -R "rm /file$i.bin" fs.img >/dev/null 2>&1; fi
done
rm -rf content
qemu-img convert -f raw -O vmdk fs.img fs.vmdk
rm -f fs.img

# time_pair NAME OURS THEIRS: runs the two commands (shell text, output
# files out.vmdk* and theirs.vmdk), ROUNDS times each, and keeps the best.
declare -A ours theirs
time_pair() {
  local name=$1 a=$2 b=$3 t0 t1 r
  ours[$name]=999999 theirs[$name]=999999
  for ((r = 0; r < rounds; r++)); do
    rm -f out*.vmdk theirs*.vmdk
    cat chain/base.vmdk chain/child.vmdk fs.vmdk >/dev/null  # warm files for both
    t0=$(now); eval "$a" >/dev/null; sync; t1=$(now)
    ours[$name]=$(min "${ours[$name]}" "$(elapsed "$t0" "$t1")")
    t0=$(now); eval "$b" >/dev/null; sync; t1=$(now)
    theirs[$name]=$(min "${theirs[$name]}" "$(elapsed "$t0" "$t1")")
  done
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

time_pair copy "'$qvtdisk' copy chain/child.vmdk out.vmdk" \
  "qemu-img convert -O vmdk chain/child.vmdk theirs.vmdk"
qemu-img compare -q out.vmdk child.raw || fail "the copy reads differently"
qemu-img compare -q theirs.vmdk child.raw || fail "qemu-img's copy reads differently"
copy_sizes="$(du -m out.vmdk | cut -f1) MiB vs $(du -m theirs.vmdk | cut -f1) MiB"

time_pair stream "'$qvtdisk' copy --stream-optimized chain/child.vmdk out.vmdk" \
  "qemu-img convert -O vmdk -o subformat=streamOptimized chain/child.vmdk theirs.vmdk"
qemu-img compare -q out.vmdk child.raw || fail "the stream-optimized copy reads differently"
stream_sizes="$(du -m out.vmdk | cut -f1) MiB vs $(du -m theirs.vmdk | cut -f1) MiB"

time_pair trim "'$qvtdisk' copy --trim fs.vmdk out.vmdk" "qemu-img convert -O vmdk fs.vmdk theirs.vmdk"
qemu-img convert -O raw out.vmdk trimmed.raw
e2fsck -fn trimmed.raw >/dev/null 2>&1 || fail "the trimmed copy's filesystem is damaged"
rm -f trimmed.raw
trim_sizes="$(du -m out.vmdk | cut -f1) MiB vs $(du -m theirs.vmdk | cut -f1) MiB"

# Commit: each run on fresh copies of the chain (not timed).
ours[commit]=999999 theirs[commit]=999999
for ((r = 0; r < rounds; r++)); do
  for side in ours theirs; do
    rm -rf "$side" && mkdir "$side"
    cp --sparse=always chain/base.vmdk chain/child.vmdk "$side/"
    cat "$side/base.vmdk" "$side/child.vmdk" >/dev/null
  done
  t0=$(now); "$qvtdisk" commit ours/child.vmdk ours/base.vmdk >/dev/null; sync; t1=$(now)
  ours[commit]=$(min "${ours[commit]}" "$(elapsed "$t0" "$t1")")
  t0=$(now); qemu-img commit -q -d theirs/child.vmdk; sync; t1=$(now)
  theirs[commit]=$(min "${theirs[commit]}" "$(elapsed "$t0" "$t1")")
done
qemu-img compare -q ours/base.vmdk child.raw || fail "the committed base reads differently"
qemu-img compare -q theirs/base.vmdk child.raw || fail "qemu-img's committed base reads differently"

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
row() {
  awk -v n="$1" -v o="${ours[$2]}" -v t="${theirs[$2]}" -v s="$3" \
    'BEGIN { printf "%-58s %7.3f s  %7.3f s  %5.2f  %s\n", n, o, t, o / t, s }'
}
printf "%-58s %9s  %9s  %5s  %s\n" "" "qvtdisk" "qemu-img" "ratio" "sizes (qvtdisk vs qemu-img)"
row "copy child.vmdk  vs  convert -O vmdk" copy "$copy_sizes"
row "commit child.vmdk base.vmdk  vs  commit -d" commit ""
row "copy --stream-optimized  vs  convert streamOptimized" stream "$stream_sizes"
row "copy --trim (ext4, 2/3 deleted)  vs  convert -O vmdk" trim "$trim_sizes"
echo "(best of $rounds runs each, warm files, each ending with a sync; load average" \
  "$load_before before, $load_after after, on $(nproc) processors)"
