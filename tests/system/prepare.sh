#!/usr/bin/env bash
# Readies the system tests and configures their ctest folder
# (build/system/ctest): the packages they need, Debian's kernel and the
# virtual boards' module (tests/vm/prepare.sh), the root file system
# (make-root.sh, cached), and the halvex packages (scripts/build-debs.sh,
# when not built yet). Then:
#
#   ctest --test-dir build/system/ctest --output-on-failure
#
# Exit status: 0 ready; 3 something the tests need cannot be had here (the
# reason on the last line of stderr: the caller reports a skip); anything
# else a fault.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
cd "$ROOT"

SYSTEM_PACKAGES="mmdebstrap qemu-system-x86 cpio python3 cmake"
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
MODULE=$ROOT/build/vm/module-${ABI#kernel-}/vboard.ko
[ -f "$MODULE" ] || { echo "system: no module $MODULE after tests/vm/prepare.sh" >&2; exit 1; }

for arch in amd64 i386; do
    [ -f "build/halvex_1.00_$arch.deb" ] || bash scripts/build-debs.sh
done

SYSTEM_ROOT=$(bash tests/system/make-root.sh "$WORK") ||
    unavailable "the Debian root file system could not be made with mmdebstrap"

cmake -S tests/system -B "$WORK/ctest" -DHALVEX_SYSTEM_WORK="$WORK" -DHALVEX_SYSTEM_KERNEL="$KERNEL" \
    -DHALVEX_SYSTEM_MODULE="$MODULE" -DHALVEX_SYSTEM_ROOT="$SYSTEM_ROOT" \
    -DHALVEX_SYSTEM_DEB_AMD64="$ROOT/build/halvex_1.00_amd64.deb" \
    -DHALVEX_SYSTEM_DEB_I386="$ROOT/build/halvex_1.00_i386.deb" >/dev/null
