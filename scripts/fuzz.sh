#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS] [TARGET...]
# A long fuzzing run: builds the fuzz targets (preset fuzz) and runs each
# (default: all) for SECONDS (default 600), one after the other, its corpus
# replayed first. What a target finds new stays in build/fuzz/work/TARGET/new;
# a crash, leak or hang stops that target and is kept in
# build/fuzz/work/TARGET/artifacts/ (libFuzzer's log: build/fuzz/work/TARGET/
# last.log). Ends with each target's executions and speed; exits non-zero
# when any target failed.
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
    output=$(sh fuzz/run-target.sh "build/fuzz/fuzz/$target" "fuzz/corpus/$target" "$work" "$SECONDS_EACH" \
        $dictionary)
    rc=$?
    printf '%s\n' "$output"
    line=$(printf '%s\n' "$output" | tail -n 1)
    [ "$rc" -eq 0 ] || FAILED=1
    SUMMARY+=("$line")
done
echo
echo "== Summary"
printf '%s\n' "${SUMMARY[@]}"
exit "$FAILED"
