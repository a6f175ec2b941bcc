#!/bin/sh
# Runs a Windows program of the build under Wine: wine-run.sh 64|32 program...
# Each architecture has one prefix of the build's own, made once by the test
# script; 64-bit programs go straight to wine64, 32-bit ones need wine32.
bits=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix$bits}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ "$bits" = 64 ]; then exec /usr/lib/wine/wine64 "$@"; else exec wine "$@"; fi
