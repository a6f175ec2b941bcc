# Shared by the project's scripts: packages, the Wine prefix and a private X
# display. Source it; ROOT is the checkout.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINE64=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

BUILD_PACKAGES="cmake make g++ libgtest-dev googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64"
RUN_PACKAGES="wine wine64 fonts-wine xvfb xauth imagemagick fonts-liberation x11-utils xdotool"
CHECK_PACKAGES="python3 python3-pefile curl"

log() { printf '== %s\n' "$*"; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# A mirror that is still syncing one index (seen with the i386 security
# index) fails the update; what did download is still used.
apt_update_once() {
    [ -e /tmp/.halvex-apt-updated ] && return 0
    $SUDO apt-get update -q || log "apt-get update reported errors; going on with the indexes it has"
    touch /tmp/.halvex-apt-updated
}

# Installs what of the given Debian packages is missing (apt-get update once).
install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    apt_update_once
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
}

configure_and_build() {  # preset
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$(nproc)"
}

# Starts a private Xvfb and exports DISPLAY; stop_display ends it.
XVFB_PID=""
start_display() {
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
    echo "Xvfb did not start" >&2
    return 1
}

stop_display() {
    local prefix
    for prefix in "$ROOT/build/wineprefix64" "$ROOT/build/wineprefix32"; do
        [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    done
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
}

# Whether a window manager places Wine's windows ("Y", Wine's default) or
# Wine does itself ("N"). With no window manager, as under Xvfb, a managed
# window that closes makes Wine wait 2 s for a window manager that never
# answers; unmanaged, Wine also draws the frame and caption itself.
wine_window_manager() {
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="%s"\n' "$1" >"$WINEPREFIX/managed.reg"
    "$WINE64" regedit "$WINEPREFIX/managed.reg" >/dev/null 2>&1 </dev/null || true
}

# Wine draws the caption buttons with its Marlett font, which Debian's Wine
# finds only in the prefix; without it they show as the letters "0 1 r".
install_prefix_fonts() {
    local font=/usr/share/wine/fonts/marlett.ttf
    [ -f "$font" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ] &&
        cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/" || true
}

# Readies the prefix in WINEPREFIX and keeps one wineserver and its services
# up for all the runs. They start here with no terminal or pipe attached: a
# service holding a test's output pipe open would keep its reader waiting for
# ever.
start_prefix() {
    install_prefix_fonts
    wineserver -p >/dev/null 2>&1 </dev/null || true
    "$WINE64" wineboot >/dev/null 2>&1 </dev/null || true
}

# The 64-bit prefix of the build, made once (a new prefix takes ~10 s).
ensure_prefix64() {
    export WINEPREFIX="$ROOT/build/wineprefix64"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        log "creating Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        "$WINE64" wineboot -u >/dev/null 2>&1 || true
        wineserver -w
    fi
    start_prefix
}

# 32-bit Wine for the shipped i686 program. Sets WINE32_MODE to "native"
# (the kernel runs 32-bit programs) or "emulated" (qemu user emulation), or
# leaves it empty with WINE32_MISSING saying what could not be had.
WINE32_MODE=""
WINE32_MISSING=""
ensure_wine32() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386 && rm -f /tmp/.halvex-apt-updated
    fi
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
        install_i386 wine32:i386 || { WINE32_MISSING="package wine32:i386 could not be installed"; return 1; }
    fi
    if /usr/lib/wine/wine --version >/dev/null 2>&1 && ! qemu_registered; then
        WINE32_MODE=native
        return 0
    fi
    install_packages qemu-user-static || { WINE32_MISSING="package qemu-user-static could not be installed"; return 1; }
    register_qemu_i386 || { WINE32_MISSING="binfmt_misc: qemu-i386 could not be registered"; return 1; }
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        WINE32_MODE=emulated
        return 0
    fi
    WINE32_MISSING="the 32-bit Wine loader does not run, natively or under qemu-i386"
    return 1
}

qemu_registered() { [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q enabled /proc/sys/fs/binfmt_misc/qemu-i386; }

register_qemu_i386() {
    qemu_registered && return 0
    [ -e /proc/sys/fs/binfmt_misc/register ] || $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
    [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && { echo 1 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null; return 0; }
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
        $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
}

# Installs i386 packages. A multi-arch library must have the same version for
# both architectures; when the i386 index lags behind the amd64 one (a mirror
# mid-sync), the i386 build of the installed amd64 version is fetched from the
# same Debian archive pool.
install_i386() {
    apt_update_once
    local debs=() attempt err pkg version file
    for attempt in 1 2 3 4; do
        err=$(DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q -t bookworm "${debs[@]}" "$@" 2>&1 >/dev/null) && return 0
        local skewed
        skewed=$(grep -oE 'Depends: [^ ]+:i386' <<<"$err" | sed -E 's/Depends: (.*):i386/\1/' | sort -u)
        [ -n "$skewed" ] || { printf '%s\n' "$err" >&2; return 1; }
        for pkg in $skewed; do
            version=$(dpkg-query -W -f='${Version}' "$pkg:amd64" 2>/dev/null) || { printf '%s\n' "$err" >&2; return 1; }
            file=$(apt-cache show "$pkg:amd64=$version" | sed -n 's/^Filename: //p' | head -n 1 | sed 's/_amd64\.deb$/_i386.deb/')
            local base fetched=""
            for base in http://deb.debian.org/debian-security http://deb.debian.org/debian; do
                if curl -sSfL -o "/tmp/$(basename "$file")" "$base/$file"; then fetched=1; break; fi
            done
            [ -n "$fetched" ] || { echo "cannot fetch $file" >&2; return 1; }
            log "fetched $(basename "$file") to match the installed amd64 $pkg"
            debs+=("/tmp/$(basename "$file")")
        done
    done
    return 1
}

# The prefix for the 32-bit program: a 64-bit prefix with its 32-bit part,
# made once (about 40 s with native 32-bit, minutes under emulation).
ensure_prefix32() {
    export WINEPREFIX="$ROOT/build/wineprefix32"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        log "creating 32-bit capable Wine prefix $WINEPREFIX ($WINE32_MODE)"
        mkdir -p "$WINEPREFIX"
        wine wineboot -u >/dev/null 2>&1 </dev/null || true
        wineserver -w
    fi
    start_prefix
}
