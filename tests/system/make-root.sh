#!/usr/bin/env bash
# make-root.sh OUTDIR ARCH
# A minimal Debian 12 root file system of architecture ARCH (amd64 or i386),
# systemd as init, for the system tests, made with mmdebstrap from the
# archive this machine's apt uses (an i386 root on an amd64 machine runs its
# maintainer scripts as 32-bit programs: arch-test checks that they can).
# Made once and kept in OUTDIR/root-ARCH-KEY, KEY being a hash of what goes
# into it (this script, the apt sources, mmdebstrap's version);
# OUTDIR/root-ARCH links to it. A folder is complete only once its stamp is
# there, so an interrupted run is made again.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
out=$1
arch=$2

need_packages $SYSTEM_PACKAGES

# systemd as init, udev for the devices, kmod for modprobe.
PACKAGES=systemd-sysv,udev,kmod

sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -s "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -gt 0 ] || { echo "make-root.sh: no apt sources on this machine" >&2; exit 1; }

key=$({
    cat "$0"
    echo "$arch $PACKAGES"
    cat "${sources[@]}"
    mmdebstrap --version
} | sha256sum | cut -c1-16)
root="$out/root-$arch-$key"
if [ -f "$root.done" ]; then
    ln -sfn "$(basename "$root")" "$out/root-$arch"
    exit 0
fi

# One root per architecture is kept: any made from other inputs goes.
rm -f "$out/root-$arch"
for old in "$out/root-$arch-"*; do
    [ -e "$old" ] && [ "$old" != "$root" ] && rm -rf "$old"
done
rm -rf "$root"
mkdir -p "$out"
# Debian 12, the release the package is made for.
log "making the $arch root file system $root"
started=$SECONDS
mmdebstrap --quiet --variant=minbase --architectures="$arch" --include="$PACKAGES" \
    --customize-hook='echo systest >"$1/etc/hostname"' \
    --customize-hook='rm -rf "$1"/usr/share/locale/* "$1"/usr/share/doc/* "$1"/usr/share/info/* "$1"/usr/lib/udev/hwdb.bin "$1"/var/cache/apt/*.bin "$1"/var/lib/apt/lists/*' \
    bookworm "$root" "${sources[@]}"
touch "$root.done"
ln -sfn "$(basename "$root")" "$out/root-$arch"
log "$arch root file system made in $((SECONDS - started)) s ($(du -sm "$root" | cut -f1) MB)"
