#!/usr/bin/env bash
# Readies the system tests and configures their ctest folder
# (build/system/ctest): the packages they need, Debian's kernel and the
# virtual boards' module (tests/vm/prepare.sh), the same for the i386
# system, the amd64 and i386 root file systems (make-root.sh, cached), and
# the halvex packages (scripts/build-debs.sh, when not built yet). Then:
#
#   ctest --test-dir build/system/ctest --output-on-failure
#
# Exit status: 0 ready; 3 something the tests need cannot be had here (the
# reason on the last line of stderr: the caller reports a skip); anything
# else a fault.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
cd "$ROOT"

SYSTEM_PACKAGES="mmdebstrap arch-test qemu-system-x86 cpio python3 cmake make gcc"
WORK=$ROOT/build/system

unavailable() { echo "system: $*" >&2; exit 3; }

install_packages $SYSTEM_PACKAGES || unavailable "the packages $(echo $SYSTEM_PACKAGES) could not be installed"

# tests/vm/prepare.sh also packs its own initramfs, which holds both builds
# of the command: build them when the test script has not.
for preset in linux64 linux32; do
    [ -x "build/$preset/halvex" ] || configure_and_build "$preset" >&2
done
rc=0
bash tests/vm/prepare.sh || rc=$?
[ "$rc" -eq 0 ] || { [ "$rc" -eq 3 ] && unavailable "the kernel or the boards' module cannot be had (tests/vm/prepare.sh)"; exit "$rc"; }
# build/vm/vmlinuz links to kernel-ABI/vmlinuz; the module is built per ABI.
KERNEL=$ROOT/build/vm/vmlinuz
ABI=$(readlink "$KERNEL")
ABI=${ABI%/vmlinuz}
ABI=${ABI#kernel-}
MODULE=$ROOT/build/vm/module-$ABI/vboard.ko
[ -f "$MODULE" ] || { echo "system: no module $MODULE after tests/vm/prepare.sh" >&2; exit 1; }

# The i386 system's kernel: Debian's 686-pae flavour of the same release,
# image and headers taken from their packages (never installed), and the
# boards' module built against those headers with this machine's compiler
# (-m32) and kernel build tools.
i386_kernel() {
    local version abi=${ABI%-amd64}-686-pae
    version=$(dpkg-query -W -f='${Version}' "linux-headers-$ABI")
    KERNEL_I386=$WORK/kernel-i386-$abi/vmlinuz
    MODULE_I386=$WORK/module-i386-$abi/vboard.ko
    local kernel=${KERNEL_I386%/vmlinuz} module=${MODULE_I386%/vboard.ko}
    if [ ! -f "$KERNEL_I386" ]; then
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            $SUDO dpkg --add-architecture i386 && rm -f /tmp/.halvex-apt-updated
        fi
        apt_update_once
        rm -rf "$kernel" "$WORK"/kernel-i386-* "$WORK"/module-i386-*
        mkdir -p "$kernel/download"
        (cd "$kernel/download" && apt-get -o APT::Sandbox::User=root download \
            "linux-image-$abi-unsigned:i386=$version" "linux-headers-$abi:i386=$version") >&2 ||
            unavailable "linux-image-$abi-unsigned:i386 $version could not be downloaded"
        for deb in "$kernel"/download/*.deb; do dpkg-deb -x "$deb" "$kernel/tree"; done
        # The headers' links to the kernel build tools, relative to /usr/src,
        # made to point at this machine's.
        local link target
        for link in "$kernel/tree/usr/src/linux-headers-$abi"/{scripts,tools}; do
            target=$(readlink "$link")
            ln -sfn "/usr/${target#../../}" "$link"
        done
        rm -rf "$kernel/download"
        cp "$kernel/tree/boot/vmlinuz-$abi" "$KERNEL_I386"
    fi
    if [ ! -f "$MODULE_I386" ] || [ "$ROOT/tests/vm/vboard.c" -nt "$MODULE_I386" ]; then
        mkdir -p "$module"
        cp "$ROOT/tests/vm/vboard.c" "$ROOT/tests/vm/Kbuild" "$module/"
        make -s -C "$kernel/tree/usr/src/linux-headers-$abi" M="$module" modules >&2
    fi
}
i386_kernel

for arch in amd64 i386; do
    [ -f "build/halvex_1.00_$arch.deb" ] || bash scripts/build-debs.sh
done

ROOT_AMD64=$(bash tests/system/make-root.sh "$WORK" amd64) &&
    ROOT_I386=$(bash tests/system/make-root.sh "$WORK" i386) ||
    unavailable "a Debian root file system could not be made with mmdebstrap"

cmake -S tests/system -B "$WORK/ctest" -DHALVEX_SYSTEM_WORK="$WORK" \
    -DHALVEX_SYSTEM_KERNEL_AMD64="$KERNEL" -DHALVEX_SYSTEM_MODULE_AMD64="$MODULE" \
    -DHALVEX_SYSTEM_ROOT_AMD64="$ROOT_AMD64" -DHALVEX_SYSTEM_DEB_AMD64="$ROOT/build/halvex_1.00_amd64.deb" \
    -DHALVEX_SYSTEM_KERNEL_I386="$KERNEL_I386" -DHALVEX_SYSTEM_MODULE_I386="$MODULE_I386" \
    -DHALVEX_SYSTEM_ROOT_I386="$ROOT_I386" -DHALVEX_SYSTEM_DEB_I386="$ROOT/build/halvex_1.00_i386.deb" >/dev/null
