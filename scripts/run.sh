#!/usr/bin/env bash
# Builds Halvex and starts it under Wine on its simulated boards: in a window
# on your display if there is one; otherwise under Xvfb, saving a screenshot
# of the main window as a PNG.
#
# The simulated boards keep an applied clock across runs, as real ones do
# until power-off, in build/halvex-sim-state.txt; --reset deletes it first, so
# the boards start again from their initial clocks.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$ROOT"

STATE="$ROOT/build/halvex-sim-state.txt"
if [ "${1:-}" = --reset ]; then
    rm -f "$STATE"
    log "simulated boards reset to their initial clocks"
fi
export HALVEX_SIM_STATE="${HALVEX_SIM_STATE:-Z:$STATE}"

install_packages $BUILD_PACKAGES $RUN_PACKAGES
configure_and_build win64 >/dev/null
EXE="$ROOT/build/win64/Halvex.exe"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    ensure_prefix64
    wine_window_manager Y
    log "starting Halvex on $DISPLAY (close its window to end)"
    "$WINE64" "$EXE"
    exit 0
fi

SHOT="$ROOT/build/halvex-main-window.png"
start_display
trap stop_display EXIT
ensure_prefix64
wine_window_manager N
log "no display: starting Halvex under Xvfb ($DISPLAY)"
"$WINE64" "$EXE" >/dev/null 2>&1 &
for _ in $(seq 100); do
    geometry=$(xwininfo -root -tree | grep '"Halvex ver\.' | head -n 1 || true)
    [ -n "$geometry" ] && break
    sleep 0.2
done
if [ -z "$geometry" ]; then
    echo "Halvex did not show its window" >&2
    exit 1
fi
sleep 1  # let it paint
# "... 240x240+0+0 ...": the whole window, frame and caption drawn by Wine.
read -r w h x y < <(sed -E 's/.* ([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+) .*/\1 \2 \3 \4/' <<<"$geometry")
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$SHOT"
xdotool search --name '^Halvex ver\.' windowclose >/dev/null 2>&1 || wineserver -k
log "screenshot of the main window: $SHOT"
