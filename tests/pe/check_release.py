#!/usr/bin/python3
"""Checks the release archive: exactly the expected files, the program and
the stand-in library identical to the built ones, the licence, and texts that
say what the program needs.

usage: check_release.py ZIP HALVEX_EXE STAND_IN_DLL LICENSE VERSION"""
import sys
import unittest
import zipfile

ZIP = EXE = DLL = LICENSE = TOP = None
FILES = {"Halvex.exe", "README.txt", "LICENSE.txt", "simulated-boards/Halvex.dll", "simulated-boards/README.txt"}


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.zip = zipfile.ZipFile(ZIP)
        cls.files = {i.filename: cls.zip.read(i) for i in cls.zip.infolist() if not i.is_dir()}

    def test_holds_exactly_the_release_files(self):
        self.assertEqual(set(self.files), {f"{TOP}/{name}" for name in FILES})
        self.assertIsNone(self.zip.testzip())

    def test_binaries_are_the_built_ones(self):
        self.assertEqual(self.files[f"{TOP}/Halvex.exe"], read(EXE))
        self.assertEqual(self.files[f"{TOP}/simulated-boards/Halvex.dll"], read(DLL))
        self.assertEqual(self.files[f"{TOP}/LICENSE.txt"], read(LICENSE))

    def test_texts_say_what_is_needed(self):
        readme = self.files[f"{TOP}/README.txt"].decode("ascii")
        self.assertIn("VSA-100", readme)
        self.assertIn("Halvex.dll of the hardware-access package", readme)
        self.assertIn("simulated-boards", readme)
        stand_in = self.files[f"{TOP}/simulated-boards/README.txt"].decode("ascii")
        self.assertIn("NOT the driver library", stand_in)


if __name__ == "__main__":
    ZIP, EXE, DLL, LICENSE = sys.argv[1:5]
    TOP = f"Halvex-{sys.argv[5]}"
    unittest.main(argv=[sys.argv[0], "-v"])
