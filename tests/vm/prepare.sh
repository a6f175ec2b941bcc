#!/usr/bin/env bash
# Readies what the VM run boots: Debian's own amd64 kernel image (taken from
# its package, never installed), our test module built against the matching
# headers, and an initramfs holding busybox, both halvex builds, lspci and
# setpci with the libraries they need, the module and the guest's script.
# Everything lands in build/vm/ (vmlinuz and vboard.ko link to the current
# kernel and its module); the kernel and the module are kept between runs,
# the initramfs is packed anew each time (it holds the builds under test).
# Where the kernel cannot be had here, it ends as skipped (lib.sh's
# unavailable).
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
cd "$ROOT"

OUT=$ROOT/build/vm
mkdir -p "$OUT"

need_packages $VM_PACKAGES

# The headers package names the kernel's ABI; the image comes from the same
# source version, so the module's symbol versions match it.
kernel_abi() {
    ABI=$(dpkg-query -W -f='${Depends}' linux-headers-amd64 | grep -oE 'linux-headers-[0-9][^ ,]*-amd64' | head -n 1)
    ABI=${ABI#linux-headers-}
    [ -n "$ABI" ] || unavailable "linux-headers-amd64 names no kernel ABI"
    VERSION=$(dpkg-query -W -f='${Version}' "linux-headers-$ABI")
    KERNEL=$OUT/kernel-$ABI
}
download_image() {
    (cd "$OUT/download" && apt-get -o APT::Sandbox::User=root download "linux-image-$ABI-unsigned=$VERSION")
}
kernel_abi
if [ ! -f "$KERNEL/vmlinuz" ]; then
    log "fetching linux-image-$ABI-unsigned $VERSION"
    rm -rf "$OUT/download" "$KERNEL"
    mkdir -p "$OUT/download"
    if ! download_image; then
        # The archive has moved on from the headers installed here: take the
        # current ones, and the image that goes with them.
        log "no such image any more; updating linux-headers-amd64"
        rm -f /tmp/.halvex-apt-updated
        apt_update_once
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends \
            linux-headers-amd64 || unavailable "linux-headers-amd64 could not be updated"
        kernel_abi
        rm -rf "$KERNEL"
        download_image || unavailable "linux-image-$ABI-unsigned $VERSION could not be downloaded"
    fi
    mkdir -p "$KERNEL/root"
    dpkg-deb -x "$OUT"/download/*.deb "$KERNEL/root"
    cp "$KERNEL/root/boot/vmlinuz-$ABI" "$KERNEL/vmlinuz.tmp"
    rm -rf "$KERNEL/root" "$OUT/download"
    mv "$KERNEL/vmlinuz.tmp" "$KERNEL/vmlinuz"
fi
ln -sfn "kernel-$ABI/vmlinuz" "$OUT/vmlinuz"

# Kbuild writes beside the sources: build from a copy.
MODULE=$OUT/module-$ABI
mkdir -p "$MODULE"
for file in vboard.c Kbuild; do
    cmp -s "$ROOT/tests/vm/$file" "$MODULE/$file" || cp "$ROOT/tests/vm/$file" "$MODULE/$file"
done
make -s -C "/usr/src/linux-headers-$ABI" M="$MODULE" modules
ln -sfn "module-$ABI/vboard.ko" "$OUT/vboard.ko"
[ "$MODULE/asuser" -nt "$ROOT/tests/vm/asuser.c" ] ||
    gcc -static -O2 -Wall -o "$MODULE/asuser" "$ROOT/tests/vm/asuser.c"

# The initramfs.
HALVEX64=${HALVEX64:-$ROOT/build/linux64/halvex}
HALVEX32=${HALVEX32:-$ROOT/build/linux32/halvex}
for program in "$HALVEX64" "$HALVEX32"; do
    [ -x "$program" ] || { echo "vm: $program is not built" >&2; exit 1; }
done
I386_LIB=/usr/i686-linux-gnu/lib
TREE=$OUT/initramfs
rm -rf "$TREE"
mkdir -p "$TREE"/{bin,sbin,dev,proc,sys,tmp,lib64} "$TREE"/lib/{x86_64,i386}-linux-gnu

# A library as a program asks for it (NEEDED), found in the given folders,
# copied with what it needs in turn, to where the loader looks.
copied=" "
copy_needed() {  # file, folder to put its libraries in, folders to search
    local file=$1 into=$2; shift 2
    local name dir found
    for name in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        [[ $copied == *" $into/$name "* ]] && continue
        found=""
        for dir in "$@"; do
            [ -e "$dir/$name" ] && { found=$dir/$name; break; }
        done
        [ -n "$found" ] || { echo "vm: $name (needed by $file) not found in $*" >&2; exit 1; }
        cp -L "$found" "$TREE/$into/$name"
        copied+="$into/$name "
        copy_needed "$found" "$into" "$@"
    done
}
interpreter() { readelf -l "$1" | sed -n 's/.*Requesting program interpreter: \(.*\)]/\1/p'; }

AMD64_DIRS=(/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu)
cp /bin/busybox "$TREE/bin/busybox"
cp "$HALVEX64" "$TREE/bin/halvex"
cp "$HALVEX32" "$TREE/bin/halvex32"
cp /usr/bin/lspci /usr/bin/setpci "$TREE/bin/"
for program in "$HALVEX64" /usr/bin/lspci /usr/bin/setpci; do
    copy_needed "$program" lib/x86_64-linux-gnu "${AMD64_DIRS[@]}"
done
# Each loader where the programs ask for it; each finds its libraries in its
# own multiarch folder, the first it searches.
cp -L "$(interpreter "$HALVEX64")" "$TREE/lib64/"
cp -L "$I386_LIB/$(basename "$(interpreter "$HALVEX32")")" "$TREE/lib/"
copy_needed "$HALVEX32" lib/i386-linux-gnu "$I386_LIB"
cp "$MODULE/vboard.ko" "$MODULE/asuser" "$TREE/sbin/"
cp "$ROOT/tests/vm/guest.sh" "$TREE/init"
cp "$ROOT/tests/vm/report.sh" "$TREE/report.sh"
chmod 755 "$TREE/init"
(cd "$TREE" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$OUT/initramfs.cpio"
log "vm: kernel $ABI, initramfs $(du -h "$OUT/initramfs.cpio" | cut -f1)"
