#!/usr/bin/env bash
# Builds the root file system of the emulated machine from Debian's packages
# alone and writes it into an ext4 image:
#   build-image.sh <empty folder>
# leaves in that folder root.img, vmlinuz and initrd.img (the stock Debian
# amd64 kernel, which also runs 32-bit code). The machine has no network
# device; everything it needs is installed here. Run as root.
# QV_I686_MIRROR names the Debian mirror. The machine has no network, so it
# takes the release and its stable updates only: the mirror here served
# the security suite's i386 index at the wrong size in every try, and the
# amd64 and i386 halves of a package must match for 32-bit Wine to install.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:?usage: build-image.sh <empty folder>}
mirror=${QV_I686_MIRROR:-http://deb.debian.org/debian}
root=$out/root
# Room the tests get beside the installed system: the build tree, two copies
# of the Wine prefix, the LAN tests' prefixes and exports.
readonly SPARE_MB=3072
# shellcheck source=scripts/lib.sh
source "$HERE/../lib.sh"
QV_SAY_TAG=i686-image
step() {
  local what=$1 start=$SECONDS
  shift
  say "$what"
  "$@"
  say "  ${what%% *} done in $((SECONDS - start)) s"
}

unmount_root() {
  local m
  # debootstrap mounts some of these itself and may leave them on failure.
  for m in dev/pts dev proc sys; do
    if mountpoint -q "$root/$m" 2>/dev/null; then umount "$root/$m"; fi
  done
}
qv_on_exit unmount_root

in_root() { LC_ALL=C DEBIAN_FRONTEND=noninteractive chroot "$root" "$@"; }

debootstrap_root() {
  debootstrap --variant=minbase --arch=amd64 bookworm "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { tail -n 20 "$out/debootstrap.log"; return 1; }
}

install_packages() {
  local packages
  packages=$(grep -v '^#' "$HERE/packages.txt" | xargs)
  cat >"$root/etc/apt/sources.list" <<LIST
deb $mirror bookworm main
deb $mirror bookworm-updates main
LIST
  # The mirror may serve a dated snapshot whose Release files have expired.
  printf 'Acquire::Check-Valid-Until "false";\nAcquire::Check-Date "false";\n' >"$root/etc/apt/apt.conf.d/99dated-mirror"
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod +x "$root/usr/sbin/policy-rc.d"
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  in_root dpkg --add-architecture i386
  # A mirror in the middle of a sync serves index files that do not match
  # their Release file for a minute or so: the update is tried again.
  printf 'Acquire::Retries "3";\n' >"$root/etc/apt/apt.conf.d/99retries"
  local attempt
  for attempt in 1 2 3 4; do
    in_root apt-get update -q >>"$out/apt.log" 2>&1 && break
    [ "$attempt" -lt 4 ] || { tail -n 30 "$out/apt.log"; return 1; }
    say "the package index did not download whole (attempt $attempt of 4); again in 30 s"
    sleep 30
  done
  # shellcheck disable=SC2086
  in_root apt-get install -y -q --no-install-recommends $packages >>"$out/apt.log" 2>&1 ||
    { tail -n 30 "$out/apt.log"; return 1; }
  in_root apt-get clean
  rm -rf "$root"/var/lib/apt/lists/* "$root/usr/sbin/policy-rc.d"
  unmount_root
}

configure_root() {
  sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' "$root/etc/locale.gen"
  grep -q '^zh_CN.UTF-8 UTF-8' "$root/etc/locale.gen" || echo 'zh_CN.UTF-8 UTF-8' >>"$root/etc/locale.gen"
  in_root locale-gen >/dev/null
  echo qv-guest >"$root/etc/hostname"
  # "ip netns exec" binds a namespace's hosts file over this one; without it
  # every name look-up inside a namespace comes back empty.
  printf '127.0.0.1\tlocalhost\n127.0.1.1\tqv-guest\n' >"$root/etc/hosts"
  install -m 755 "$HERE/init" "$root/sbin/qv-init"
  install -m 755 "$HERE/prepare.sh" "$root/usr/local/sbin/qv-prepare"
  install -D -m 644 "$HERE/../lib.sh" "$root/usr/local/lib/quorvane/lib.sh"
  local kernel initrd
  kernel=$(find "$root/boot" -name 'vmlinuz-*' | sort | tail -n 1)
  initrd=$(find "$root/boot" -name 'initrd.img-*' | sort | tail -n 1)
  [ -n "$kernel" ] && [ -n "$initrd" ] || { say "no kernel or initrd in the root's /boot"; return 1; }
  cp "$kernel" "$out/vmlinuz"
  cp "$initrd" "$out/initrd.img"
}

make_image() {
  local used_mb
  used_mb=$(du -sm "$root" | cut -f1)
  truncate -s "$((used_mb + SPARE_MB))M" "$out/root.img"
  mkfs.ext4 -q -F -L qvroot -d "$root" "$out/root.img" >"$out/mkfs.log" 2>&1 || { cat "$out/mkfs.log"; return 1; }
  rm -rf --one-file-system "$root"
}

step "debootstrap of bookworm (amd64, minbase)" debootstrap_root
step "installing the packages (Wine 32- and 64-bit, Xvfb, fonts, locale, kernel, CTest)" install_packages
step "configuring (locale zh_CN.UTF-8, /etc/hosts, init, kernel out)" configure_root
step "making the ext4 image (mkfs.ext4 -d)" make_image
