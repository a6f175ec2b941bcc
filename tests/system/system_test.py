"""The halvex package in a booting Debian 12 system with virtual VSA-100 boards.

Each test class boots the system once (machine.py) with the package
installed by dpkg and the boards' module loaded before systemd starts, runs
its steps in the guest and checks what they reported: the service's state and
journal, and every chip's pllControl, command register and count of
configuration writes as the virtual board itself reports them.

Run by ctest in the whole run (tests/system/CMakeLists.txt) after the
set-ups it needs; the environment names the kernel, the module, the root
file system, the packages and a work folder.
"""

import os
import re
import unittest

from machine import Machine

# Three boards, one of each chip count, on buses of their own, each BAR0 in
# the RAM the kernel is told to leave alone; every chip starts with a word
# that is no clock the tests set.
BOARDS = [
    # bus, subsystem (chips), BAR0, initial pllControl
    (0x10, 0x0004, 0x1C000000, 0x3B05),  # board 1: 1 chip
    (0x11, 0x0002, 0x18000000, 0x2805),  # board 2: 2 chips
    (0x12, 0x0001, 0x10000000, 0x3B05),  # board 3: 4 chips
]
CHIPS = [1, 2, 4]
ADDRESSES = [f"0000:{bus:02x}:00.0" for bus, _, _, _ in BOARDS]
MODULE_PARAMS = [
    "boards=" + ";".join(f"{bus:#x}:0:{sub:#06x}:{bar:#010x}:{pll:#06x}" for bus, sub, bar, pll in BOARDS),
    "reset_on_suspend=1",
]
INITIAL = {address: [pll] * chips for address, (_, _, _, pll), chips in zip(ADDRESSES, BOARDS, CHIPS)}

# pllControl words of the clock table, as the board code programs them.
TABLE = {166: 0xE721, 183: 0x4B05, 200: 0x5205}

# The command register bits the command sets before writing a chip.
IO_AND_MEMORY = 0x3

BOARD_STATE = "step {name} cat /sys/kernel/debug/vboard\n"


def board_state(text):
    """{address: (command, writes, [pll words])} from the module's readback."""
    state = {}
    for line in text.splitlines():
        match = re.match(r"(\S+) command=(0x[0-9a-f]+) writes=(\d+) pll=(\S+)$", line)
        if match:
            address, command, writes, words = match.groups()
            state[address] = (int(command, 16), int(writes), [int(w, 16) for w in words.split(",")])
    return state


def hexes(words):
    """pllControl words as they are written in these tests, for messages."""
    return [f"{w:#06x}" for w in words]


def machine(arch):
    """The system of architecture `arch` (amd64, i386) as the set-ups readied it."""
    # The links the set-ups keep to the current kernel, module and root,
    # followed: an installed root is kept per root it was made from.
    env = {name: os.path.realpath(os.environ[f"HALVEX_SYSTEM_{name}_{arch.upper()}"])
           for name in ("KERNEL", "ROOT", "MODULE")}
    return Machine(os.environ["HALVEX_SYSTEM_WORK"], env["KERNEL"], env["ROOT"], env["MODULE"],
                   qemu="qemu-system-x86_64" if arch == "amd64" else "qemu-system-i386")


class SystemCase(unittest.TestCase):
    """Boots once for the class: the system and package of architecture
    `ARCH`, the settings file `SETTINGS` (None: the package's own), then
    `STEPS`."""
    ARCH = "amd64"
    SETTINGS = None
    STEPS = ""

    @classmethod
    def setUpClass(cls):
        m = machine(cls.ARCH)
        image, _ = m.installed(os.environ[f"HALVEX_SYSTEM_DEB_{cls.ARCH.upper()}"])
        files = {} if cls.SETTINGS is None else {"/etc/default/halvex": cls.SETTINGS}
        steps = ("step state-at-load cat /systest/state-at-load\n" + BOARD_STATE.format(name="state") +
                 "step active systemctl is-active halvex\nstep journal run_journal halvex\n" + cls.STEPS)
        cls.boot = m.boot(cls.__name__, image, steps, files=files, module_params=MODULE_PARAMS)
        if not cls.boot.done:
            raise AssertionError(f"the guest did not finish its steps in {cls.boot.seconds:.0f} s; "
                                 f"steps reported: {list(cls.boot.steps)}; console ends:\n{cls.boot.console[-3000:]}")
        print(f"\n{cls.__name__}: boot and steps {cls.boot.seconds:.1f} s", flush=True)

    def state(self, step="state"):
        state = board_state(self.boot.output(step))
        self.assertEqual(sorted(state), ADDRESSES, f"the module's readback:\n{self.boot.output(step)}")
        return state

    def assert_nothing_written(self, step):
        at_load = self.state("state-at-load")
        for address, (command, writes, words) in self.state(step).items():
            with self.subTest(board=address):
                self.assertEqual((command, writes), at_load[address][:2], "command register, configuration writes")
                self.assertEqual(hexes(words), hexes(INITIAL[address]))

    def assert_written(self, step, mhz, boards):
        """Boards numbered in `boards` hold the table word for `mhz` in every
        chip, with I/O and memory decoding on; the others are untouched."""
        at_load = self.state("state-at-load")
        for number, address in enumerate(ADDRESSES, start=1):
            command, writes, words = self.state(step)[address]
            with self.subTest(board=number):
                if number in boards:
                    self.assertEqual(hexes(words), hexes([TABLE[mhz]] * CHIPS[number - 1]))
                    self.assertEqual(command & IO_AND_MEMORY, IO_AND_MEMORY)
                    self.assertGreater(writes, at_load[address][1], "configuration writes")
                else:
                    self.assertEqual((command, writes), at_load[address][:2], "command register, configuration writes")
                    self.assertEqual(hexes(words), hexes(INITIAL[address]))

    def assert_active(self):
        self.assertEqual(self.boot.steps["active"], ("active", 0))

    def assert_purged(self):
        before = self.boot.output("files-installed").split()
        # The find sees what the package put in place, enablement included.
        self.assertIn("/etc/default/halvex", before)
        self.assertIn("/etc/systemd/system/multi-user.target.wants/halvex.service", before)
        self.assertIn("/etc/systemd/system/sleep.target.wants/halvex-resume.service", before)
        self.assertIn("/usr/bin/halvex", before)
        self.assertEqual(self.boot.status("purge"), 0, self.boot.output("purge"))
        self.assertEqual(self.boot.output("files-purged"), "", "left behind after dpkg --purge")
        self.assertNotEqual(self.boot.status("dpkg-status"), 0, self.boot.output("dpkg-status"))
        self.assertNotEqual(self.boot.status("unit-purged"), 0, self.boot.output("unit-purged"))


PURGE_STEPS = f"""
step files-installed package_files
step purge dpkg --purge halvex
step files-purged package_files
step dpkg-status dpkg-query -W -f '${{Status}}' halvex
step unit-purged systemctl cat halvex.service halvex-resume.service
"""


class NoClockThenBadSettings(SystemCase):
    """As installed: no clock configured. Then bad settings, each a restart
    of the unit in the same boot."""
    BAD = {
        "clock-out-of-range": ("CLOCK=300\n", "CLOCK is not a clock from 50 to 220 MHz: '300'"),
        "clock-not-a-number": ("CLOCK=fast\n", "CLOCK is not a clock from 50 to 220 MHz: 'fast'"),
        "board-not-a-number": ("CLOCK=183\nBOARD=two\n", "BOARD is not a board number: 'two'"),
        "board-not-present": ("CLOCK=183\nBOARD=4\n", "no board 4: 3 found"),
    }
    STEPS = "".join(f"""
printf '{settings}' >/etc/default/halvex
step {name}-restart systemctl restart halvex
step {name}-failed systemctl is-failed halvex
step {name}-journal run_journal halvex
""" + BOARD_STATE.format(name=f"{name}-state") for name, (settings, _) in BAD.items())

    def test_unit_active_nothing_written(self):
        self.assert_active()
        self.assert_nothing_written("state")

    def test_journal_says_no_clock(self):
        journal = self.boot.output("journal")
        self.assertIn("halvex: no clock set", journal)
        self.assertIn("nothing written", journal)

    def test_bad_settings_fail_the_unit_and_write_nothing(self):
        for name, (_, message) in self.BAD.items():
            with self.subTest(name):
                self.assertNotEqual(self.boot.status(f"{name}-restart"), 0)
                self.assertEqual(self.boot.output(f"{name}-failed"), "failed")
                journal = self.boot.output(f"{name}-journal")
                self.assertIn(message, journal)
                self.assertIn("Failed with result 'exit-code'", journal)
                self.assert_nothing_written(f"{name}-state")


class ClockOnEveryBoardThenResumeAndPurge(SystemCase):
    """CLOCK=183 (MHZ): every chip of every board at boot. Then two suspend
    cycles, the first with the resume unit masked (the boards lose their
    clock: the virtual boards do that on suspend), the second without (the
    clock is back). Then the package purged."""
    MHZ = 183
    SETTINGS = f"CLOCK={MHZ}\n"
    STEPS = f"""
step mem-sleep cat /sys/power/mem_sleep
step mask systemctl mask --runtime halvex-resume.service
step suspend-masked suspend_cycle
{BOARD_STATE.format(name="state-masked")}
step unmask systemctl unmask --runtime halvex-resume.service
step suspend suspend_cycle
{BOARD_STATE.format(name="state-resumed")}
step resume-journal journalctl --no-pager -o cat -b -u halvex-resume.service
{PURGE_STEPS}
"""

    def test_every_chip_holds_the_clock(self):
        self.assert_active()
        self.assert_written("state", self.MHZ, {1, 2, 3})
        self.assertIn("0000:12:00.0", self.boot.output("journal"))

    def test_clock_restored_after_resume(self):
        self.assertIn("[deep]", self.boot.output("mem-sleep"))
        for step in ("suspend-masked", "suspend"):
            with self.subTest(step):
                self.assertEqual(self.boot.status(step), 0, self.boot.output(step))
        # Without the resume unit the boards come back with their first words.
        masked = self.state("state-masked")
        for address in ADDRESSES:
            self.assertEqual(hexes(masked[address][2]), hexes(INITIAL[address]))
        self.assert_written("state-resumed", self.MHZ, {1, 2, 3})
        # Only the second resume ran it.
        self.assertEqual(self.boot.output("resume-journal").count("0000:12:00.0"), 1, self.boot.output("resume-journal"))

    def test_purge_leaves_nothing(self):
        self.assert_purged()


class ClockOnBoardTwo(SystemCase):
    """CLOCK=200 with BOARD=2: board 2's chips only."""
    SETTINGS = "CLOCK=200\nBOARD=2\n"

    def test_only_board_two_holds_the_clock(self):
        self.assert_active()
        self.assert_written("state", 200, {2})


class I386System(ClockOnEveryBoardThenResumeAndPurge):
    """The same in the i386 system (Debian's 686-pae kernel, i386 user space)
    with the i386 package, and CLOCK=166."""
    ARCH = "i386"
    MHZ = 166
    SETTINGS = f"CLOCK={MHZ}\n"
    STEPS = "step uname uname -m\nstep elf-class od -An -tx1 -j4 -N1 /usr/bin/halvex\n" + \
        ClockOnEveryBoardThenResumeAndPurge.STEPS

    def test_a_32_bit_system(self):
        self.assertEqual(self.boot.steps["uname"], ("i686", 0))
        self.assertEqual(self.boot.steps["elf-class"], (" 01", 0), "a 32-bit program")


if __name__ == "__main__":
    unittest.main()
