#!/usr/bin/env bash
# Builds the Linux command's Debian packages the Debian way (dpkg-buildpackage
# with debhelper, from linux/debian): build/halvex_VERSION_amd64.deb natively and
# build/halvex_VERSION_i386.deb cross-built with the i386 cross tool chain.
# Installs what it needs. Each build runs in a staging copy of the sources
# (build/deb-ARCH/halvex-VERSION, linux/debian at its top as debian/), so nothing
# the build writes lands in the checkout; its log is build/deb-ARCH/build.log.
#
#   bash scripts/build-debs.sh [ARCH...]     (default: amd64 i386)
set -euo pipefail
source "$(dirname "$0")/lib.sh"

# The version CMakeLists.txt defines, which the changelog must state too.
VERSION=$(sed -n 's/^set(HALVEX_VERSION \(.*\))$/\1/p' "$ROOT/CMakeLists.txt")

# What the command's build reads, as paths in the checkout.
SOURCES=(CMakeLists.txt LICENSE cmake/HalvexVersion.cmake res/version.h.in board apply sim linux)

build_deb() {  # arch
    local arch=$1 work="$ROOT/build/deb-$1"
    local stage="$work/halvex-$VERSION"
    # A failed build leaves no package of an earlier one behind.
    rm -rf "$work" "$ROOT/build/halvex_${VERSION}_$arch.deb"
    mkdir -p "$stage"
    tar -C "$ROOT" --exclude=linux/debian -cf - "${SOURCES[@]}" | tar -C "$stage" -xf -
    cp -r "$ROOT/linux/debian" "$stage/debian"
    local cross=()
    [ "$arch" = "$(dpkg --print-architecture)" ] || cross=(-a "$arch")
    log "building halvex_${VERSION}_$arch.deb (log: build/deb-$arch/build.log)"
    if ! (cd "$stage" && dpkg-buildpackage -b -us -uc "${cross[@]}") >"$work/build.log" 2>&1; then
        tail -n 30 "$work/build.log" >&2
        echo "dpkg-buildpackage failed for $arch; the whole log is $work/build.log" >&2
        return 1
    fi
    cp "$work/halvex_${VERSION}_$arch.deb" "$ROOT/build/"
}

build_debs() {
    local arches=("$@") arch
    [ ${#arches[@]} -gt 0 ] || arches=(amd64 i386)
    for arch in "${arches[@]}"; do
        case $arch in
        amd64 | i386) ;;
        *) echo "build-debs.sh: no package for '$arch': amd64 or i386" >&2; return 64 ;;
        esac
    done
    # A cross build checks its build dependencies against the i386 side.
    if printf '%s\n' "${arches[@]}" | grep -qvx "$(dpkg --print-architecture)" &&
        ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386 && rm -f /tmp/.halvex-apt-updated
    fi
    install_packages $DEB_PACKAGES || return 1
    # The host architecture's C library, as a cross build has it: what
    # dpkg-shlibdeps reads the i386 package's libc6 dependency from.
    if printf '%s\n' "${arches[@]}" | grep -qx i386 &&
        ! dpkg-query -W -f='${Status}' libc6-dev:i386 2>/dev/null | grep -q 'install ok installed'; then
        install_i386 libc6-dev:i386 || return 1
    fi
    for arch in "${arches[@]}"; do
        build_deb "$arch" || return 1
    done
}

build_debs "$@"
