# Shared by the project's scripts: packages, the Wine prefix and a private X
# display. Source it; ROOT is the checkout.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINE64=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

BUILD_PACKAGES="cmake make g++ libgtest-dev googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
    g++-i686-linux-gnu nsis"
RUN_PACKAGES="wine wine64 fonts-wine xvfb xauth imagemagick fonts-liberation x11-utils xdotool"
# clang with libFuzzer and the sanitizers' runtime, llvm-cov and llvm-profdata
# for the fuzz targets and their coverage.
FUZZ_PACKAGES="clang libclang-rt-14-dev llvm"
CHECK_PACKAGES="python3 python3-pefile pciutils util-linux lintian bash-completion systemd"

log() { printf '== %s\n' "$*"; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# A mirror that is still syncing one index (seen with the i386 security
# index) fails the update; what did download is still used.
apt_update_once() {
    [ -e /tmp/.halvex-apt-updated ] && return 0
    $SUDO apt-get -o DPkg::Lock::Timeout=600 update -q || log "apt-get update reported errors; going on with the indexes it has"
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
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
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

# How the i386 build of the Linux command runs here: "native" where the
# kernel runs 32-bit programs and the i386 C library is installed, else
# "emulated" under qemu-i386 with the cross C library; empty, with
# I386_MISSING saying why, where neither can be had. Each mode is tried
# through cmake/run-i386.sh, the runner the tests use, which obeys HALVEX_I386.
I386_MODE=""
I386_MISSING=""
ensure_i386_command() {
    local try=("$ROOT/cmake/run-i386.sh" "$ROOT/build/linux32/halvex" --version)
    if HALVEX_I386=native "${try[@]}" >/dev/null 2>&1; then
        I386_MODE=native
        return 0
    fi
    install_packages qemu-user-static || { I386_MISSING="package qemu-user-static could not be installed"; return 1; }
    if HALVEX_I386=emulated "${try[@]}" >/dev/null 2>&1; then
        I386_MODE=emulated
        return 0
    fi
    I386_MISSING="the i386 build of halvex runs neither natively nor under qemu-i386"
    return 1
}

# 32-bit Wine for the shipped i686 program. HALVEX_WIN32 picks the mode:
#   auto (default)  native where the kernel runs 32-bit programs, else emulated
#   native          the kernel's own 32-bit support; missing is a SKIP
#   emulated        qemu-i386 user emulation through binfmt_misc, registered
#                   here even where the kernel runs 32-bit programs (so this
#                   path can be proven on any machine) and taken back after
#   skip            not run
# Sets WINE32_MODE to "native" or "emulated", or leaves it empty with
# WINE32_MISSING saying what could not be had.
WINE32_MODE=""
WINE32_MISSING=""
WINE32_REGISTERED_HERE=""
ensure_wine32() {
    local want=${HALVEX_WIN32:-auto}
    case $want in
    auto | native | emulated) ;;
    skip) WINE32_MISSING="HALVEX_WIN32=skip"; return 1 ;;
    *) WINE32_MISSING="HALVEX_WIN32=$want is not one of auto, native, emulated, skip"; return 1 ;;
    esac
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386 && rm -f /tmp/.halvex-apt-updated
    fi
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
        install_i386 wine32:i386 || { WINE32_MISSING="package wine32:i386 could not be installed"; return 1; }
    fi
    if [ "$want" != emulated ] && ! qemu_registered && /usr/lib/wine/wine --version >/dev/null 2>&1; then
        WINE32_MODE=native
        return 0
    fi
    if [ "$want" = native ]; then
        WINE32_MISSING="HALVEX_WIN32=native, but the kernel does not run the 32-bit Wine loader"
        qemu_registered && WINE32_MISSING="HALVEX_WIN32=native, but qemu-i386 is registered with binfmt_misc"
        return 1
    fi
    install_packages qemu-user-static || { WINE32_MISSING="package qemu-user-static could not be installed"; return 1; }
    register_qemu_i386 || { WINE32_MISSING="binfmt_misc: qemu-i386 could not be registered"; return 1; }
    # 32-bit Wine under qemu needs the whole 32-bit guest address space
    # reserved up front, or its loader cannot map the shared user data; Wine
    # passes the variable on to every process it starts.
    export QEMU_RESERVED_VA=0xffff0000
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        WINE32_MODE=emulated
        return 0
    fi
    WINE32_MISSING="the 32-bit Wine loader does not run, natively or under qemu-i386"
    return 1
}

qemu_registered() { [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q enabled /proc/sys/fs/binfmt_misc/qemu-i386; }

# Registers qemu-i386 for i386 ELF programs with the fix-binary flag, so that
# it works inside any mount namespace, and remembers whether it did.
register_qemu_i386() {
    qemu_registered && return 0
    [ -e /proc/sys/fs/binfmt_misc/register ] || $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
    if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        echo 1 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null || return 1
        WINE32_REGISTERED_HERE=enabled
        return 0
    fi
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
        $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null || return 1
    WINE32_REGISTERED_HERE=added
}

# Takes back what register_qemu_i386 did, and nothing it found already there.
unregister_qemu_i386() {
    case $WINE32_REGISTERED_HERE in
    added) echo -1 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null ;;
    enabled) echo 0 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null ;;
    esac
    WINE32_REGISTERED_HERE=""
}

# Installs i386 packages, plainly first. A multi-arch library must have the
# same version for both architectures; only when the i386 index lags behind
# the amd64 one (a mirror mid-sync: apt then answers with an unmet
# "Depends: pkg:i386") is the i386 build of the installed amd64 version
# fetched, from the address apt itself gives for that amd64 file, so it comes
# from whatever mirror this machine uses.
install_i386() {
    apt_update_once
    local debs=() attempt err pkg version uri file
    for attempt in 1 2 3 4; do
        err=$(DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -q "${debs[@]}" "$@" 2>&1 >/dev/null) && return 0
        local skewed
        skewed=$(grep -oE 'Depends: [^ ]+:i386' <<<"$err" | sed -E 's/Depends: (.*):i386/\1/' | sort -u)
        [ -n "$skewed" ] || { printf '%s\n' "$err" >&2; return 1; }
        for pkg in $skewed; do
            version=$(dpkg-query -W -f='${Version}' "$pkg:amd64" 2>/dev/null) || { printf '%s\n' "$err" >&2; return 1; }
            uri=$(apt-get download --print-uris "$pkg:amd64=$version" 2>/dev/null | head -n 1 | cut -d"'" -f2)
            [ -n "$uri" ] || { echo "apt gives no address for $pkg:amd64 $version" >&2; return 1; }
            uri=${uri%_amd64.deb}_i386.deb
            file="/tmp/$(basename "$uri")"
            /usr/lib/apt/apt-helper download-file "$uri" "$file" >/dev/null ||
                { echo "cannot fetch $(basename "$uri")" >&2; return 1; }
            log "fetched $(basename "$uri") to match the installed amd64 $pkg"
            debs+=("$file")
        done
    done
    return 1
}

# The prefix for the 32-bit program: a 64-bit prefix with its 32-bit part,
# made once (about 40 s with native 32-bit, minutes under emulation). A prefix
# whose syswow64 came out empty (the 32-bit loader failed while it was made)
# is made again; if it is still empty the 32-bit run cannot go on.
prefix32_complete() { [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; }
ensure_prefix32() {
    export WINEPREFIX="$ROOT/build/wineprefix32"
    if [ -f "$WINEPREFIX/system.reg" ] && ! prefix32_complete; then
        log "the 32-bit prefix has no 32-bit part; making it again"
        wineserver -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        log "creating 32-bit capable Wine prefix $WINEPREFIX ($WINE32_MODE)"
        mkdir -p "$WINEPREFIX"
        "$WINE64" wineboot -u >/dev/null 2>&1 </dev/null || true
        wineserver -w
    fi
    if ! prefix32_complete; then
        echo "the Wine prefix $WINEPREFIX has no 32-bit part (drive_c/windows/syswow64 is empty):" \
            "32-bit Wine did not run while it was made ($WINE32_MODE)" >&2
        return 1
    fi
    start_prefix
}
