#!/usr/bin/env bash
# kernel-i386.sh WORK
# The i386 system's kernel: Debian's 686-pae flavour of the release of the
# amd64 kernel tests/vm/prepare.sh readied, image and headers taken from
# their packages (never installed), and the boards' module built against
# those headers with this machine's compiler (-m32) and kernel build tools.
# Kept in WORK/kernel-i386-ABI; WORK/kernel-i386 links to it.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
work=$1

need_packages $VM_PACKAGES
# build/vm/vmlinuz links to kernel-ABI/vmlinuz.
abi=$(readlink "$ROOT/build/vm/vmlinuz")
abi=${abi%/vmlinuz}
abi=${abi#kernel-}
version=$(dpkg-query -W -f='${Version}' "linux-headers-$abi")
abi=${abi%-amd64}-686-pae
kernel=$work/kernel-i386-$abi
if [ ! -f "$kernel/vmlinuz" ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386 && rm -f /tmp/.halvex-apt-updated
    fi
    apt_update_once
    rm -rf "$work"/kernel-i386-*
    mkdir -p "$kernel/download"
    (cd "$kernel/download" && apt-get -o APT::Sandbox::User=root download \
        "linux-image-$abi-unsigned:i386=$version" "linux-headers-$abi:i386=$version") ||
        unavailable "linux-image-$abi-unsigned:i386 $version could not be downloaded"
    for deb in "$kernel"/download/*.deb; do dpkg-deb -x "$deb" "$kernel/tree"; done
    # The headers' links to the kernel build tools, relative to /usr/src,
    # made to point at this machine's.
    for link in "$kernel/tree/usr/src/linux-headers-$abi"/{scripts,tools}; do
        target=$(readlink "$link")
        ln -sfn "/usr/${target#../../}" "$link"
    done
    rm -rf "$kernel/download"
    cp "$kernel/tree/boot/vmlinuz-$abi" "$kernel/vmlinuz.tmp"
    mv "$kernel/vmlinuz.tmp" "$kernel/vmlinuz"
fi
module=$kernel/module
if [ ! -f "$module/vboard.ko" ] || [ "$ROOT/tests/vm/vboard.c" -nt "$module/vboard.ko" ]; then
    mkdir -p "$module"
    cp "$ROOT/tests/vm/vboard.c" "$ROOT/tests/vm/Kbuild" "$module/"
    make -s -C "$kernel/tree/usr/src/linux-headers-$abi" M="$module" modules
fi
ln -sfn "module/vboard.ko" "$kernel/vboard.ko"
ln -sfn "kernel-i386-$abi" "$work/kernel-i386"
log "system: i386 kernel $abi"
