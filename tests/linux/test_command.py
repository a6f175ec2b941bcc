#!/usr/bin/python3
"""The halvex command on fabricated sysfs trees, each first checked with
pciutils' lspci (it must list the same devices), the command register read
back with setpci and every chip's word straight from its BAR file.

HALVEX_COMMAND: how to run the command under test (words split as a shell
would), e.g. a path, or an emulator and a path."""
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sysfs_tree as st  # noqa: E402

COMMAND = shlex.split(os.environ.get("HALVEX_COMMAND", "halvex"))
HERE = os.path.dirname(os.path.abspath(__file__))
COMPLETION = os.path.join(HERE, "..", "..", "linux", "debian", "halvex.bash-completion")
BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"
AS_NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
USAGE = "Usage: halvex"


def run(*args, env=None, prefix=()):
    """env: variables to set over this process's own; None unsets one."""
    full = {k: v for k, v in dict(os.environ, **(env or {})).items() if v is not None}
    done = subprocess.run([*prefix, *COMMAND, *args], capture_output=True, text=True, env=full, timeout=120)
    return done.returncode, done.stdout, done.stderr


class Tree(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="halvex-sysfs-")
        os.chmod(self.root, 0o755)  # readable by the unprivileged run too
        self.addCleanup(shutil.rmtree, self.root)

    def make(self, devices):
        """Writes the tree and checks that lspci sees exactly these devices."""
        st.write_tree(self.root, devices)
        listed = subprocess.run(["lspci", "-A", "linux-sysfs", "-O", f"sysfs.path={self.root}", "-nD"],
                                capture_output=True, text=True, check=True)
        self.assertEqual(listed.stderr, "")
        seen = {(line.split()[0], line.split()[2]) for line in listed.stdout.splitlines()}
        self.assertEqual(seen, {(d.name, f"{d.vendor:04x}:{d.device:04x}") for d in devices})
        self.devices = devices
        return devices

    def halvex(self, *args, **kw):
        return run("--sysfs", self.root, *args, **kw)

    def command_register(self, device):
        done = subprocess.run(["setpci", "-A", "linux-sysfs", "-O", f"sysfs.path={self.root}",
                               "-s", f"{device.bus:02x}:{device.slot:02x}.{device.function}", "COMMAND"],
                              capture_output=True, text=True, check=True)
        return int(done.stdout, 16)

    def chips(self, board):
        return [st.read_chip(self.root, board, chip) for chip in range(st.chips_for(board.subsystem))]

    def snapshot(self):
        """Every config file, and every word a chip's pllControl could be in."""
        state = {}
        for d in self.devices:
            folder = os.path.join(self.root, "devices", d.name)
            config = os.path.join(folder, "config")
            if os.path.isfile(config):
                with open(config, "rb") as f:
                    state[d.name] = f.read()
            for index, start, size, flags in d.bars:
                path = os.path.join(folder, f"resource{index}")
                if os.path.isfile(path):
                    state[path] = [st.read_chip(self.root, d, c) for c in range(min(size, os.path.getsize(path))
                                                                              // st.CHIP_WINDOW)] \
                        if index == 0 else None
        return state


class ListAndSet(Tree):
    def boards(self):
        # 1, 2 and 4 chips on three buses; BAR0 flag bits on two of them.
        return [
            st.Device(0, 0, 0x8086, 0x7190, cls=0x060000),
            st.Device(0, 3, 0x121A, 0x0005, bars=[(0, 0xF0000000, 32 * st.MIB, st.MEM)]),  # another 3dfx chip
            st.vsa100(0, 9, subsystem=0x0004, bar0=0xE4000000, pll=0xE721),
            st.Device(1, 0, 0x10DE, 0x0009, bars=[(0, 0xE8000000, 16 * st.MIB, st.MEM)]),  # another vendor's 0x0009
            st.vsa100(1, 2, subsystem=0x0009, bar0=0xD8000000, pll=0x3B05, prefetch=False),
            st.vsa100(3, 1, subsystem=0x0001, bar0=0xC0000000, pll=0x4405),
        ]

    def test_list_shows_every_board_in_bus_order(self):
        self.make(self.boards())
        code, out, err = self.halvex("list")
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(out.splitlines(), [
            "1  0000:00:09.0  1 chip  166 MHz  (166.81 MHz)",
            "2  0000:01:02.0  2 chips  145 MHz  (145.57 MHz)",
            "3  0000:03:01.0  4 chips  167 MHz  (167.05 MHz)",
        ])
        self.assertEqual(run("--sysfs", self.root)[1], out)  # list is the default
        self.assertEqual(self.halvex("list", "--board", "2")[1], out.splitlines(True)[1])

    def test_set_writes_every_chip_of_every_board(self):
        devices = self.make(self.boards())
        others = [self.snapshot()[d.name] for d in devices if not hasattr(d, "pll")]
        code, out, err = self.halvex("set", "183")
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(out.splitlines(), [
            "1  0000:00:09.0  1 chip  183 MHz  (183.75 MHz)",
            "2  0000:01:02.0  2 chips  183 MHz  (183.75 MHz)",
            "3  0000:03:01.0  4 chips  183 MHz  (183.75 MHz)",
        ])
        for board in (d for d in devices if hasattr(d, "pll")):
            self.assertEqual(self.chips(board), [0x4B05] * st.chips_for(board.subsystem), board.name)
            self.assertEqual(self.command_register(board), 0x0003, board.name)  # decoding on
        self.assertEqual([self.snapshot()[d.name] for d in devices if not hasattr(d, "pll")], others)

    def test_set_one_board_leaves_the_others_alone(self):
        devices = self.make(self.boards())
        before = self.snapshot()
        code, out, err = self.halvex("set", "166", "-b", "3")
        self.assertEqual((code, out, err), (0, "3  0000:03:01.0  4 chips  166 MHz  (166.81 MHz)\n", ""))
        after = self.snapshot()
        board = devices[5]
        self.assertEqual(self.chips(board), [0xE721] * 4)
        self.assertEqual([k for k in before if before[k] != after[k]],
                         [board.name, os.path.join(self.root, "devices", board.name, "resource0")])

    def test_no_board_found(self):
        self.make([st.Device(0, 0, 0x8086, 0x7190), st.Device(0, 1, 0x121A, 0x0003)])
        self.assertEqual(self.halvex("list"), (2, "", "halvex: no VSA-100 board found\n"))
        self.assertEqual(self.halvex("set", "183")[0], 2)

    def test_missing_tree(self):
        missing = os.path.join(self.root, "nothing")
        self.assertEqual(run("--sysfs", missing, "list"),
                         (1, "", f"halvex: cannot list {missing}/devices: No such file or directory\n"))


class Refusals(Tree):
    def test_unsafe_boards_are_refused_whole(self):
        # The reason, the board, and whether its chip 0 can still be read.
        cases = [
            ("BAR0 is not assigned", st.vsa100(0, 1, bar0=0), False),
            ("BAR0 is not a memory BAR", st.Device(0, 1, 0x121A, 0x0009, subsystem=0x0002,
                                                   bars=[(0, 0xE000, 0x100, st.IO)]), False),
            # 4 chips in a 64 MiB BAR with another board's BAR right behind it.
            ("BAR0 (64 MiB) is smaller than the register windows of its 4 chips (128 MiB)",
             st.vsa100(0, 1, subsystem=0x0001, bar0=0xD0000000, bar0_size=64 * st.MIB), True),
            ("its chips' register windows lie past 4 GiB",
             st.vsa100(0, 1, subsystem=0x0001, bar0=0xFC000000, pll=0x3B05), True),
        ]
        for reason, unsafe, readable in cases:
            with self.subTest(reason):
                self.setUp()
                good = st.vsa100(0, 2, subsystem=0x0002, bar0=0xD4000000, pll=0x3B05)
                self.make([unsafe, good])
                before = self.snapshot()
                code, out, err = self.halvex("set", "183")
                self.assertEqual(code, 1)
                self.assertEqual(err, f"halvex: board 1 (0000:00:01.0): refused, nothing written: {reason}\n")
                self.assertEqual(out, "2  0000:00:02.0  2 chips  183 MHz  (183.75 MHz)\n")
                after = self.snapshot()
                self.assertEqual([k for k in before if k.startswith(os.path.join(self.root, "devices", unsafe.name))
                                  and before[k] != after[k]], [])
                self.assertEqual(after[unsafe.name], before[unsafe.name])
                self.assertEqual(self.chips(good), [0x4B05, 0x4B05])
                code, out, err = self.halvex("list")
                self.assertEqual(code, 0 if readable else 1)
                first = out.splitlines()[0]
                self.assertEqual(first.endswith("MHz)"), readable, first)
                if not readable:
                    self.assertTrue(first.endswith(f"cannot read the clock: {reason}"), first)
                    self.assertEqual(self.snapshot()[unsafe.name], before[unsafe.name])  # not even decoding

    def test_board_outside_domain_0_or_on_bus_255_is_warned_about(self):
        self.make([st.vsa100(0, 1), st.vsa100(0, 2, domain=1), st.vsa100(0xFF, 0, bar0=0xC0000000)])
        code, out, err = self.halvex("list")
        self.assertEqual((code, out), (0, "1  0000:00:01.0  1 chip  166 MHz  (166.81 MHz)\n"))
        self.assertEqual(err.splitlines(), [
            "halvex: warning: 0000:ff:00.0: a VSA-100 board on bus ff, which halvex cannot address (it reaches"
            " boards in domain 0000 on buses 00 to fe); skipped",
            "halvex: warning: 0001:00:02.0: a VSA-100 board outside PCI domain 0000, which halvex cannot address"
            " (it reaches boards in domain 0000 on buses 00 to fe); skipped",
        ])

    def test_bad_command_lines_write_nothing(self):
        self.make([st.vsa100(0, 1, subsystem=0x0002), st.vsa100(1, 1)])
        before = self.snapshot()
        cases = [
            (["set"], "set needs a clock in MHz"),
            (["set", "183x"], "not a clock from 50 to 220 MHz: '183x'"),
            (["set", "49"], "not a clock from 50 to 220 MHz: '49'"),
            (["set", "221"], "not a clock from 50 to 220 MHz: '221'"),
            (["set", "-1"], "not a clock from 50 to 220 MHz: '-1'"),
            (["set", "4294967479"], "not a clock from 50 to 220 MHz: '4294967479'"),
            (["set", "183", "--board", "3"], "no board 3: 2 found"),
            (["set", "183", "--board", "0"], "not a board number: '0'"),
            (["set", "183", "--board"], "not a board number: ''"),
            (["set", "183", "--board=1", "-b", "2"], "--board given twice"),
            (["set", "183", "184"], "unexpected '184'"),
            (["list", "extra"], "unexpected 'extra'"),
            (["--bogus"], "unknown option '--bogus'"),
            (["--simulate", "set", "183"], "--sysfs and --simulate exclude each other"),
        ]
        for args, problem in cases:
            with self.subTest(args):
                code, out, err = self.halvex(*args)
                self.assertEqual((code, out), (64, ""))
                self.assertEqual(err.splitlines()[0], f"halvex: {problem}")
                self.assertIn(USAGE, err)
                self.assertEqual(self.snapshot(), before)

    @unittest.skipUnless(os.geteuid() == 0, "needs root to run a command as nobody")
    def test_unprivileged_run_is_told_to_run_as_root(self):
        if run("--version", prefix=AS_NOBODY)[0] != 0:
            self.skipTest(f"user nobody cannot run {' '.join(COMMAND)} (a folder above it is private)")
        board = self.make([st.vsa100(1, 0, subsystem=0x0002, pll=0x3B05)])[0]
        before = self.snapshot()
        code, out, err = self.halvex("set", "183", prefix=AS_NOBODY)
        config = f"{self.root}/devices/0000:01:00.0/config"
        self.assertEqual((code, out), (1, ""))
        self.assertEqual(err, f"halvex: board 1 (0000:01:00.0): refused, nothing written: cannot write {config}:"
                              " Permission denied (run as root)\n")
        self.assertEqual(self.snapshot(), before)
        self.assertEqual(self.command_register(board), 0)
        code, out, err = self.halvex("list", prefix=AS_NOBODY)
        self.assertEqual((code, out), (1, f"1  0000:01:00.0  2 chips  cannot read the clock: cannot write {config}:"
                                          " Permission denied (run as root)\n"))
        self.assertEqual(self.snapshot(), before)


class DamagedTrees(Tree):
    """Trees a healthy kernel never shows, as --sysfs lets them come from
    anywhere: every run ends with a message naming the file and the reason,
    and a board found wanting gets no write at all."""

    def damage(self, board, name, how):
        path = os.path.join(self.root, "devices", board.name, name)
        if how == "short":
            os.truncate(path, 4096)
        elif how in ("directory", "fifo"):
            os.remove(path)
            os.mkdir(path) if how == "directory" else os.mkfifo(path)
        elif how.startswith("/dev/"):
            os.remove(path)
            os.symlink(how, path)  # a device node where sysfs has a regular file
        else:
            with open(path, "w") as f:
                f.write(how)
        return path

    def test_a_damaged_board_is_refused_and_the_others_written(self):
        cases = [
            ("resource0", "short", "cannot map {path}: the file holds 4096 bytes, fewer than its BAR's 67108864"),
            ("resource0", "directory", "cannot open {path}: Is a directory"),
            ("resource0", "fifo", "cannot map {path}: not a regular file"),
            ("resource0", "/dev/zero", "cannot map {path}: not a regular file"),
            ("resource", "directory", "cannot read {path}: Is a directory"),
            ("resource", "", "cannot read the BARs from {path}: line 1 (BAR0) is missing"),
            ("resource", "0x00000000e0000000 0x00000000e3ffffff 0x0000000000000200\n",
             "cannot read the BARs from {path}: line 2 (BAR1) is missing"),
            ("resource", "0xe0000000 0xe3ffffff\n" + "0x0 0x0 0x0\n" * 5,
             'cannot read the BARs from {path}: line 1 is not three hexadecimal numbers "0xSTART 0xEND 0xFLAGS"'),
            ("resource", "  0xe0000000 0xe3ffffff 0x200\n" + "0x0 0x0 0x0\n" * 5,
             'cannot read the BARs from {path}: line 1 is not three hexadecimal numbers "0xSTART 0xEND 0xFLAGS"'),
        ]
        for name, how, reason in cases:
            with self.subTest(name=name, how=how):
                self.setUp()
                damaged = st.vsa100(0, 1, subsystem=0x0002)
                good = st.vsa100(0, 2, bar0=0xD4000000, pll=0x3B05)
                self.make([damaged, good])
                path = self.damage(damaged, name, how)
                before = self.snapshot()
                code, out, err = self.halvex("set", "183")
                self.assertEqual((code, out), (1, "2  0000:00:02.0  1 chip  183 MHz  (183.75 MHz)\n"))
                self.assertEqual(err, "halvex: board 1 (0000:00:01.0): refused, nothing written: "
                                      + reason.format(path=path) + "\n")
                after = self.snapshot()
                self.assertEqual(after[damaged.name], before[damaged.name])
                if how != "short" and os.path.isfile(os.path.join(os.path.dirname(path), "resource0")):
                    self.assertEqual(self.chips(damaged), [0xE721] * 2)
                self.assertEqual(self.chips(good), [0x4B05])

    def test_boards_whose_bars_overlap_are_both_refused(self):
        first, second = st.vsa100(0, 9), st.vsa100(2, 20, subsystem=0x0002, bar0=0xE0000000)
        self.make([first, second, st.vsa100(1, 0, bar0=0xD0000000, pll=0x3B05)])
        before = self.snapshot()
        code, out, err = self.halvex("set", "183")
        self.assertEqual((code, out), (1, "2  0000:01:00.0  1 chip  183 MHz  (183.75 MHz)\n"))
        self.assertEqual(err.splitlines(), [
            "halvex: board 1 (0000:00:09.0): refused, nothing written: BAR0 overlaps BAR0 of another VSA-100 board,"
            " 0000:02:14.0",
            "halvex: board 3 (0000:02:14.0): refused, nothing written: BAR0 overlaps BAR0 of another VSA-100 board,"
            " 0000:00:09.0",
        ])
        after = self.snapshot()
        for board in (first, second):
            self.assertEqual(after[board.name], before[board.name])
            self.assertEqual(self.chips(board), [0xE721] * st.chips_for(board.subsystem))

    def test_another_devices_unreadable_config_is_not_the_boards(self):
        board = st.vsa100(0, 9)
        other = st.Device(0, 7, 0x8086, 0x7111, function=1)
        self.make([st.Device(0, 7, 0x8086, 0x7110), other, board])
        self.damage(other, "config", "directory")
        self.assertEqual(self.halvex("set", "183"), (0, "1  0000:00:09.0  1 chip  183 MHz  (183.75 MHz)\n", ""))

    def test_a_board_whose_config_cannot_be_read_ends_the_run(self):
        for how in ("fifo", "/dev/zero"):
            with self.subTest(how):
                self.setUp()
                board = st.vsa100(0, 9)
                self.make([board, st.vsa100(0, 10)])
                path = self.damage(board, "config", how)
                before = self.snapshot()
                self.assertEqual(self.halvex("set", "183"), (1, "", f"halvex: cannot read {path}: not a regular file\n"))
                self.assertEqual(self.snapshot(), before)
                self.assertEqual(self.chips(board), [0xE721])

    def test_names_the_kernel_does_not_make_are_not_devices(self):
        self.make([st.vsa100(0, 9)])
        devices = os.path.join(self.root, "devices")
        for name in ("0000:00:0A.0", "00000:00:0a.0", "0000:0:0a.0", "0000:00:0a.0x", "0000:00:20.0", "0000:00:0a.8"):
            shutil.copytree(os.path.join(devices, "0000:00:09.0"), os.path.join(devices, name))
        self.assertEqual(self.halvex("list"), (0, "1  0000:00:09.0  1 chip  166 MHz  (166.81 MHz)\n", ""))


class Apply(Tree):
    """`apply`, as halvex.service runs it: CLOCK and BOARD come from
    /etc/default/halvex through the environment systemd hands over."""
    NOT_SET = "halvex: no clock set (CLOCK is empty or unset), nothing written\n"

    def apply(self, settings, *args):
        return self.halvex("apply", *args, env=dict({"CLOCK": None, "BOARD": None}, **settings))

    def boards(self):
        return self.make([st.vsa100(0, 1, subsystem=0x0002, pll=0x3B05), st.Device(0, 2, 0x8086, 0x7190),
                          st.vsa100(1, 1, bar0=0xD0000000), st.vsa100(2, 0, subsystem=0x0001, bar0=0xC0000000)])

    def test_no_clock_writes_nothing(self):
        self.boards()
        before = self.snapshot()
        for settings in ({}, {"CLOCK": ""}, {"CLOCK": "", "BOARD": "2"}, {"BOARD": "9"}):
            with self.subTest(settings):
                self.assertEqual(self.apply(settings), (0, self.NOT_SET, ""))
                self.assertEqual(self.snapshot(), before)

    def test_writes_the_clock_into_the_boards_asked_for(self):
        line = {1: "1  0000:00:01.0  2 chips  183 MHz  (183.75 MHz)", 2: "2  0000:01:01.0  1 chip  183 MHz  (183.75 MHz)",
                3: "3  0000:02:00.0  4 chips  183 MHz  (183.75 MHz)"}
        cases = [({"CLOCK": "183"}, (), [1, 2, 3]),
                 ({"CLOCK": "183", "BOARD": ""}, (), [1, 2, 3]),
                 ({"CLOCK": "183", "BOARD": "2"}, (), [2]),
                 ({"CLOCK": "183", "BOARD": "1"}, ("--board", "3"), [3])]  # the command line wins
        for settings, args, written in cases:
            with self.subTest(settings=settings, args=args):
                self.setUp()
                devices = self.boards()
                boards = [d for d in devices if hasattr(d, "pll")]
                before = [self.chips(b) for b in boards]
                code, out, err = self.apply(settings, *args)
                self.assertEqual((code, err), (0, ""))
                self.assertEqual(out.splitlines(), [line[n] for n in written])
                for number, board in enumerate(boards, 1):
                    expected = [0x4B05] * st.chips_for(board.subsystem) if number in written else before[number - 1]
                    self.assertEqual(self.chips(board), expected, board.name)

    def test_refused_board_fails_and_the_others_are_written(self):
        good = st.vsa100(0, 2, subsystem=0x0002, bar0=0xD4000000, pll=0x3B05)
        self.make([st.vsa100(0, 1, bar0=0), good])
        code, out, err = self.apply({"CLOCK": "183"})
        self.assertEqual((code, out), (1, "2  0000:00:02.0  2 chips  183 MHz  (183.75 MHz)\n"))
        self.assertEqual(err, "halvex: board 1 (0000:00:01.0): refused, nothing written: BAR0 is not assigned\n")
        self.assertEqual(self.chips(good), [0x4B05, 0x4B05])

    def test_bad_settings_write_nothing(self):
        self.boards()
        before = self.snapshot()
        cases = [
            ({"CLOCK": "fast"}, "CLOCK is not a clock from 50 to 220 MHz: 'fast'"),
            ({"CLOCK": "49"}, "CLOCK is not a clock from 50 to 220 MHz: '49'"),
            ({"CLOCK": "221"}, "CLOCK is not a clock from 50 to 220 MHz: '221'"),
            ({"CLOCK": "183 "}, "CLOCK is not a clock from 50 to 220 MHz: '183 '"),
            ({"CLOCK": "183", "BOARD": "0"}, "BOARD is not a board number: '0'"),
            ({"CLOCK": "183", "BOARD": "two"}, "BOARD is not a board number: 'two'"),
            ({"CLOCK": "183", "BOARD": "4"}, "no board 4: 3 found"),
        ]
        for settings, problem in cases:
            with self.subTest(settings):
                code, out, err = self.apply(settings)
                self.assertEqual((code, out), (64, ""))
                self.assertEqual(err.splitlines()[0], f"halvex: {problem}")
                self.assertEqual(self.snapshot(), before)


@unittest.skipUnless(os.path.exists(BASH_COMPLETION), "bash-completion is not installed")
class Completion(unittest.TestCase):
    """The bash completion shipped in the package, with bash-completion's
    own library, completing as bash would at the end of a line."""
    SCRIPT = r"""
source "$BASH_COMPLETION"
source "$COMPLETION"
COMP_LINE=$LINE COMP_POINT=${#LINE}
read -ra COMP_WORDS <<<"$LINE"
[[ $LINE == *" " ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_halvex halvex "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
"""

    @classmethod
    def setUpClass(cls):
        # "halvex" on PATH is the command under test, as the completion runs it.
        cls.folder = tempfile.mkdtemp(prefix="halvex-completion-")
        os.chmod(cls.folder, 0o755)
        with open(os.path.join(cls.folder, "halvex"), "w") as f:
            f.write(f'#!/bin/sh\nexec {shlex.join(COMMAND)} "$@"\n')
        os.chmod(os.path.join(cls.folder, "halvex"), 0o755)
        cls.tree = os.path.join(cls.folder, "tree")
        st.write_tree(cls.tree, [st.vsa100(0, 1), st.vsa100(1, 0, subsystem=0x0002), st.vsa100(4, 2)])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def complete(self, line):
        env = dict(os.environ, BASH_COMPLETION=BASH_COMPLETION, COMPLETION=COMPLETION, LINE=line,
                   PATH=f"{self.folder}:{os.environ['PATH']}", HALVEX_SIM_STATE="none")
        env.pop("HALVEX_SIM_BOARDS", None)
        done = subprocess.run(["bash", "--norc", "-c", self.SCRIPT], capture_output=True, text=True, env=env,
                              timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        return sorted(filter(None, done.stdout.splitlines()))

    def test_completes_commands_options_and_board_numbers(self):
        cases = [
            ("halvex ", ["apply", "list", "set"]),
            ("halvex --simulate s", ["set"]),
            ("halvex --s", ["--simulate", "--sysfs"]),
            ("halvex list ", []),
            ("halvex set ", []),
            ("halvex --simulate set 183 --board ", ["1", "2"]),
            (f"halvex --sysfs {self.tree} list -b ", ["1", "2", "3"]),
            (f"halvex --sysfs={self.tree} apply --board 3", ["3"]),
        ]
        for line, expected in cases:
            with self.subTest(line):
                self.assertEqual(self.complete(line), expected)


class Elsewhere(unittest.TestCase):
    @unittest.skipUnless(os.path.isdir("/sys/bus/pci/devices"), "this machine shows no PCI devices")
    def test_the_machines_own_tree_has_no_board(self):
        own = subprocess.run(["lspci", "-n", "-d", "121a:0009"], capture_output=True, text=True)
        if own.stdout.strip():
            self.skipTest("this machine has a VSA-100 board")
        self.assertEqual(run("list"), (2, "", "halvex: no VSA-100 board found\n"))

    def test_simulated_boards_keep_their_clock(self):
        with tempfile.TemporaryDirectory() as folder:
            env = {"HALVEX_SIM_STATE": os.path.join(folder, "state.txt")}
            self.assertEqual(run("--simulate", env=env), (0, "1  0000:00:09.0  1 chip  166 MHz  (166.81 MHz)\n"
                                                              "2  0000:01:00.0  2 chips  145 MHz  (145.57 MHz)\n", ""))
            self.assertEqual(run("--simulate", "set", "183", "--board", "2", env=env),
                             (0, "2  0000:01:00.0  2 chips  183 MHz  (183.75 MHz)\n", ""))
            self.assertEqual(run("--simulate", "list", env=env)[1].splitlines()[1],
                             "2  0000:01:00.0  2 chips  183 MHz  (183.75 MHz)")
            self.assertEqual(run("--simulate", env=dict(env, HALVEX_SIM_BOARDS="none")),
                             (2, "", "halvex: no VSA-100 board found\n"))
            self.assertEqual(run("--simulate", "set", "183", env=dict(env, HALVEX_SIM_OPEN="5")),
                             (1, "", "halvex: the simulated access method did not open\n"))

    def test_each_refusal_names_its_reason(self):
        """Simulated boards the board code refuses, under every command, with
        the exact output and every driver call made after detection."""
        at = "board 1 (0000:00:01.0)"
        bar0 = "DrvPciReadDword 0x00000008 0x00000010 = "
        cmd = "DrvPciReadDword 0x00000008 0x00000004 = 0x02300000"
        enable = "DrvPciWriteDword 0x00000008 0x00000004 0x02300003 = 0x00000000"
        boards = {
            "unassigned": ("0:1:4:0:0xE721", "BAR0 is not assigned", bar0 + "0x00000000"),
            "io": ("0:1:4:0xE001:0xE721", "BAR0 is not a memory BAR", bar0 + "0x0000E001"),
            "past 4 GiB": ("0:1:1:0xFC000000:0x3B05", "its chips' register windows lie past 4 GiB",
                           bar0 + "0xFC000000"),
        }
        commands = {"set": (("set", "183"), {}), "apply": (("apply",), {"CLOCK": "183"}), "list": (("list",), {})}
        for (name, (layout, reason, read_bar0)), (command, (args, settings)) in (
                (b, c) for b in boards.items() for c in commands.items()):
            with self.subTest(board=name, command=command), tempfile.TemporaryDirectory() as folder:
                log = os.path.join(folder, "calls.log")
                env = dict({"CLOCK": None, "BOARD": None}, HALVEX_SIM_BOARDS=layout, HALVEX_SIM_STATE="none",
                           HALVEX_SIM_LOG=log, **settings)
                code, out, err = run("--simulate", *args, env=env)
                with open(log) as f:
                    calls = [line.split(" ", 1)[1] for line in f.read().splitlines()
                             if line.split()[1] in ("DrvPciReadDword", "DrvPciWriteDword",
                                                    "DrvMemReadDword", "DrvMemWriteDword")]
                if command != "list":
                    self.assertEqual((code, out, err), (1, "", f"halvex: {at}: refused, nothing written: {reason}\n"))
                    self.assertEqual(calls, [read_bar0])
                elif name == "past 4 GiB":  # chip 0 can still be read
                    self.assertEqual((code, out, err), (0, "1  0000:00:01.0  4 chips  145 MHz  (145.57 MHz)\n", ""))
                    self.assertEqual(calls, [read_bar0, cmd, enable,
                                             "DrvMemReadDword 0xFC000044 = 0x00003B05"])
                else:
                    self.assertEqual((code, out, err), (1, f"1  0000:00:01.0  1 chip  cannot read the clock: {reason}\n",
                                                        f"halvex: {at}: cannot read the clock: {reason}\n"))
                    self.assertEqual(calls, [read_bar0])

    def test_help_and_version(self):
        self.assertEqual(run("--version"), (0, "halvex 1.00\n", ""))
        code, out, err = run("--help")
        self.assertEqual((code, err), (0, ""))
        self.assertTrue(out.startswith(USAGE))
        self.assertIn("Exit status", out)


if __name__ == "__main__":
    unittest.main()
