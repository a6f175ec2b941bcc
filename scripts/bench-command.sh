#!/usr/bin/env bash
# Puts the Linux command's costs on record against its peer, pciutils' lspci,
# and its floor, the least any program can do (bench/sysfs_floor.cpp), on the
# same fabricated sysfs trees, and counts its driver calls against what the
# work needs. Exits non-zero when a budget is exceeded.
#   bash scripts/bench-command.sh [RUNS]     (median of RUNS starts each, default 200)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$ROOT"
RUNS=${1:-200}
install_packages cmake make g++ python3 pciutils
configure_and_build linux64 >/dev/null
g++ -O2 -o "$ROOT/build/linux64/sysfs_floor" bench/sysfs_floor.cpp
/usr/bin/python3 bench/command_bench.py "$ROOT/build/linux64/halvex" "$ROOT/build/linux64/sysfs_floor" "$RUNS"
