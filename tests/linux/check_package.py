#!/usr/bin/python3
"""Checks a built halvex Debian package with dpkg-deb: its fields, exactly
its files with their modes, the program's architecture, the manual page, and
that the packaged program runs.

usage: check_package.py DEB ARCH MANPAGE   (HALVEX_COMMAND: how to run a
program of that architecture, its last word being the built program)"""
import gzip
import os
import shlex
import subprocess
import sys
import tempfile
import unittest

DEB = ARCH = MANPAGE = None
ELF_MACHINE = {"amd64": (2, 0x3E), "i386": (1, 0x03)}  # ELF class, e_machine
FILES = {
    "./usr/bin/halvex": "-rwxr-xr-x",
    "./usr/share/man/man1/halvex.1.gz": "-rw-r--r--",
    "./usr/share/doc/halvex/copyright": "-rw-r--r--",
}


def dpkg_deb(*args):
    return subprocess.run(["dpkg-deb", *args], capture_output=True, check=True).stdout


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="halvex-deb-")
        dpkg_deb("-x", DEB, cls.folder)

    def test_name_and_fields(self):
        self.assertEqual(os.path.basename(DEB), f"halvex_1.00_{ARCH}.deb")
        fields = dict(line.split(": ", 1) for line in
                      dpkg_deb("-f", DEB, "Package", "Version", "Architecture", "Depends").decode().splitlines())
        self.assertEqual(fields["Package"], "halvex")
        self.assertEqual(fields["Version"], "1.00")
        self.assertEqual(fields["Architecture"], ARCH)
        self.assertRegex(fields["Depends"], r"^libc6 \(>= 2\.\d+\)$")  # libstdc++ is inside

    def test_exactly_the_files_owned_by_root(self):
        entries = {}
        for line in dpkg_deb("-c", DEB).decode().splitlines():
            mode, owner, _, _, _, path = line.split(None, 5)
            if not mode.startswith("d"):
                entries[path] = mode
                self.assertEqual(owner, "root/root", path)
        self.assertEqual(entries, FILES)

    def test_program_is_built_for_the_architecture(self):
        with open(os.path.join(self.folder, "usr/bin/halvex"), "rb") as f:
            header = f.read(20)
        self.assertEqual(header[:4], b"\x7fELF")
        self.assertEqual((header[4], int.from_bytes(header[18:20], "little")), ELF_MACHINE[ARCH])

    def test_manual_page_is_the_source(self):
        with gzip.open(os.path.join(self.folder, "usr/share/man/man1/halvex.1.gz"), "rb") as f, \
                open(MANPAGE, "rb") as source:
            self.assertEqual(f.read(), source.read())

    def test_packaged_program_runs(self):
        runner = shlex.split(os.environ.get("HALVEX_COMMAND", ""))[:-1]
        done = subprocess.run([*runner, os.path.join(self.folder, "usr/bin/halvex"), "--version"],
                              capture_output=True, text=True)
        self.assertEqual((done.returncode, done.stdout), (0, "halvex 1.00\n"))


if __name__ == "__main__":
    DEB, ARCH, MANPAGE = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main()
