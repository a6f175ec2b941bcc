#!/usr/bin/env bash
# The whole-program tests (build/win64/program_tests.exe) against the shipped
# i686 build/win32/Halvex.exe with the i686 stand-in library, in the 32-bit
# prefix. Natively every one runs; under qemu emulation (minutes per start)
# the one scenario of the user's main path.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
mode=$(cat "$FIXTURES/i386")
filter='Program.*'
[ "$mode" = native ] || filter='Program.ListDefaultApplyClose'
log "32-bit x86 programs run $mode: $filter against build/win32/Halvex.exe"
HALVEX_EXE="Z:$ROOT/build/win32/Halvex.exe" exec "$ROOT/cmake/wine-run.sh" 32 "$ROOT/build/win64/program_tests.exe" \
    --gtest_filter="$filter"
