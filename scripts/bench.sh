#!/usr/bin/env bash
# Puts Halvex's costs on record against two floors, on this machine and this
# Wine: the shipped program's size, start-up time and peak memory against the
# same window with the same six controls and fonts but no driver library
# (budgets), and against the least window program (for information), all
# built with the same flags; where 32-bit programs run natively, the shipped
# i686 build against i686 builds of both floors too; and the driver calls made
# against the calls the work needs. Exits non-zero when a budget is exceeded.
#   bash scripts/bench.sh [RUNS]     (median of RUNS starts each, default 31)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$ROOT"
RUNS=${1:-31}
SIZE_BUDGET=$((48 * 1024))
STARTUP_BUDGET=1.05
MEMORY_BUDGET=1.02

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

startup_rows() {  # build-dir label
    echo "$2 $(measure startup "$RUNS" "Z:$1/Halvex.exe" "Z:$1/floor_controls.exe" "Z:$1/floor.exe" | paste -sd' ')"
}
starts=$(startup_rows "$W64" x86_64)
if HALVEX_I386=native choose_i386_mode && /usr/lib/wine/wine --version >/dev/null 2>&1 &&
    ensure_prefix32 >/dev/null; then
    starts+=$'\n'$(startup_rows "$W32" i686)
    export WINEPREFIX="$ROOT/build/wineprefix64"
else
    starts+=$'\n'"i686 skipped: ${I386_MISSING:-32-bit Wine (wine32:i386) does not run}"
fi

# Driver calls: 3 buses, 3 boards (1, 4 and 2 chips); Apply on the 4-chip one.
log_file="$ROOT/build/bench-calls.log"
rm -f "$log_file"
HALVEX_SIM_LOG="Z:$log_file" \
HALVEX_SIM_BOARDS="0:4:0x0004:0xE0000000:0xE721;2:0:0x0001:0xD0000000:0x3B05;2:5:0x0002:0xC0000000:0x4405" \
    measure apply "Z:$W64/Halvex.exe" 1

/usr/bin/python3 - "$W32" "$starts" "$log_file" "$SIZE_BUDGET" "$STARTUP_BUDGET" "$MEMORY_BUDGET" "$RUNS" <<'PY'
import os, re, sys
w32, starts, log_path, size_budget, startup_budget, memory_budget, runs = sys.argv[1:]
ok = True

def row(what, ours, controls, bare, budget, passed):
    global ok
    ok &= passed
    print(f"{what:<30} {ours:>10} {controls:>16} {bare:>16} {budget:>8}  {'ok' if passed else 'OVER BUDGET'}")

def ratio(a, b):
    return f"{a / b:.2f}"

print(f"{'':<30} {'Halvex':>10} {'controls floor':>16} {'bare floor':>16} {'budget':>8}")
size = os.path.getsize(f"{w32}/Halvex.exe")
sc, sb = os.path.getsize(f"{w32}/floor_controls.exe"), os.path.getsize(f"{w32}/floor.exe")
row("i686 Halvex.exe size", f"{size} B", f"{sc} B x{ratio(size, sc)}", f"{sb} B x{ratio(size, sb)}",
    f"{int(size_budget) // 1024} KiB", size <= int(size_budget))
for line in starts.splitlines():
    arch, rest = line.split(" ", 1)
    if not rest.startswith("p0"):
        print(f"{arch} start-up: {rest}")
        continue
    v = {k: float(x) for k, x in re.findall(r"(p\d_\w+)=([0-9.]+)", rest)}
    t, tc, tb = v["p0_ms"], v["p1_ms"], v["p2_ms"]
    row(f"{arch} start, median of {runs}", f"{t:.0f} ms", f"{tc:.0f} ms x{ratio(t, tc)}", f"{tb:.0f} ms x{ratio(t, tb)}",
        f"x{startup_budget}", t / tc <= float(startup_budget))
    m, mc, mb = v["p0_kib"], v["p1_kib"], v["p2_kib"]
    row(f"{arch} peak working set", f"{m:.0f} KiB", f"{mc:.0f} KiB x{ratio(m, mc)}", f"{mb:.0f} KiB x{ratio(m, mb)}",
        f"x{memory_budget}", m / mc <= float(memory_budget))

ops = [line.split()[1:] for line in open(log_path, encoding="ascii", errors="replace") if line.strip()]
first_readout = next(i for i, op in enumerate(ops) if op[0] == "DrvPciReadDword")
detection = ops[1:first_readout]  # after DrvOpen
groups, current = [], []
# Each readout and each write starts by reading BAR0 (offset 0x10): a board
# that cannot be reached is refused before anything is written.
for op in ops[first_readout:]:
    if op[0] == "DrvPciReadDword" and op[2] == "0x00000010" and current:
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
