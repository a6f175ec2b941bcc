#!/usr/bin/env bash
# Installs what is missing, builds the five builds and runs every test: the
# board code and the Linux command on the host under the sanitizers, the Linux
# command's Debian packages with the command's tests again on the i386 build
# (natively or under qemu), the checks of the built files and the release
# archive, the Linux command on Debian's own kernel in a VM with virtual
# boards, the window and whole-program tests under Wine on a private X
# display, and the shipped 32-bit program with 32-bit Wine (or a SKIP line
# saying what is missing). Ends with each runner's summary; exits non-zero on
# any failure.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cd "$ROOT"

install_packages $BUILD_PACKAGES $RUN_PACKAGES $CHECK_PACKAGES $FUZZ_PACKAGES || exit 1

SUMMARY=()
FAILED=0
# suite name, then the command. A suite passes only when its command exits 0
# and its runner printed its passing summary (ctest's "100% tests passed",
# GoogleTest's "[  PASSED  ]" with no failed test): a run cut short passes
# nothing. Keeps the runner's own summary line.
suite() {
    local name=$1; shift
    local out="$ROOT/build/$name.log"
    log "$name"
    mkdir -p "$ROOT/build"
    "$@" 2>&1 | tee "$out"
    local rc=${PIPESTATUS[0]}
    local line passed=""
    line=$(grep -E 'tests passed|\[  PASSED  \]|FAILED TEST' "$out" | tail -n 1)
    if [ "$rc" -eq 0 ] && grep -qE '^100% tests passed|^\[  PASSED  \]' "$out" && ! grep -q 'FAILED TEST' "$out"; then
        passed=1
    fi
    [ -n "$line" ] || line="no summary from the test runner"
    [ -n "$passed" ] || { FAILED=1; line="$line (exit code $rc): FAILED"; }
    SUMMARY+=("$(printf '%-8s %s' "$name" "$line")")
}

build_all() {
    local preset
    for preset in host fuzz linux64 linux32 win32 win64; do
        configure_and_build "$preset" || return 1
    done
}
if ! build_all; then
    echo "== build failed"
    exit 1
fi

suite host ctest --preset host -j "$(nproc)" --timeout 300
# Every fuzz target replays its corpus, then fuzzes for a bounded time.
suite fuzz ctest --preset fuzz -j "$(nproc)" --timeout 300
suite linux64 ctest --preset linux64 -LE vm --timeout 300
if ensure_i386_command; then
    HALVEX_I386=$I386_MODE suite linux32 ctest --preset linux32 --timeout 600
    SUMMARY[-1]+=" [$I386_MODE]"
else
    SUMMARY+=("$(printf '%-8s SKIP: the i386 halvex command was not tested: %s' linux32 "$I386_MISSING")")
fi
# The Debian packages, built the Debian way (dpkg-buildpackage, debhelper),
# each checked (files, hardening, lintian) and its program put through the
# command's tests.
if bash scripts/build-debs.sh; then
    cmake --preset deb >/dev/null
    HALVEX_I386=$I386_MODE suite deb ctest --preset deb --timeout 600
else
    SUMMARY+=("$(printf '%-8s the Debian packages did not build (see build/deb-*/build.log): FAILED' deb)")
    FAILED=1
fi
# A suite whose set-up script readies what it needs first. HALVEX_<NAME>=skip
# leaves it out. Set-up exit status 3 means what it needs cannot be had here:
# a SKIP with the reason it printed as "NAME: reason". Any other failure fails
# the suite.
suite_after_setup() {  # name, set-up script, then the test command
    local name=$1 setup=$2
    shift 2
    local variable=HALVEX_${name^^} started=$SECONDS rc=0 setup_log="$ROOT/build/$name-prepare.log"
    if [ "${!variable:-}" = skip ]; then
        SUMMARY+=("$(printf '%-8s SKIP: %s=skip' "$name" "$variable")")
        return
    fi
    log "$name: preparing (log: build/$name-prepare.log)"
    bash "$setup" >"$setup_log" 2>&1 || rc=$?
    case $rc in
    0)
        suite "$name" "$@"
        SUMMARY[-1]+=" [$((SECONDS - started)) s with set-up]"
        ;;
    3) SUMMARY+=("$(printf '%-8s SKIP: %s' "$name" "$(sed -n "s/^$name: //p" "$setup_log" | tail -n 1)")") ;;
    *)
        tail -n 20 "$setup_log"
        SUMMARY+=("$(printf '%-8s %s failed (see build/%s-prepare.log): FAILED' "$name" "$setup" "$name")")
        FAILED=1
        ;;
    esac
}
# The command on Debian's own kernel in a VM with virtual boards (tests/vm).
suite_after_setup vm tests/vm/prepare.sh ctest --preset linux64 -L vm --timeout 600
# The packages installed in a booting Debian 12 system under QEMU with
# virtual boards (tests/system).
suite_after_setup system tests/system/prepare.sh \
    ctest --test-dir "$ROOT/build/system/ctest" --output-on-failure --timeout 900
# The installer's tests need the 32-bit prefix: they run after the program's.
suite win32 ctest --preset win32 -LE installer --timeout 300

start_display || exit 1
trap 'stop_display; unregister_qemu_i386' EXIT
ensure_prefix64
wine_window_manager N
# One at a time: the tests find windows by class and title on a shared display.
suite win64 ctest --preset win64 --timeout 300

# The shipped i686 program itself, with the i686 stand-in library: only it
# proves the stdcall binding between the two and the 32-bit image. Natively
# every whole-program test runs against it; under qemu emulation (minutes per
# start) the one scenario of the user's main path. HALVEX_WIN32 (lib.sh)
# forces a mode.
run_shipped_32bit() {
    ensure_prefix32 || return 1
    wine_window_manager N
    local filter='Program.*'
    [ "$WINE32_MODE" = native ] || filter='Program.ListDefaultApplyClose'
    log "32-bit Wine: $WINE32_MODE; running $filter against build/win32/Halvex.exe"
    HALVEX_EXE="Z:$ROOT/build/win32/Halvex.exe" "$WINE64" "$ROOT/build/win64/program_tests.exe" --gtest_filter="$filter"
}
if ensure_wine32; then
    started=$SECONDS
    suite win32run run_shipped_32bit
    SUMMARY[-1]+=" [$WINE32_MODE, $((SECONDS - started)) s]"
    # The shipped installer in the same prefix: a silent install with a
    # clock, its start-up shortcut run on simulated boards, an uninstall. A
    # skip here means the prefix cannot run it, which fails the suite.
    started=$SECONDS
    suite win32inst ctest --preset win32 -L installer --timeout 1800
    SUMMARY[-1]+=" [$WINE32_MODE, $((SECONDS - started)) s]"
    if grep -q '(Skipped)' "$ROOT/build/win32inst.log"; then
        FAILED=1
        SUMMARY[-1]+=" (skipped): FAILED"
    fi
    WINEPREFIX="$ROOT/build/wineprefix32" wineserver -k 2>/dev/null || true
else
    SUMMARY+=("$(printf '%-8s SKIP: the shipped 32-bit program was not run: %s' win32run "$WINE32_MISSING")")
fi
unregister_qemu_i386

echo
echo "== Summary"
printf '%s\n' "${SUMMARY[@]}"
if [ "$FAILED" -ne 0 ]; then
    echo "== FAILED"
    exit 1
fi
echo "== ALL PASSED"
