#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS] [TARGET...]
# A long fuzzing run: builds the fuzz targets (preset fuzz) and runs each
# (default: all) for SECONDS (default 600), one after the other, its corpus
# replayed first. What a target finds new stays in build/fuzz/work/TARGET/new;
# a crash, leak or hang stops that target and is kept in
# build/fuzz/work/TARGET/artifacts/. Ends with each target's executions and
# speed; exits non-zero when any target failed.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cd "$ROOT"

SECONDS_EACH=${1:-600}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(exe_command_line command_options sim_description sysfs_text sysfs_tree)

install_packages $BUILD_PACKAGES $FUZZ_PACKAGES || exit 1
configure_and_build fuzz || exit 1

FAILED=0
SUMMARY=()
for target in "${TARGETS[@]}"; do
    log "$target: ${SECONDS_EACH} s"
    work="$ROOT/build/fuzz/work/$target"
    dictionary="$ROOT/fuzz/$target.dict"
    [ -f "$dictionary" ] || dictionary=""
    out="$ROOT/build/fuzz/$target.log"
    sh fuzz/run-target.sh "build/fuzz/fuzz/$target" "fuzz/corpus/$target" "$work" "$SECONDS_EACH" $dictionary \
        >"$out" 2>&1
    rc=$?
    units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out")
    line=$(printf '%-17s %10s executions  %7s per second' "$target" "${units:-?}" "${speed:-?}")
    if [ "$rc" -ne 0 ]; then
        FAILED=1
        grep -E 'ERROR|broken|SUMMARY' "$out" | head -n 5
        line="$line  FAILED (exit code $rc; see $out and $work/artifacts/)"
    fi
    SUMMARY+=("$line")
done
echo
echo "== Summary"
printf '%s\n' "${SUMMARY[@]}"
exit "$FAILED"
