#!/usr/bin/python3
"""Checks the shipped installer as a file: a 32-bit Windows GUI program that
starts on Windows 95 and later, so ANSI (no ...W function from KERNEL32 or
USER32, which Windows 95, 98 and ME lack), subsystem 4.0, importing system
DLLs only.

usage: check_installer.py SETUP.EXE"""
import sys
import unittest

import pefile

PATH = None
SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "ole32.dll", "shell32.dll",
               "user32.dll", "version.dll", "shlwapi.dll"}


class Installer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(PATH)
        cls.imports = {entry.dll.decode().lower(): [i.name.decode() for i in entry.imports if i.name]
                       for entry in cls.pe.DIRECTORY_ENTRY_IMPORT}

    def test_32bit_gui_program_for_windows_4(self):
        header = self.pe.OPTIONAL_HEADER
        self.assertEqual(self.pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
        self.assertEqual(header.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE)
        self.assertEqual(header.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
        self.assertEqual((header.MajorSubsystemVersion, header.MinorSubsystemVersion), (4, 0))

    def test_imports_system_dlls_only(self):
        self.assertLessEqual(set(self.imports), SYSTEM_DLLS)
        self.assertIn("kernel32.dll", self.imports)

    def test_ansi_functions_only(self):
        for dll in ("kernel32.dll", "user32.dll"):
            wide = [name for name in self.imports[dll] if name.endswith("W")]
            self.assertEqual(wide, [], dll)
            self.assertTrue([name for name in self.imports[dll] if name.endswith("A")], dll)


if __name__ == "__main__":
    PATH = sys.argv[1]
    unittest.main(argv=[sys.argv[0], "-v"])
