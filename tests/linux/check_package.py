#!/usr/bin/python3
"""Checks a halvex Debian package as scripts/build-debs.sh built it: its
fields, exactly its files with their owners and modes, that the files it
ships are the ones in the source tree, the conffile and the service's
enablement in the maintainer scripts, the program's architecture and
hardening (hardening-check), that the packaged program runs, and lintian's
verdict.

usage: check_package.py DEB ARCH VERSION   (HALVEX_RUNNER: how to run a program of
that architecture, e.g. cmake/run-i386.sh; empty: directly)"""
import gzip
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

DEB = ARCH = VERSION = None
SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
ELF_MACHINE = {"amd64": (2, 0x3E), "i386": (1, 0x03)}  # ELF class, e_machine
FILES = {
    "./usr/bin/halvex": "-rwxr-xr-x",
    "./usr/share/man/man1/halvex.1.gz": "-rw-r--r--",
    "./usr/share/doc/halvex/copyright": "-rw-r--r--",
    "./usr/share/doc/halvex/changelog.gz": "-rw-r--r--",
    "./usr/share/bash-completion/completions/halvex": "-rw-r--r--",
    "./etc/default/halvex": "-rw-r--r--",
    "./lib/systemd/system/halvex.service": "-rw-r--r--",
    "./lib/systemd/system/halvex-resume.service": "-rw-r--r--",
}
# Shipped as they are in the source tree (the manual page compressed).
SHIPPED = {
    "usr/share/man/man1/halvex.1.gz": "linux/halvex.1",
    "usr/share/doc/halvex/copyright": "linux/debian/copyright",
    "usr/share/bash-completion/completions/halvex": "linux/debian/halvex.bash-completion",
    "etc/default/halvex": "linux/debian/halvex.default",
    "lib/systemd/system/halvex.service": "linux/debian/halvex.service",
    "lib/systemd/system/halvex-resume.service": "linux/debian/halvex-resume.service",
}
UNITS = ["halvex.service", "halvex-resume.service"]


def output(*command):
    return subprocess.run(command, capture_output=True, check=True, text=True).stdout


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="halvex-deb-")
        os.chmod(cls.folder, 0o755)
        output("dpkg-deb", "-x", DEB, cls.folder)
        cls.control = os.path.join(cls.folder, "DEBIAN")
        output("dpkg-deb", "-e", DEB, cls.control)
        cls.program = os.path.join(cls.folder, "usr/bin/halvex")

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["rm", "-rf", cls.folder], check=True)

    def read(self, path):
        with (gzip.open if path.endswith(".gz") else open)(os.path.join(self.folder, path), "rb") as f:
            return f.read()

    def test_name_and_fields(self):
        self.assertEqual(os.path.basename(DEB), f"halvex_{VERSION}_{ARCH}.deb")
        fields = dict(line.split(": ", 1) for line in output(
            "dpkg-deb", "-f", DEB, "Package", "Version", "Architecture", "Depends", "Section").splitlines())
        self.assertEqual(fields, {"Package": "halvex", "Version": VERSION, "Architecture": ARCH,
                                  "Depends": fields["Depends"], "Section": "utils"})
        # libstdc++ is inside: the C library is all it needs.
        self.assertRegex(fields["Depends"], r"^libc6 \(>= 2\.\d+\)$")

    def test_exactly_the_files_owned_by_root(self):
        entries = {}
        for line in output("dpkg-deb", "-c", DEB).splitlines():
            mode, owner, _, _, _, path = line.split(None, 5)
            self.assertEqual(owner, "root/root", path)
            if not mode.startswith("d"):
                entries[path] = mode
        self.assertEqual(entries, FILES)

    def test_shipped_files_are_the_sources(self):
        for shipped, source in SHIPPED.items():
            with self.subTest(shipped), open(os.path.join(SOURCE, source), "rb") as f:
                self.assertEqual(self.read(shipped), f.read())

    def test_settings_file_is_a_conffile_that_sets_nothing(self):
        with open(os.path.join(self.control, "conffiles")) as f:
            self.assertEqual(f.read().split(), ["/etc/default/halvex"])
        active = [line for line in self.read("etc/default/halvex").decode().splitlines()
                  if line.strip() and not line.lstrip().startswith("#")]
        self.assertEqual(active, [])
        # Each setting is there to uncomment.
        self.assertRegex(self.read("etc/default/halvex").decode(), r"(?m)^#CLOCK=\d+\n(.*\n)*#BOARD=$")

    def test_units_enabled_on_install_not_started_and_purged(self):
        with open(os.path.join(self.control, "postinst")) as f:
            postinst = f.read()
        with open(os.path.join(self.control, "postrm")) as f:
            postrm = f.read()
        for unit in UNITS:
            with self.subTest(unit):
                self.assertEqual(postinst.count(f"deb-systemd-helper enable '{unit}'"), 1)
                self.assertIn(unit, re.search(r"deb-systemd-helper purge (.*)", postrm).group(1))
        # Installing or upgrading the package never writes a clock.
        self.assertNotIn("deb-systemd-invoke", postinst)
        self.assertFalse(os.path.exists(os.path.join(self.control, "preinst")))

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd is not installed")
    def test_units_pass_systemd_analyze_verify(self):
        # A root with systemd's own units, which these name, and the package.
        root = os.path.join(self.folder, "verify-root")
        shutil.copytree("/usr/lib/systemd/system", os.path.join(root, "usr/lib/systemd/system"), symlinks=True)
        os.symlink("usr/lib", os.path.join(root, "lib"))
        for unit in UNITS:
            shutil.copy(os.path.join(self.folder, "lib/systemd/system", unit), os.path.join(root, "lib/systemd/system"))
        os.makedirs(os.path.join(root, "usr/bin"))
        shutil.copy(self.program, os.path.join(root, "usr/bin"))
        done = subprocess.run(["systemd-analyze", "verify", "--man=no", f"--root={root}", *UNITS],
                              capture_output=True, text=True)
        self.assertEqual((done.returncode, done.stderr), (0, ""))

    def test_program_is_built_for_the_architecture(self):
        with open(self.program, "rb") as f:
            header = f.read(20)
        self.assertEqual(header[:4], b"\x7fELF")
        self.assertEqual((header[4], int.from_bytes(header[18:20], "little")), ELF_MACHINE[ARCH])

    def test_program_is_hardened(self):
        # PIE, stack protector, fortified calls, RELRO, BIND_NOW. Not control
        # flow protection: Debian 12's dpkg-buildflags has no such feature.
        done = subprocess.run(["hardening-check", "--nocfprotection", self.program], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def test_program_is_stripped_and_needs_only_the_c_library(self):
        sections = output("readelf", "-SW", self.program)
        self.assertNotIn(".symtab", sections)
        self.assertNotIn(".debug_", sections)
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.*)\]", output("readelf", "-dW", self.program))
        self.assertEqual(sorted(n for n in needed if not n.startswith("ld-linux")), ["libc.so.6"])

    def test_packaged_program_runs(self):
        runner = shlex.split(os.environ.get("HALVEX_RUNNER", ""))
        done = subprocess.run([*runner, self.program, "--version"], capture_output=True, text=True)
        self.assertEqual((done.returncode, done.stdout), (0, f"halvex {VERSION}\n"))

    def test_lintian_finds_nothing(self):
        done = subprocess.run(["lintian", "--fail-on", "error,warning", "--no-tag-display-limit", DEB],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)


if __name__ == "__main__":
    DEB, ARCH, VERSION = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main()
