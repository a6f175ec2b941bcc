# Shared by the project's scripts: packages, the Wine prefix and a private X
# display. Source it; ROOT is the checkout.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINE64=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

BUILD_PACKAGES="cmake make g++ libgtest-dev googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64"
RUN_PACKAGES="wine wine64 xvfb xauth imagemagick fonts-liberation x11-utils xdotool"
CHECK_PACKAGES="python3 python3-pefile"

log() { printf '== %s\n' "$*"; }

# Installs what of the given Debian packages is missing (apt-get update once).
install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    if [ ! -e /tmp/.halvex-apt-updated ]; then
        $sudo apt-get update -q && touch /tmp/.halvex-apt-updated
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
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
    [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
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
    # Keep one wineserver and its services up for all the runs. They start
    # here with no terminal or pipe attached: a service holding a test's
    # output pipe open would keep its reader waiting for ever.
    wineserver -p >/dev/null 2>&1 </dev/null || true
    "$WINE64" wineboot >/dev/null 2>&1 </dev/null || true
}
