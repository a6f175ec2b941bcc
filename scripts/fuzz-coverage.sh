#!/usr/bin/env bash
# scripts/fuzz-coverage.sh
# The parsers' line coverage from the fuzz corpus: builds the fuzz targets with
# clang's coverage mapping (preset fuzz-coverage), replays each target's
# corpus (fuzz/corpus/TARGET, and what build/fuzz/work/TARGET/new holds) once,
# and prints llvm-cov's report of the parsers' files. The merged profile and
# the report stay in build/fuzz-coverage/.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cd "$ROOT"

TARGETS=(exe_command_line command_options sim_description sysfs_text sysfs_tree)
# The code the targets feed: the parsers and what reads the trees.
SOURCES=(command/command_line.cpp apply/whole_number.h linux/options.cpp sim/sim_machine.cpp linux/sysfs_text.cpp
    linux/sysfs_access.cpp)

install_packages $BUILD_PACKAGES $FUZZ_PACKAGES || exit 1
configure_and_build fuzz-coverage || exit 1
out="$ROOT/build/fuzz-coverage"
rm -f "$out"/*.profraw
objects=()
for target in "${TARGETS[@]}"; do
    binary="$out/fuzz/$target"
    corpora=("fuzz/corpus/$target")
    [ "${HALVEX_FUZZ_COVERAGE_WORK:-}" = yes ] && [ -d "build/fuzz/work/$target/new" ] &&
        corpora+=("build/fuzz/work/$target/new")
    LLVM_PROFILE_FILE="$out/$target.profraw" "$binary" -runs=0 "${corpora[@]}" >"$out/$target.log" 2>&1 || {
        tail -n 20 "$out/$target.log"
        exit 1
    }
    objects+=(-object "$binary")
done
llvm-profdata merge -sparse "$out"/*.profraw -o "$out/corpus.profdata" || exit 1
llvm-cov report "${objects[@]:1}" -instr-profile="$out/corpus.profdata" "${SOURCES[@]}" | tee "$out/report.txt"
