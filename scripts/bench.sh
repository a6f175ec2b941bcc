#!/usr/bin/env bash
# Puts Halvex's costs on record against a floor, on this machine and this Wine:
# the shipped program's size, start-up time and peak memory against the least
# window program built with the same flags, and the driver calls made against
# the calls the work needs. Exits non-zero when a budget is exceeded.
#   bash scripts/bench.sh [RUNS]     (median of RUNS starts each, default 15)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$ROOT"
RUNS=${1:-15}
SIZE_BUDGET=$((48 * 1024))
STARTUP_BUDGET=1.2

install_packages $BUILD_PACKAGES $RUN_PACKAGES
configure_and_build win32 >/dev/null
configure_and_build win64 >/dev/null
W32="$ROOT/build/win32" W64="$ROOT/build/win64"

start_display
trap stop_display EXIT
ensure_prefix64
wine_window_manager N
export HALVEX_SIM_STATE=none  # every start sees the same boards
measure() { "$WINE64" "$W64/measure.exe" "$@" 2>/dev/null | tr -d '\r'; }

starts=$(measure startup "$RUNS" "Z:$W64/Halvex.exe" "Z:$W64/floor.exe")

# Driver calls: 3 buses, 3 boards (1, 4 and 2 chips); Apply on the 4-chip one.
log_file="$ROOT/build/bench-calls.log"
rm -f "$log_file"
HALVEX_SIM_LOG="Z:$log_file" \
HALVEX_SIM_BOARDS="0:4:0x0004:0xE0000000:0xE721;2:0:0x0001:0xD0000000:0x3B05;2:5:0x0002:0xC0000000:0x4405" \
    measure apply "Z:$W64/Halvex.exe" 1

/usr/bin/python3 - "$W32/Halvex.exe" "$W32/floor.exe" "$starts" "$log_file" \
    "$SIZE_BUDGET" "$STARTUP_BUDGET" "$RUNS" <<'PY'
import os, re, sys
exe, floor_exe, starts, log_path, size_budget, startup_budget, runs = sys.argv[1:]
val = lambda text, key: float(re.search(key + r"=([0-9.]+)", text).group(1))
ok = True

def row(what, ours, base, ratio, budget, passed):
    global ok
    ok &= passed
    print(f"{what:<34} {ours:>12} {base:>12} {ratio:>8} {budget:>12}  {'ok' if passed else 'OVER BUDGET'}")

print(f"{'':<34} {'Halvex':>12} {'floor':>12} {'ratio':>8} {'budget':>12}")
size, floor_size = os.path.getsize(exe), os.path.getsize(floor_exe)
row("i686 Halvex.exe size, stripped", f"{size} B", f"{floor_size} B", f"{size / floor_size:.2f}",
    f"{int(size_budget) // 1024} KiB", size <= int(size_budget))
t, tf = val(starts, "program_ms"), val(starts, "floor_ms")
row(f"start to window visible (median {runs})", f"{t:.0f} ms", f"{tf:.0f} ms", f"{t / tf:.2f}",
    f"x{startup_budget}", t / tf <= float(startup_budget))
m, mf = val(starts, "program_kib"), val(starts, "floor_kib")
row("peak working set", f"{m:.0f} KiB", f"{mf:.0f} KiB", f"{m / mf:.2f}", "-", True)

ops = [line.split()[1:] for line in open(log_path, encoding="ascii", errors="replace") if line.strip()]
first_readout = next(i for i, op in enumerate(ops) if op[0] == "DrvPciReadDword")
detection = ops[1:first_readout]  # after DrvOpen
groups, current = [], []
for op in ops[first_readout:]:
    if op[0] == "DrvPciReadDword" and op[2] == "0x00000004" and current:
        groups.append(current)
        current = []
    current.append(op[0])
groups.append(current)
readouts = [g for g in groups if "DrvMemReadDword" in g]
applies = [g for g in groups if "DrvMemWriteDword" in g]
buses, boards, chips = 3, 3, 4
need_detect = 2 * 32 * buses + boards + (buses + 1)
print()
print(f"{'driver calls':<34} {'made':>12} {'needed':>12}")
for what, made, need in [(f"detection, {buses} buses, {boards} boards", len(detection), need_detect),
                         ("one readout", len(readouts[0]), 3 + 1),
                         (f"Apply on a {chips}-chip board", len(applies[0]), 3 + chips)]:
    ok &= made == need
    print(f"{what:<34} {made:>12} {need:>12}  {'ok' if made == need else 'EXTRA CALLS'}")
print()
print("all budgets met" if ok else "BUDGET EXCEEDED")
sys.exit(0 if ok else 1)
PY
