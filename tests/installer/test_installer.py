#!/usr/bin/python3
"""The installer and uninstaller on a Windows machine under Wine, as a user
or an administrator's script runs them: what lands on the disk, in the Start
menu, in the Startup folder and in the registry, and what the start-up
shortcut does to the boards when it runs.

usage: test_installer.py --arch amd64|i386 --prefix DIR --installer SETUP.EXE
           --program HALVEX.EXE --stand-in HALVEX.DLL --version VERSION
           [--make-prefix] [--screenshots DIR] [CASE...]

CASE is a test class (BadSwitches, SilentInstall, InstallAgain, Uninstall,
WhileRunning, Pages, Shipped); none runs the first four. --make-prefix makes the prefix
when it is missing and readies it for screenshots, and runs nothing else.
Exits 77 (a skip) when the prefix cannot run the installer: no prefix, or a
32-bit installer and no 32-bit part; WhileRunning and Pages skip with no X
display."""
import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import shell_link
from wine_machine import Machine

SKIP = 77
EXIT_BAD_SWITCH = 4
EXIT_HALVEX_RUNNING = 3
ARGS = None
MACHINE = None

UNINSTALL_KEY = "microsoft\\windows\\currentversion\\uninstall\\"
SETTINGS_KEY = "halvex"
INSTALLED_FILES = {"Halvex.exe", "README.txt", "LICENSE.txt", "Uninstall.exe"}
STARTUP_LINK = "Halvex clock.lnk"
MENU_LINK = "Halvex.lnk"

# Boards of 1, 2 and 4 chips on three buses, all at 145 MHz.
BOARDS = "0:9:0x0004:0xE4000008:0x3B05;1:0:0x0002:0xD8000008:0x3B05;2:4:0x0001:0xC0000008:0x3B05"
BOARD_CHIPS = [1, 2, 4]
INITIAL_PLL = 0x3B05
PLL_REFERENCE_MHZ = 14.31818


def table_value(mhz):
    """The PLL setting Halvex writes for a clock, from the rule: N = round(6 x
    MHz / REF) - 2 with M = 1, K = 1; 166 MHz keeps the finer 0xE721."""
    if mhz == 166:
        return 0xE721
    return (round(6 * mhz / PLL_REFERENCE_MHZ) - 2) << 8 | 0x05


def read_boards(state_file):
    """Every chip's pllControl, board by board, from the simulated boards' state."""
    with open(state_file) as f:
        lines = [line.split() for line in f if line.startswith("board ")]
    return [[int(word, 16) for word in fields[3:]] for fields in lines]


class InstallerCase(unittest.TestCase):
    """Starts and ends with nothing of Halvex's on the machine."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="halvex-installer-")
        remove_installation()

    @classmethod
    def tearDownClass(cls):
        remove_installation()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def default_folder(self):
        return os.path.join(MACHINE.drive_c, MACHINE.program_files, "Halvex")

    def install(self, *switches):
        return MACHINE.run(ARGS.installer, *switches)

    def uninstall(self, folder):
        return MACHINE.run_all(MACHINE.windows_path(os.path.join(folder, "Uninstall.exe")), "/S")

    def arp_entries(self):
        """Add/Remove Programs' entries that name Halvex: {key: values}."""
        prefix = MACHINE.software + UNINSTALL_KEY
        return {key: values for key, values in MACHINE.system_registry().items()
                if key.startswith(prefix) and "halvex" in str(values.get("displayname", "")).lower()}

    def startup_links(self):
        """Every shortcut in both Startup folders."""
        found = []
        for all_users in (True, False):
            folder = MACHINE.startup_folder(all_users)
            if os.path.isdir(folder):
                found += [os.path.join(folder, n) for n in os.listdir(folder) if n.lower().endswith(".lnk")]
        return found

    def the_startup_link(self):
        links = self.startup_links()
        self.assertEqual([os.path.basename(p) for p in links], [STARTUP_LINK])
        self.assertEqual(os.path.dirname(links[0]), MACHINE.startup_folder(True), "all users' Startup folder")
        return shell_link.read(links[0])

    def run_startup_link(self, link):
        """Runs the shortcut's target with its arguments on fresh simulated
        boards, with the stand-in library beside the installed program as a
        user would put the real one there; its exit code and the boards after."""
        program = MACHINE.unix_path(link.target)
        shutil.copyfile(ARGS.stand_in, os.path.join(os.path.dirname(program), "Halvex.dll"))
        state = os.path.join(self.scratch, "boards.txt")
        if os.path.exists(state):
            os.remove(state)
        env = {"HALVEX_SIM_BOARDS": BOARDS, "HALVEX_SIM_STATE": "Z:" + state,
               "HALVEX_SIM_LOG": "Z:" + os.path.join(self.scratch, "driver-calls.txt")}
        code = MACHINE.run(link.target, *link.arguments.split(), env=env)
        return code, read_boards(state)

    def assert_installed(self, folder, arguments, simulated=False):
        """The program and its files (with the simulated boards when chosen),
        one Add/Remove Programs entry, the Start-menu shortcut and one
        start-up shortcut with these arguments; the start-up shortcut."""
        shipped = INSTALLED_FILES | ({"simulated-boards"} if simulated else set())
        self.assertEqual(set(os.listdir(folder)) - {"Halvex.dll"}, shipped)
        self.assertTrue(filecmp.cmp(os.path.join(folder, "Halvex.exe"), ARGS.program, shallow=False),
                        "the built Halvex.exe")
        entries = self.arp_entries()
        self.assertEqual(list(entries), [MACHINE.software + UNINSTALL_KEY + "halvex"])
        entry = entries[MACHINE.software + UNINSTALL_KEY + "halvex"]
        windows_folder = MACHINE.windows_path(folder)
        uninstaller = windows_folder + "\\Uninstall.exe"
        expected = {"displayname": "Halvex", "displayversion": ARGS.version, "publisher": "[Ambrin]",
                    "installlocation": windows_folder, "uninstallstring": f'"{uninstaller}"',
                    "quietuninstallstring": f'"{uninstaller}" /S', "displayicon": windows_folder + "\\Halvex.exe,0",
                    "nomodify": 1, "norepair": 1}
        self.assertEqual({k: entry.get(k) for k in expected}, expected)
        sized = [os.path.join(folder, n) for n in INSTALLED_FILES - {"Uninstall.exe"}]
        if simulated:
            sized += [os.path.join(folder, "simulated-boards", n) for n in ("Halvex.dll", "README.txt")]
        size_kib = sum(os.path.getsize(path) for path in sized) / 1024
        self.assertTrue(size_kib <= entry["estimatedsize"] <= size_kib + len(sized), entry["estimatedsize"])
        menu = shell_link.read(os.path.join(MACHINE.start_menu(True), MENU_LINK))
        self.assertEqual((menu.target, menu.arguments), (windows_folder + "\\Halvex.exe", ""))
        link = self.the_startup_link()
        self.assertEqual((link.target, link.arguments), (windows_folder + "\\Halvex.exe", arguments))
        return link


def remove_installation():
    """Whatever an earlier, failed run left: its uninstaller first, then by hand."""
    machine = MACHINE
    for key, values in machine.system_registry().items():
        location = values.get("installlocation") if key == machine.software + UNINSTALL_KEY + "halvex" else None
        if location and os.path.isfile(machine.unix_path(location + "\\Uninstall.exe")):
            machine.run_all(location + "\\Uninstall.exe", "/S")
    for folder in (os.path.join(machine.drive_c, machine.program_files, "Halvex"),
                   os.path.join(machine.drive_c, "Tools")):
        shutil.rmtree(folder, ignore_errors=True)
    for all_users in (True, False):
        for path in (os.path.join(machine.startup_folder(all_users), STARTUP_LINK),
                     os.path.join(machine.start_menu(all_users), MENU_LINK)):
            if os.path.exists(path):
                os.remove(path)
    left = [k for k in machine.system_registry() if k.endswith(UNINSTALL_KEY + "halvex")
            or k.endswith("software\\" + SETTINGS_KEY) or k.endswith("wow6432node\\" + SETTINGS_KEY)]
    if left:
        raise AssertionError(f"registry keys left by an earlier run: {left}")


class BadSwitches(InstallerCase):
    """A bad /CLOCK, /BOARD or switch installs nothing: no folder, no
    shortcut, no Add/Remove Programs entry."""

    CASES = [
        ("/CLOCK=49",), ("/CLOCK=221",), ("/CLOCK=18x",), ("/CLOCK=",), ("/CLOCK=-100",), ("/CLOCK=1e2",),
        ("/CLOCK=0x64",), ("/CLOCK=4294967479",), ("/CLOCK=183", "/BOARD=0"), ("/CLOCK=183", "/BOARD=two"),
        ("/CLOCK=183", "/BOARD=8161"), ("/BOARD=2",), ("/CLOCK=183", "/CLOCK=200"), ("/CLOKC=183",),
    ]

    def test_each_bad_switch_ends_with_exit_code_4_and_installs_nothing(self):
        for switches in self.CASES:
            with self.subTest(switches=switches):
                self.assertEqual(self.install("/S", *switches), EXIT_BAD_SWITCH)
                self.assertFalse(os.path.exists(self.default_folder()))
                self.assertEqual(self.startup_links(), [])
                self.assertFalse(os.path.exists(os.path.join(MACHINE.start_menu(True), MENU_LINK)))
        # Once for all of them: an entry any had made would still be there.
        self.assertEqual(self.arp_entries(), {})
        self.assertEqual([k for k in MACHINE.system_registry() if k.endswith("\\" + SETTINGS_KEY)], [])


class SilentInstall(InstallerCase):
    """/S /CLOCK=183: the program, one entry, the shortcuts; the start-up
    shortcut, run as Windows runs it at logon, writes 183 MHz's setting into
    every chip of every board."""

    def test_silent_install_with_a_clock(self):
        self.assertEqual(self.install("/S", "/clock=183"), 0)
        folder = self.default_folder()
        link = self.assert_installed(folder, "/clock:183 /quiet")
        self.assertEqual(MACHINE.unix_path(link.working_dir), folder)
        code, boards = self.run_startup_link(link)
        self.assertEqual(code, 0)
        self.assertEqual(boards, [[table_value(183)] * chips for chips in BOARD_CHIPS])
        self.assertNotEqual(table_value(183), INITIAL_PLL)


class InstallAgain(InstallerCase):
    """Installing again replaces the files and leaves one start-up entry, the
    one now chosen; with no clock given, the one there was."""

    def test_install_again(self):
        folder = self.default_folder()
        self.assertEqual(self.install("/S", "/CLOCK=183"), 0)
        with open(os.path.join(folder, "Halvex.exe"), "ab") as f:
            f.write(b"damaged")
        self.assertEqual(self.install("/S", "/CLOCK=200", "/BOARD=02"), 0)
        link = self.assert_installed(folder, "/clock:200 /board:2 /quiet")
        code, boards = self.run_startup_link(link)
        self.assertEqual(code, 0)
        self.assertEqual(boards, [[INITIAL_PLL], [table_value(200)] * 2, [INITIAL_PLL] * 4])

        # An upgrade with no clock keeps the user's (the stand-in the user put
        # beside the program stays too).
        self.assertEqual(self.install("/S"), 0)
        self.assert_installed(folder, "/clock:200 /board:2 /quiet")
        self.assertTrue(os.path.isfile(os.path.join(folder, "Halvex.dll")))

        # A user who deleted the shortcut chose to have none.
        os.remove(os.path.join(MACHINE.startup_folder(True), STARTUP_LINK))
        self.assertEqual(self.install("/S"), 0)
        self.assertEqual(self.startup_links(), [])
        self.assertEqual(len(self.arp_entries()), 1)

        # Moved to another folder: the old one keeps only the user's file.
        moved = os.path.join(MACHINE.drive_c, "Tools", "Halvex")
        self.assertEqual(self.install("/S", "/CLOCK=170", "/D=" + MACHINE.windows_path(moved)), 0)
        self.assert_installed(moved, "/clock:170 /quiet")
        self.assertEqual(os.listdir(folder), ["Halvex.dll"])


class Uninstall(InstallerCase):
    """The uninstaller takes away what was installed and nothing else; the
    folder goes only when nothing is left in it."""

    def test_uninstall_leaves_the_users_files(self):
        folder = os.path.join(MACHINE.drive_c, "Tools", "Halvex")
        self.assertEqual(self.install("/S", "/CLOCK=183", "/D=" + MACHINE.windows_path(folder)), 0)
        self.assert_installed(folder, "/clock:183 /quiet")
        users_files = {"Halvex.dll": open(ARGS.stand_in, "rb").read(), "notes.txt": b"my board: 183 MHz\r\n"}
        for name, data in users_files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)

        self.assertEqual(self.uninstall(folder), 0)
        self.assert_nothing_of_the_installers()
        self.assertEqual({n: open(os.path.join(folder, n), "rb").read() for n in os.listdir(folder)}, users_files)

        for name in users_files:
            os.remove(os.path.join(folder, name))
        self.assertEqual(self.install("/S", "/D=" + MACHINE.windows_path(folder)), 0)
        self.assertEqual(self.uninstall(folder), 0)
        self.assert_nothing_of_the_installers()
        self.assertFalse(os.path.exists(folder))

    def assert_nothing_of_the_installers(self):
        self.assertEqual(self.arp_entries(), {})
        self.assertEqual(self.startup_links(), [])
        for all_users in (True, False):
            self.assertFalse(os.path.exists(os.path.join(MACHINE.start_menu(all_users), MENU_LINK)))
        for registry in (MACHINE.system_registry(), MACHINE.user_registry()):
            self.assertEqual([k for k in registry if "halvex" in k], [])


class Shipped(SilentInstall):
    """The shipped installer's main path: a silent install with a clock, its
    start-up shortcut run, an uninstall that leaves the user's file."""

    def test_silent_install_with_a_clock(self):
        super().test_silent_install_with_a_clock()
        folder = self.default_folder()
        self.assertEqual(self.uninstall(folder), 0)
        self.assertEqual(self.arp_entries(), {})
        self.assertEqual(self.startup_links(), [])
        self.assertEqual(os.listdir(folder), ["Halvex.dll"])


class WhileRunning(InstallerCase):
    """A running Halvex.exe can be neither replaced nor removed: installer
    and uninstaller change nothing and end with exit code 3."""

    def test_nothing_changes_while_halvex_runs(self):
        if not os.environ.get("DISPLAY"):
            self.skipTest("no X display")
        # A folder with no space, so that Wine passes _?= unquoted, as the
        # uninstaller needs it.
        folder = os.path.join(MACHINE.drive_c, "Tools", "Halvex")
        self.assertEqual(self.install("/S", "/CLOCK=183", "/D=" + MACHINE.windows_path(folder)), 0)
        shutil.copyfile(ARGS.stand_in, os.path.join(folder, "Halvex.dll"))
        MACHINE.serve()
        program = MACHINE.start(MACHINE.windows_path(os.path.join(folder, "Halvex.exe")),
                                env={"HALVEX_SIM_STATE": "none"})
        try:
            title = f"Halvex ver.{ARGS.version}"
            deadline = time.monotonic() + 60
            while not window_ids(title) and time.monotonic() < deadline:
                time.sleep(0.2)
            self.assertTrue(window_ids(title), "Halvex's window")
            self.assertEqual(self.install("/S", "/CLOCK=200"), EXIT_HALVEX_RUNNING)
            # In place, the uninstaller's own exit code comes back.
            uninstaller = MACHINE.windows_path(os.path.join(folder, "Uninstall.exe"))
            self.assertEqual(MACHINE.run(uninstaller, "/S", "_?=" + MACHINE.windows_path(folder)),
                             EXIT_HALVEX_RUNNING)
        finally:
            MACHINE.stop()
            program.wait(timeout=60)
        self.assert_installed(folder, "/clock:183 /quiet")

        self.assertEqual(self.uninstall(folder), 0)
        self.assertEqual(self.arp_entries(), {})
        self.assertEqual(os.listdir(folder), ["Halvex.dll"])


def window_ids(title):
    """The X windows with this title: [(id, geometry)]."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout
    return [(m.group(1), m.group(2)) for m in
            re.finditer(r'^\s*(0x[0-9a-f]+) "' + re.escape(title) + r' ?":.*?(\d+x\d+\+\d+\+\d+)', tree, re.M)]


class Pages(InstallerCase):
    """Every page of the installer and the uninstaller as a user goes through
    them with the keyboard, each saved as a screenshot: the start-up page
    refuses a clock out of range and keeps the user on it, and what the pages
    chose is what gets installed."""

    def setUp(self):
        self.SETUP_TITLE = f"Halvex {ARGS.version} Setup"
        self.UNINSTALL_TITLE = f"Halvex {ARGS.version} Uninstall"
        if not os.environ.get("DISPLAY"):
            self.skipTest("no X display")
        os.makedirs(ARGS.screenshots, exist_ok=True)
        self.shots = []

    def windows(self, title):
        return window_ids(title)

    def wait_for(self, condition, what, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if condition():
                time.sleep(0.5)  # let it paint
                return
            time.sleep(0.1)
        self.fail(f"timed out waiting for {what}")

    def shot(self, title, name):
        """The window (with any message box over it) saved as NAME.png; it
        must differ from the page before, or the page did not change."""
        _, geometry = self.windows(title)[-1]
        path = os.path.join(ARGS.screenshots, name + ".png")
        subprocess.run(["import", "-window", "root", "-crop", geometry, "+repage", path], check=True)
        pixels = subprocess.run(["convert", path, "rgb:-"], capture_output=True, check=True).stdout
        self.assertNotIn(pixels, self.shots, f"{name}: the same picture as a page before")
        self.shots.append(pixels)

    def keys(self, *keys):
        subprocess.run(["xdotool", "key", "--delay", "50", *keys], check=True)
        time.sleep(0.3)

    def go_through_pages(self, start_up_shot):
        """The installer from its first page to its last, pressing Enter on
        each (on the progress page until it is done); the start-up page
        saved as it is offered."""
        MACHINE.serve()
        installer = MACHINE.start(ARGS.installer)
        self.wait_for(lambda: self.windows(self.SETUP_TITLE), "the installer's window")
        subprocess.run(["xdotool", "windowfocus", self.windows(self.SETUP_TITLE)[0][0]], check=True)
        self.keys("Return", "Return", "Return")  # licence, components, folder
        self.shot(self.SETUP_TITLE, start_up_shot)
        deadline = time.monotonic() + 60
        while installer.poll() is None and time.monotonic() < deadline:
            self.keys("Return")
            time.sleep(0.7)
        self.assertEqual(installer.wait(timeout=10), 0)

    def test_pages(self):
        folder = self.default_folder()
        startup = os.path.join(MACHINE.startup_folder(True), STARTUP_LINK)
        MACHINE.serve()
        installer = MACHINE.start(ARGS.installer)
        self.wait_for(lambda: self.windows(self.SETUP_TITLE), "the installer's window")
        subprocess.run(["xdotool", "windowfocus", self.windows(self.SETUP_TITLE)[0][0]], check=True)
        self.shot(self.SETUP_TITLE, "01-licence")
        self.keys("Return")
        self.shot(self.SETUP_TITLE, "02-components")
        self.keys("Down", "space")  # the simulated boards, off unless chosen
        self.keys("Return")
        self.shot(self.SETUP_TITLE, "03-folder")
        self.keys("Return")
        self.shot(self.SETUP_TITLE, "04-start-up-as-offered")
        self.keys("alt+r", "alt+c", "ctrl+a", "BackSpace", "3", "0", "0", "Return")
        self.wait_for(lambda: len(self.windows(self.SETUP_TITLE)) == 2, "the message refusing 300 MHz")
        self.shot(self.SETUP_TITLE, "05-start-up-refused")
        self.keys("Return")
        self.assertEqual(len(self.windows(self.SETUP_TITLE)), 1)
        self.assertFalse(os.path.exists(folder), "refused, and nothing installed yet")
        self.keys("alt+c", "ctrl+a", "BackSpace", "1", "8", "3", "alt+o", "Tab", "2")
        self.shot(self.SETUP_TITLE, "06-start-up")
        self.keys("Return")
        self.wait_for(lambda: os.path.exists(os.path.join(MACHINE.start_menu(True), MENU_LINK))
                      and os.path.exists(startup), "the installation")
        time.sleep(1)
        self.shot(self.SETUP_TITLE, "07-installed")
        self.keys("Return")
        self.shot(self.SETUP_TITLE, "08-finish")
        self.keys("Return")
        self.assertEqual(installer.wait(timeout=60), 0)

        link = self.assert_installed(folder, "/clock:183 /board:2 /quiet", simulated=True)
        stand_in = os.path.join(folder, "simulated-boards", "Halvex.dll")
        self.assertTrue(filecmp.cmp(stand_in, ARGS.stand_in, shallow=False))
        self.assertEqual(sorted(os.listdir(os.path.dirname(stand_in))), ["Halvex.dll", "README.txt"])
        self.assertFalse(os.path.exists(os.path.join(folder, "Halvex.dll")), "never beside the program")
        code, boards = self.run_startup_link(link)
        self.assertEqual((code, boards), (0, [[INITIAL_PLL], [table_value(183)] * 2, [INITIAL_PLL] * 4]))

        # Installing again, every page as it comes: they offer what is
        # installed, so nothing changes.
        readme = os.path.join(folder, "README.txt")
        os.remove(readme)
        self.go_through_pages("09-start-up-again")
        self.assertTrue(os.path.exists(readme), "the files installed again")
        self.assert_installed(folder, "/clock:183 /board:2 /quiet", simulated=True)

        MACHINE.serve()
        uninstaller = MACHINE.start(MACHINE.windows_path(os.path.join(folder, "Uninstall.exe")))
        self.wait_for(lambda: self.windows(self.UNINSTALL_TITLE), "the uninstaller's window")
        subprocess.run(["xdotool", "windowfocus", self.windows(self.UNINSTALL_TITLE)[0][0]], check=True)
        self.shot(self.UNINSTALL_TITLE, "10-uninstall")
        self.keys("Return")
        self.wait_for(lambda: not os.path.exists(startup) and not os.path.exists(os.path.join(folder, "Halvex.exe")),
                      "the uninstallation")
        time.sleep(1)
        self.shot(self.UNINSTALL_TITLE, "11-uninstalled")
        self.keys("Return")
        self.wait_for(lambda: not self.windows(self.UNINSTALL_TITLE), "the uninstaller to close")
        uninstaller.wait(timeout=60)
        MACHINE.stop()
        self.assertEqual(self.arp_entries(), {})
        # The stand-in the test put beside the program is the user's.
        self.assertEqual(os.listdir(folder), ["Halvex.dll"])


def main():
    global ARGS, MACHINE
    parser = argparse.ArgumentParser()
    for option in ("--arch", "--prefix", "--installer", "--program", "--stand-in", "--version"):
        parser.add_argument(option, required=True)
    parser.add_argument("--make-prefix", action="store_true")
    parser.add_argument("--screenshots", default="installer-pages")
    parser.add_argument("cases", nargs="*")
    ARGS = parser.parse_args()
    MACHINE = Machine(ARGS.prefix, ARGS.arch)
    if ARGS.make_prefix:
        if not MACHINE.exists():
            MACHINE.create()
        MACHINE.prepare_for_screenshots()
        return 0
    if not MACHINE.exists():
        print(f"SKIP: no Wine prefix in {MACHINE.prefix}")
        return SKIP
    if ARGS.arch == "i386" and not MACHINE.has_32bit_part():
        print(f"SKIP: the Wine prefix {MACHINE.prefix} has no 32-bit part")
        return SKIP
    # Whatever ran in the prefix before ends: the tests read its registry files.
    MACHINE.stop()
    cases = ARGS.cases or ["BadSwitches", "SilentInstall", "InstallAgain", "Uninstall"]
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromName(name, sys.modules[__name__])
                               for name in cases)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    MACHINE.stop()
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
