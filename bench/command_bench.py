#!/usr/bin/python3
"""The Linux command's costs against its peer, in one run: `halvex list` and
lspci filtered to VSA-100 boards on the same fabricated sysfs trees (started
in turn, median wall time of RUNS starts each), and the driver calls of
`list` and `set` on simulated boards against what the work needs. Exits
non-zero when a budget is exceeded.

usage: command_bench.py HALVEX RUNS"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "linux"))
import sysfs_tree as st  # noqa: E402

TIME_BUDGET = 0.4
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


def compare(halvex, runs, make, label):
    with tempfile.TemporaryDirectory() as root:
        _, devices = make(root)
        ours = [halvex, "--sysfs", root, "list"]
        peer = ["lspci", "-n", "-d", "121a:0009", "-A", "linux-sysfs", "-O", f"sysfs.path={root}"]
        for argv in (ours, peer):  # warm the page cache
            wall(argv)
        times = {"ours": [], "peer": []}
        for _ in range(runs):
            times["ours"].append(wall(ours))
            times["peer"].append(wall(peer))
        t, p = statistics.median(times["ours"]), statistics.median(times["peer"])
        return label, len(devices), t, p


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
    halvex, runs = sys.argv[1], int(sys.argv[2])
    ok = True
    print(f"{'halvex list vs lspci -d 121a:0009':<40} {'devices':>8} {'halvex':>10} {'lspci':>10} {'ratio':>7}"
          f" {'budget':>7}")
    for label, make in (("typical tree (3 buses)", st.typical), ("large tree (16 full buses)", st.large)):
        label, count, t, p = compare(halvex, runs, make, label)
        passed = t / p <= TIME_BUDGET
        ok &= passed
        print(f"{label:<40} {count:>8} {t * 1000:>8.2f}ms {p * 1000:>8.2f}ms {t / p:>7.2f} {TIME_BUDGET:>7}"
              f"  {'ok' if passed else 'OVER BUDGET'}")

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
