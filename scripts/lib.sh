# Shared by the project's scripts: packages, the Wine prefix and a private X
# display. Source it; ROOT is the checkout.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINE64=/usr/lib/wine/wine64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

# What the builds and every suite need, by suite; scripts/test.sh installs
# them all before the run, and a set-up that finds one missing skips its
# suites with the reason.
BUILD_PACKAGES="cmake make g++ libgtest-dev googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
    g++-i686-linux-gnu nsis"
RUN_PACKAGES="wine wine64 fonts-wine xvfb xauth imagemagick fonts-liberation x11-utils xdotool"
# clang with libFuzzer and the sanitizers' runtime, llvm-cov and llvm-profdata
# for the fuzz targets and their coverage.
FUZZ_PACKAGES="clang libclang-rt-14-dev llvm"
CHECK_PACKAGES="python3 python3-pefile pciutils util-linux lintian devscripts bash-completion systemd"
DEB_PACKAGES="dpkg-dev debhelper cmake make g++ bash-completion crossbuild-essential-i386"
VM_PACKAGES="qemu-system-x86 linux-headers-amd64 busybox-static pciutils cpio kmod make gcc libc6-dev
    g++-i686-linux-gnu"
SYSTEM_PACKAGES="mmdebstrap arch-test qemu-system-x86 cpio python3"
I386_PACKAGES="qemu-user-static arch-test"
# i386 packages, installed with install_i386: 32-bit Wine, and the i386 C
# library a cross build of the Debian package reads its dependency from.
I386_FOREIGN_PACKAGES="wine32:i386 libc6-dev:i386"

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

# The given Debian packages that are not installed, one a line.
missing_packages() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

# Installs what of the given Debian packages is missing (apt-get update once).
install_packages() {
    local missing
    missing=$(missing_packages "$@")
    [ -z "$missing" ] && return 0
    log "installing" $missing
    apt_update_once
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends $missing
}

configure_and_build() {  # preset
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$(nproc)"
}

# What the set-ups of a run leave for the tests that need them
# (tests/fixtures/fixture.sh): NAME.unavailable holds why the set-up NAME
# could not be made here; display names the run's X display; i386 says how
# 32-bit x86 programs run (native or emulated).
FIXTURES=$ROOT/build/fixtures
# The exit status of a set-up or test that cannot run here (SKIP_RETURN_CODE
# in tests/CMakeLists.txt).
SKIP_CODE=77

# Ends a set-up or test as skipped: what it needs cannot be had here; the
# reason is the last line of its output.
unavailable() {
    echo "skipped: $*"
    exit $SKIP_CODE
}

# For a set-up: skipped unless the given packages are installed.
need_packages() {
    local missing
    missing=$(missing_packages "$@")
    [ -z "$missing" ] || unavailable "not installed:" $missing "(scripts/test.sh installs them)"
}

# Starts a private Xvfb and exports DISPLAY; stop_display ends it.
XVFB_PID=""
start_display() {
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
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
        "$WINE64" wineboot -u >/dev/null 2>&1 </dev/null || true
        wineserver -w
    fi
    start_prefix
}

# How 32-bit x86 programs run here, as HALVEX_I386 asks:
#   auto (default)  natively where the kernel runs them, else under qemu-i386
#   native          natively; where the kernel cannot, they cannot run
#   emulated        under qemu-i386 user emulation even where the kernel runs
#                   them natively, so that path can be proven on any machine
# Emulation goes through binfmt_misc (register_qemu_i386), so it reaches the
# programs others start too: an i386 root's maintainer scripts, 32-bit Wine's
# loader. Sets I386_MODE to native or emulated, or leaves it empty with
# I386_MISSING saying why neither can be had.
I386_MODE=""
I386_MISSING=""
I386_REGISTERED_HERE=""
choose_i386_mode() {
    local want=${HALVEX_I386:-auto}
    case $want in
    auto | native | emulated) ;;
    *) I386_MISSING="HALVEX_I386=$want is not one of auto, native, emulated"; return 1 ;;
    esac
    if [ "$want" != emulated ] && ! qemu_registered && arch-test i386 >/dev/null 2>&1; then
        I386_MODE=native
        return 0
    fi
    if [ "$want" = native ]; then
        I386_MISSING="HALVEX_I386=native, but the kernel does not run 32-bit programs"
        qemu_registered && I386_MISSING="HALVEX_I386=native, but qemu-i386 is registered with binfmt_misc"
        return 1
    fi
    [ -x /usr/bin/qemu-i386-static ] || { I386_MISSING="qemu-user-static is not installed"; return 1; }
    register_qemu_i386 || { I386_MISSING="binfmt_misc: qemu-i386 could not be registered"; return 1; }
    I386_MODE=emulated
}

# 32-bit Wine under qemu needs the whole 32-bit guest address space reserved
# up front, or its loader cannot map the shared user data; Wine passes the
# variable on to every process it starts.
wine32_environment() {
    [ "$I386_MODE" = emulated ] && export QEMU_RESERVED_VA=0xffff0000
    return 0
}

qemu_registered() { [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q enabled /proc/sys/fs/binfmt_misc/qemu-i386; }

# Registers qemu-i386 for i386 ELF programs with the fix-binary flag, so that
# it works inside any mount namespace, and remembers in
# I386_REGISTERED_HERE whether it did.
register_qemu_i386() {
    qemu_registered && return 0
    [ -e /proc/sys/fs/binfmt_misc/register ] || $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
    if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        echo 1 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null || return 1
        I386_REGISTERED_HERE=enabled
        return 0
    fi
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
        $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null || return 1
    I386_REGISTERED_HERE=added
}

# Takes back what register_qemu_i386 did (I386_REGISTERED_HERE), and nothing
# it found already there.
unregister_qemu_i386() {
    case $I386_REGISTERED_HERE in
    added) echo -1 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null ;;
    enabled) echo 0 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null ;;
    esac
    I386_REGISTERED_HERE=""
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
        log "creating 32-bit capable Wine prefix $WINEPREFIX ($I386_MODE)"
        mkdir -p "$WINEPREFIX"
        "$WINE64" wineboot -u >/dev/null 2>&1 </dev/null || true
        wineserver -w
    fi
    if ! prefix32_complete; then
        echo "the Wine prefix $WINEPREFIX has no 32-bit part (drive_c/windows/syswow64 is empty):" \
            "32-bit Wine did not run while it was made ($I386_MODE)" >&2
        return 1
    fi
    start_prefix
}
