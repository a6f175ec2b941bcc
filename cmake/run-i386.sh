#!/bin/sh
# Runs a 32-bit x86 Linux program: natively where the kernel runs it (with the
# machine's i386 C library), otherwise under qemu-i386 user emulation with the
# cross C library of g++-i686-linux-gnu. HALVEX_I386=native|emulated forces one.
case ${HALVEX_I386:-} in
native) exec "$@" ;;
emulated) exec qemu-i386-static -L /usr/i686-linux-gnu "$@" ;;
esac
if "$1" --version >/dev/null 2>&1; then
    exec "$@"
fi
exec qemu-i386-static -L /usr/i686-linux-gnu "$@"
