#!/usr/bin/python3
"""The halvex command on Debian's own kernel in a VM, with virtual VSA-100
boards that our test module (vboard.c) puts on virtual PCI root buses beside
the VM's own devices. One boot runs every case (guest.sh, the VM's first
process) and reports each on the second serial port: the command, its exit
status and output, and the module's readback of every board before and after
it (command register, count of configuration writes, every chip's
pllControl read from memory), and each command register as setpci reads it.

tests/vm/prepare.sh readies the kernel, the module and the initramfs in
HALVEX_VM_DIR (default build/vm), and boot.py boots them. HALVEX_COMMAND
names the amd64 command the initramfs must hold."""
import os
import re
import shlex
import sys
import unittest
from dataclasses import dataclass

import boot

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
VM_DIR = os.environ.get("HALVEX_VM_DIR", os.path.join(ROOT, "build", "vm"))
BOOT_TIMEOUT = 300

PLL_166 = 0xE721  # 166 MHz
PLL_183 = 0x4B05  # 183 MHz
PLL_145 = 0x3B05  # 145 MHz


@dataclass
class Board:
    address: str  # as sysfs names it
    entry: str  # the module's board entry
    number: int = 0  # as halvex lists it; 0: not listed
    chips: int = 1
    pll: int = PLL_166  # every chip's initial pllControl
    memory: bool = True  # whether chip registers lie behind it
    refusal: str = ""  # what the message about a refused board says


# Boards 1-3 are usable (1, 2 and 4 chips, on two buses); 4-7 are refused
# for reasons of their own; the last two halvex cannot address. guest.sh runs
# its cases with these numbers.
BOARDS = [
    Board("0000:20:00.0", "0x20:0:0x0001:0x10000000:0xE721", 1, chips=4),
    Board("0000:20:03.0", "0x20:3:0x0004:0x18000008:0x3B05", 2, pll=PLL_145),
    Board("0000:21:00.0", "0x21:0:0x0002:0x1C000000:0x3B05", 3, chips=2, pll=PLL_145),
    Board("0000:21:05.0", "0x21:5:0x0003:0:0xE721:unassigned", 4, chips=2, memory=False,
          refusal="BAR0 is not assigned"),
    Board("0000:22:00.0", "0x22:0:0x0004:0xC001:0xE721:io", 5, memory=False, refusal="BAR0 is not a memory BAR"),
    # Its second chip's word lies past the 32 MiB BAR0, in memory no BAR holds.
    Board("0000:22:01.0", "0x22:1:0x0009:0x24000000:0xE721:small", 6, chips=2,
          refusal="BAR0 (32 MiB) is smaller than the register windows of its 2 chips (64 MiB)"),
    Board("0000:23:00.0", "0x23:0:0x0004:0x20000000:0xE721:held", 7, refusal="the kernel driver vsa100_holder"),
    Board("0001:00:00.0", "0:0:0x0004:0x28000000:0xE721:domain=1"),
    Board("0000:ff:00.0", "0xff:0:0x0004:0x2A000000:0xE721"),
]
USABLE = [b for b in BOARDS if 1 <= b.number <= 3]
REFUSED = [b for b in BOARDS if b.number >= 4]
OUTSIDE = [b for b in BOARDS if not b.number]
HELD = BOARDS[6]
# Too small for its chips, but chip 0 lies inside BAR0: its clock can be read.
SMALL = BOARDS[5]
READABLE = USABLE + [SMALL]
UNREADABLE = [b for b in REFUSED if b is not SMALL]
HALVEX_CASES = ["list", "set-all", "set-board", "list-board", "list-refused", "held", "unprivileged",
                "i386-list", "i386-set", "i386-refused", "lockdown"]

STATE_LINE = re.compile(r"^(\S+) command=0x([0-9a-f]{4}) writes=(\d+) pll=(none|[0-9a-fx,]+)$")


@dataclass
class State:
    command: int
    writes: int
    pll: list


@dataclass
class Case:
    name: str
    status: int = -1
    stdout: str = ""
    stderr: str = ""
    before: dict = None
    after: dict = None
    setpci: dict = None


def parse_state(text):
    state = {}
    for line in text.splitlines():
        match = STATE_LINE.match(line)
        if match:
            address, command, writes, pll = match.groups()
            words = [] if pll == "none" else [int(word, 16) for word in pll.split(",")]
            state[address] = State(int(command, 16), int(writes), words)
    return state


def cases(steps):
    """The cases by name (guest.sh), from the steps each was reported in."""
    found = {}
    for name, (stdout, status) in steps.items():
        if f"{name}.before" not in steps:
            continue
        found[name] = Case(name, status, stdout, steps[f"{name}.stderr"][0],
                           parse_state(steps[f"{name}.before"][0]), parse_state(steps[f"{name}.after"][0]),
                           dict(line.split(" ", 1) for line in steps[f"{name}.setpci"][0].splitlines() if " " in line))
    return found


RUN = {}


def setUpModule():
    """One boot for every test: the VM runs all cases at once."""
    for name in ("vmlinuz", "initramfs.cpio"):
        if not os.path.exists(os.path.join(VM_DIR, name)):
            raise AssertionError(f"{VM_DIR}/{name} is missing: run tests/vm/prepare.sh first")
    shipped = os.environ.get("HALVEX_COMMAND")
    if shipped:
        with open(shipped, "rb") as a, open(os.path.join(VM_DIR, "initramfs", "bin", "halvex"), "rb") as b:
            if a.read() != b.read():
                raise AssertionError(f"the initramfs holds another build than {shipped}: "
                                     "run tests/vm/prepare.sh again")
    boards = ";".join(b.entry for b in BOARDS)
    # The boards' BARs and chip windows lie in RAM kept from the kernel.
    run = boot.boot(VM_DIR, "vm", os.path.join(VM_DIR, "vmlinuz"), os.path.join(VM_DIR, "initramfs.cpio"),
                    f"quiet memmap=512M$0x10000000 vboard.boards={boards}", timeout=BOOT_TIMEOUT)
    RUN["cases"] = cases(run.steps)
    RUN["dmesg"] = run.steps.get("dmesg", ("", 0))[0]
    print(f"\nvm: booted and ran {len(RUN['cases'])} cases in {run.seconds:.1f} s: {shlex.join(run.command)}",
          file=sys.stderr)
    if not run.done:
        raise AssertionError(f"the VM did not finish its cases ({run.seconds:.1f} s); last console lines:\n"
                             + "\n".join(run.console.splitlines()[-30:]))


class Vm(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cases, cls.dmesg = RUN["cases"], RUN["dmesg"]

    def case(self, name):
        if name not in self.cases:
            self.fail(f"case {name} did not run; the cases that did: {', '.join(self.cases)}")
        return self.cases[name]

    def describe(self, case):
        def lines(state):
            return "".join(f"{address} command=0x{s.command:04x} writes={s.writes} pll="
                           f"{','.join(f'0x{word:04x}' for word in s.pll) or 'none'}\n"
                           for address, s in state.items())
        return (f"\ncase {case.name}: exit {case.status}\n--- stdout\n{case.stdout}\n--- stderr\n{case.stderr}\n"
                f"--- before\n{lines(case.before)}--- after\n{lines(case.after)}")

    def assertUntouched(self, case, boards):
        """No write at all: configuration space (the module counts every write),
        command register and every chip's word as they were."""
        for b in boards:
            with self.subTest(case=case.name, board=b.address):
                self.assertEqual(case.after[b.address], case.before[b.address], self.describe(case))

    def assertWritten(self, case, board, word):
        with self.subTest(case=case.name, board=board.address):
            state = case.after[board.address]
            self.assertEqual(state.pll, [word] * board.chips, self.describe(case))
            self.assertEqual(state.command & 0x3, 0x3, self.describe(case))
            self.assertEqual(int(case.setpci[board.address], 16) & 0x3, 0x3, self.describe(case))

    def assertComplains(self, case, board, *parts):
        """A stderr line about `board` holding each of `parts`."""
        prefix = f"halvex: board {board.number} ({board.address}): "
        lines = [line for line in case.stderr.splitlines() if line.startswith(prefix)]
        with self.subTest(case=case.name, board=board.address):
            self.assertTrue(lines, f"no message for board {board.number}" + self.describe(case))
            for part in parts:
                self.assertTrue(any(part in line for line in lines), f"no '{part}'" + self.describe(case))

    def listed(self, case):
        """Board number -> its line on stdout."""
        return {int(line.split()[0]): line for line in case.stdout.splitlines() if line[:1].isdigit()}


class Fixture(Vm):
    def test_the_kernel_sees_exactly_the_boards_beside_its_own_devices(self):
        load = self.case("load")
        self.assertEqual(load.status, 0, self.describe(load) + self.dmesg[-3000:])
        lspci = self.case("lspci")
        self.assertEqual(lspci.status, 0, self.describe(lspci))
        lines = [line.split() for line in lspci.stdout.splitlines()]
        self.assertEqual(sorted(w[0] for w in lines if w[2] == "121a:0009"), sorted(b.address for b in BOARDS))
        self.assertTrue(any(w[2] != "121a:0009" and w[0].startswith("0000:00:") for w in lines),
                        "the VM's own devices are missing" + self.describe(lspci))
        self.assertEqual(set(load.after), {b.address for b in BOARDS})
        for b in BOARDS:
            with self.subTest(board=b.address):
                self.assertEqual(load.after[b.address].pll, [b.pll] * b.chips if b.memory else [])

    def test_bar0_as_the_kernel_holds_it(self):
        resources = self.case("resources")
        bars = {}
        for line in resources.stdout.splitlines():
            address, start, end, flags = line.split()
            bars[address] = (int(start, 16), int(end, 16) - int(start, 16) + 1, int(flags, 16))
        mib = 1 << 20
        memory, io = 0x200, 0x100
        # address: start, size, whether memory
        expected = {
            "0000:20:00.0": (0x10000000, 128 * mib, True),
            "0000:20:03.0": (0x18000000, 32 * mib, True),
            "0000:21:00.0": (0x1C000000, 64 * mib, True),
            "0000:21:05.0": (0, 64 * mib, True),  # unassigned: the kernel keeps only the size
            "0000:22:01.0": (0x24000000, 32 * mib, True),
            "0000:23:00.0": (0x20000000, 32 * mib, True),
        }
        for address, (start, size, is_memory) in expected.items():
            with self.subTest(board=address):
                self.assertEqual(bars[address][:2], (start, size))
                self.assertTrue(bars[address][2] & memory)
        self.assertTrue(bars["0000:22:00.0"][2] & io and not bars["0000:22:00.0"][2] & memory)

    def test_setpci_reads_the_command_register_the_module_holds(self):
        for name, case in self.cases.items():
            for address, state in case.after.items():
                with self.subTest(case=name, board=address):
                    self.assertEqual(int(case.setpci[address], 16), state.command)


class List(Vm):
    def test_list_reads_the_usable_boards_and_touches_no_other(self):
        case = self.case("list")
        self.assertEqual(case.status, 1, self.describe(case))
        listed = self.listed(case)
        for b in READABLE:
            with self.subTest(board=b.address):
                self.assertRegex(listed.get(b.number, ""), rf"^{b.number}\s+{b.address}\s+{b.chips} chips?\s+"
                                 rf"{ {PLL_166: 166, PLL_145: 145}[b.pll]} MHz")
                state = case.after[b.address]
                self.assertEqual(state.pll, case.before[b.address].pll)
                self.assertEqual(state.command & 0x3, 0x3)
        for b in UNREADABLE:
            self.assertComplains(case, b, "cannot read the clock: ", b.refusal)
        self.assertUntouched(case, UNREADABLE + OUTSIDE)

    def test_list_one_board(self):
        case = self.case("list-board")
        self.assertEqual(case.status, 0, self.describe(case))
        self.assertEqual(list(self.listed(case)), [2], self.describe(case))
        self.assertIn("166 MHz", self.listed(case)[2])
        self.assertUntouched(case, [b for b in BOARDS if b.number != 2])

    def test_list_of_a_refused_board_writes_nothing(self):
        case = self.case("list-refused")
        self.assertEqual(case.status, 1, self.describe(case))
        self.assertComplains(case, BOARDS[3], "cannot read the clock: ", BOARDS[3].refusal)
        self.assertUntouched(case, BOARDS)


class Set(Vm):
    def test_set_writes_every_chip_of_the_usable_boards_and_refuses_the_others_whole(self):
        case = self.case("set-all")
        self.assertEqual(case.status, 1, self.describe(case))
        for b in USABLE:
            self.assertWritten(case, b, PLL_183)
            self.assertIn(f"{b.number}  {b.address}", case.stdout)
        for b in REFUSED:
            self.assertComplains(case, b, "refused, nothing written: ", b.refusal)
        self.assertUntouched(case, REFUSED + OUTSIDE)

    def test_set_one_board_leaves_the_others(self):
        case = self.case("set-board")
        self.assertEqual(case.status, 0, self.describe(case))
        self.assertWritten(case, BOARDS[1], PLL_166)
        self.assertUntouched(case, [b for b in BOARDS if b.number != 2])

    def test_a_board_held_by_a_driver_is_refused_by_name(self):
        case = self.case("held")
        self.assertEqual(case.status, 1, self.describe(case))
        self.assertComplains(case, HELD, "refused, nothing written: ", "vsa100_holder")
        self.assertUntouched(case, BOARDS)

    def test_unprivileged_writes_nothing(self):
        case = self.case("unprivileged")
        self.assertEqual(case.status, 1, self.describe(case))
        self.assertIn("(run as root)", case.stderr)
        self.assertUntouched(case, BOARDS)

    def test_locked_down_kernel_gets_no_write(self):
        raised = self.case("lockdown-raise")
        self.assertEqual(raised.status, 0, self.describe(raised))
        case = self.case("lockdown")
        self.assertEqual(case.status, 1, self.describe(case))
        self.assertIn("locked down", case.stderr)
        self.assertUntouched(case, BOARDS)


class Module(Vm):
    def test_a_suspend_puts_the_initial_words_back_when_asked(self):
        case = self.case("suspend")
        self.assertEqual(case.status, 0, self.describe(case))
        self.assertNotEqual([case.before[b.address].pll for b in USABLE], [[b.pll] * b.chips for b in USABLE],
                            "the boards were already at their initial words" + self.describe(case))
        for b in BOARDS:
            with self.subTest(board=b.address):
                self.assertEqual(case.after[b.address].pll, [b.pll] * b.chips if b.memory else [])


    def test_unloading_takes_the_boards_away_cleanly(self):
        case = self.case("unload")
        self.assertEqual(case.status, 0, self.describe(case))
        for trouble in ("Call Trace", "BUG:"):
            self.assertNotIn(trouble, self.dmesg)


class Outside(Vm):
    def test_boards_halvex_cannot_address_are_named_and_not_listed(self):
        for name in HALVEX_CASES:
            case = self.case(name)
            for b in OUTSIDE:
                with self.subTest(case=name, board=b.address):
                    warnings = [line for line in case.stderr.splitlines()
                                if line.startswith(f"halvex: warning: {b.address}: ")]
                    self.assertEqual(len(warnings), 1, self.describe(case))
                    self.assertIn("halvex cannot address", warnings[0])
                    self.assertNotIn(b.address, case.stdout)
                    self.assertUntouched(case, [b])


class I386(Vm):
    def test_list_and_set_with_the_i386_build(self):
        listing = self.case("i386-list")
        self.assertEqual(listing.status, 1, self.describe(listing))
        listed = self.listed(listing)
        for b in READABLE:
            self.assertRegex(listed.get(b.number, ""), rf"^{b.number}\s+{b.address}\s+{b.chips} chips?\s+\d+ MHz")
        self.assertUntouched(listing, UNREADABLE + OUTSIDE)

        case = self.case("i386-set")
        self.assertEqual(case.status, 1, self.describe(case))
        for b in USABLE:
            self.assertWritten(case, b, PLL_166)
        for b in REFUSED:
            self.assertComplains(case, b, "refused, nothing written: ")
        self.assertUntouched(case, REFUSED + OUTSIDE)

    def test_a_refusal_with_the_i386_build(self):
        case = self.case("i386-refused")
        self.assertEqual(case.status, 1, self.describe(case))
        self.assertComplains(case, BOARDS[4], "refused, nothing written: ")
        self.assertUntouched(case, BOARDS)


if __name__ == "__main__":
    unittest.main()
