#!/usr/bin/python3
"""The Linux command's costs against its peer and its floor, in one run:
`halvex list`, lspci filtered to VSA-100 boards, and the floor (one open and
one read per device, the least any program can do) on the same fabricated
sysfs trees, started in turn, median wall time of RUNS starts each; and the
driver calls of `list` and `set` on simulated boards against what the work
needs. Exits non-zero when a budget is exceeded.

usage: command_bench.py HALVEX FLOOR RUNS"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "linux"))
import sysfs_tree as st  # noqa: E402

PEER_BUDGET = 0.4   # halvex / lspci
FLOOR_BUDGET = 1.3  # halvex / floor
DEVNULL = os.open(os.devnull, os.O_WRONLY)


def wall(argv):
    """Seconds from spawn to exit; output discarded."""
    start = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=[(os.POSIX_SPAWN_DUP2, DEVNULL, 1)])
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(argv)} failed")
    return elapsed


def compare(halvex, floor, runs, make):
    """Median seconds of halvex, lspci and the floor on one tree."""
    with tempfile.TemporaryDirectory() as root:
        _, devices = make(root)
        argvs = ([halvex, "--sysfs", root, "list"],
                 ["lspci", "-n", "-d", "121a:0009", "-A", "linux-sysfs", "-O", f"sysfs.path={root}"],
                 [floor, root])
        for argv in argvs:  # warm the page cache
            wall(argv)
        times = [[] for _ in argvs]
        for _ in range(runs):
            for argv, spent in zip(argvs, times):
                spent.append(wall(argv))
        return len(devices), *(statistics.median(spent) for spent in times)


def driver_calls(halvex, *args):
    """The simulated driver calls of one run, by operation."""
    with tempfile.TemporaryDirectory() as folder:
        log = os.path.join(folder, "calls.log")
        env = dict(os.environ, HALVEX_SIM_LOG=log, HALVEX_SIM_STATE="none",
                   HALVEX_SIM_BOARDS="0:4:0x0004:0xE0000000:0xE721;2:0:0x0001:0xD0000000:0x3B05;"
                                     "2:5:0x0002:0xC0000000:0x4405")
        subprocess.run([halvex, "--simulate", *args], env=env, check=True, stdout=subprocess.DEVNULL)
        with open(log) as f:
            return len(f.readlines())


def main():
    halvex, floor, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    ok = True
    print(f"{'halvex list vs lspci -d 121a:0009':<28} {'devices':>7} {'halvex':>8} {'lspci':>8} {'floor':>8}"
          f" {'halvex/lspci':>13} {'floor/lspci':>12} {'halvex/floor':>13}")
    for label, make, budgeted in (("typical tree (3 buses)", st.typical, False),
                                  ("large tree (16 full buses)", st.large, True)):
        count, t, p, f = compare(halvex, floor, runs, make)
        verdict = ""
        if budgeted:
            peer_ok, floor_ok = t / p <= PEER_BUDGET, t / f <= FLOOR_BUDGET
            ok &= peer_ok and floor_ok
            verdict = (f"  {PEER_BUDGET}: {'ok' if peer_ok else 'OVER'}, {FLOOR_BUDGET}: "
                       f"{'ok' if floor_ok else 'OVER'}")
        print(f"{label:<28} {count:>7} {t * 1000:>6.2f}ms {p * 1000:>6.2f}ms {f * 1000:>6.2f}ms {t / p:>13.2f}"
              f" {f / p:>12.2f} {t / f:>13.2f}{verdict}")

    # 3 buses, boards of 1, 4 and 2 chips: 2 reads per slot, 1 per board,
    # the bus count before and after each bus, DrvOpen; a readout is 3 + 1;
    # a write 3 + chips, read back after.
    detection = 1 + 2 * 32 * 3 + 3 + (3 + 1)
    print()
    print(f"{'driver calls (simulated)':<40} {'made':>8} {'needed':>8}")
    for what, args, need in (("list, 3 boards", ["list"], detection + 3 * 4),
                             ("set 183, 3 boards (7 chips)", ["set", "183"], detection + (3 * 3 + 7) + 3 * 4),
                             ("set 183 --board 2 (4 chips)", ["set", "183", "--board", "2"], detection + 7 + 4)):
        made = driver_calls(halvex, *args)
        ok &= made == need
        print(f"{what:<40} {made:>8} {need:>8}  {'ok' if made == need else 'EXTRA CALLS'}")
    print()
    print("all budgets met" if ok else "BUDGET EXCEEDED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
