#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: wine-run.sh 64|32 program...
# Each has one prefix of the build's own (build/wineprefix64, or
# build/wineprefix32 with its 32-bit part), made by the run's set-ups
# (tests/fixtures), which also give the run's X display. Where the set-up of
# that prefix or of the display could not be made, the program is not run:
# it skips with the set-up's reason.
bits=$1; shift
source "$(dirname "$0")/../scripts/lib.sh"
for need in display "wine$bits"; do
    if [ -f "$FIXTURES/$need.unavailable" ]; then
        cat "$FIXTURES/$need.unavailable"
        exit $SKIP_CODE
    fi
done
if [ -f "$FIXTURES/display" ]; then
    read -r display _ <"$FIXTURES/display"
    [ -e "/tmp/.X11-unix/X${display#:}" ] && export DISPLAY=$display
fi
if [ "$bits" = 32 ]; then
    I386_MODE=$(cat "$FIXTURES/i386" 2>/dev/null)
    wine32_environment
fi
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/wineprefix$bits}"
# wine64 starts i686 programs too, through the 32-bit loader.
exec "$WINE64" "$@"
