#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test QVT: the
# compilers and CMake, the libraries, the MinGW-w64 cross toolchain, Wine,
# Xvfb with Japanese fonts and locale, and the peer tools the tests check
# against. Does nothing when everything is there already.
set -euo pipefail

packages=(
  # native build
  build-essential cmake ninja-build pkg-config git dpkg-dev
  libboost1.81-dev libtinyxml2-dev libpng-dev zlib1g-dev libgtest-dev libgmock-dev googletest
  # Windows cross build (zlib from Debian's MinGW package)
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev libz-mingw-w64-dev
  # running and looking at the Windows build
  wine wine64 fonts-wine xvfb xauth x11-utils fonts-ipafont-gothic fonts-ipafont-mincho locales
  # peer tools for the interoperability tests: disk images, partition
  # tables, LVM2, VHD chains, and the guest filesystems the trim map reads
  qemu-utils fdisk gdisk lvm2 libvslvm-utils python3-libvslvm libvhdi-utils python3-libvhdi
  libvmdk-utils python3-libvmdk
  ntfs-3g exfatprogs exfat-fuse dosfstools mtools e2fsprogs xfsprogs sleuthkit hfsplus
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"
  elif command -v sudo >/dev/null; then sudo "$@"
  else echo "setup: '$*' needs root and there is no sudo" >&2; exit 1
  fi
}

command -v apt-get >/dev/null || { echo "setup: this script is for Debian 12 (apt-get not found)" >&2; exit 1; }

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# Wine takes its locale and ANSI code page from the Unix locale; the program
# is run in Japanese.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating the ja_JP.UTF-8 locale"
  as_root sh -c "grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen; locale-gen >/dev/null"
fi
echo "setup: the machine has what QVT needs"
