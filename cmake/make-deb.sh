#!/bin/sh
# make-deb.sh BINARY MANPAGE LICENSE ARCH VERSION OUT.deb
# Lays out the package tree and builds it with dpkg-deb. The C library
# version it needs is the highest GLIBC_ symbol version the binary uses.
set -eu
binary=$1 manpage=$2 license=$3 arch=$4 version=$5 out=$6
tree=$(mktemp -d)
chmod 0755 "$tree"
trap 'rm -rf "$tree"' EXIT
install -D -m 0755 "$binary" "$tree/usr/bin/halvex"
install -d "$tree/usr/share/man/man1" "$tree/usr/share/doc/halvex" "$tree/DEBIAN"
gzip -9n <"$manpage" >"$tree/usr/share/man/man1/halvex.1.gz"
chmod 0644 "$tree/usr/share/man/man1/halvex.1.gz"
{
    echo "halvex, by [Ambrin], under the MIT (Expat) licence:"
    echo
    cat "$license"
} >"$tree/usr/share/doc/halvex/copyright"
glibc=$(objdump -T "$binary" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -t. -k1,1n -k2,2n | tail -n 1)
size=$(du -k -s "$tree/usr" | cut -f1)
cat >"$tree/DEBIAN/control" <<CONTROL
Package: halvex
Version: $version
Architecture: $arch
Maintainer: [Ambrin] <halvex@example.org>
Installed-Size: $size
Depends: libc6 (>= $glibc)
Section: utils
Priority: optional
Description: read and set the graphics clock of 3dfx VSA-100 boards
 halvex lists the VSA-100 boards (one, two or four chips each) on the PCI
 buses with their graphics clock, and writes a new clock from 50 to 220 MHz
 into every chip of a board. It reaches the boards through the kernel's
 sysfs PCI files; --simulate tries it on simulated boards.
CONTROL
dpkg-deb --root-owner-group -Zxz --build "$tree" "$out" >/dev/null
