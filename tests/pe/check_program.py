#!/usr/bin/python3
"""Checks a built Halvex.exe as a file: machine, subsystem, imports and
resources.

usage: check_program.py i386|amd64 path/to/Halvex.exe"""
import struct
import sys
import unittest

import pefile

MACHINES = {"i386": 0x014C, "amd64": 0x8664}
DRIVER_ORDINALS = [1, 2, 4, 5, 8, 15, 18]
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll"}
LANG_NEUTRAL = 0
LANG_JAPANESE_JAPAN = 1041
SHIPPED_SIZE_BUDGET = 48 * 1024
RT_ICON, RT_STRING, RT_GROUP_ICON, RT_DIALOG, RT_ACCELERATOR, RT_VERSION, RT_MANIFEST = 3, 6, 14, 5, 9, 16, 24

ARCH = PATH = None


def utf16z(data, offset):
    """A zero-terminated UTF-16 string and the offset after it."""
    end = offset
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[offset:end].decode("utf-16-le"), end + 2


def sz_or_ord(data, offset):
    """A dialog template's name field: 0, 0xFFFF + ordinal, or a string."""
    (first,) = struct.unpack_from("<H", data, offset)
    if first == 0:
        return None, offset + 2
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, offset + 2)[0], offset + 4
    return utf16z(data, offset)


class Program(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(PATH)
        cls.data = cls.pe.__data__
        cls.resources = {}  # (type, id or name) -> [(language, bytes)]
        for rtype in cls.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            tkey = str(rtype.name) if rtype.name is not None else rtype.id
            for rid in rtype.directory.entries:
                ikey = str(rid.name) if rid.name is not None else rid.id
                for lang in rid.directory.entries:
                    s = lang.data.struct
                    blob = cls.pe.get_data(s.OffsetToData, s.Size)
                    cls.resources.setdefault((tkey, ikey), []).append((lang.id, blob))

    def resource(self, rtype, rid, language):
        entries = self.resources.get((rtype, rid), [])
        self.assertEqual([lang for lang, _ in entries], [language], f"resource {rtype}/{rid}")
        return entries[0][1]

    def test_machine_and_gui_subsystem(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, MACHINES[ARCH])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])

    def test_imports_only_system_dlls_and_driver_ordinals(self):
        dlls = {}
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            dlls[entry.dll.decode().lower()] = entry.imports
        driver = dlls.pop("halvex.dll")
        self.assertEqual(sorted(i.ordinal for i in driver), DRIVER_ORDINALS)
        self.assertTrue(all(i.import_by_ordinal and i.name is None for i in driver))
        self.assertLessEqual(set(dlls), SYSTEM_DLLS)

    def test_shipped_size_within_budget(self):
        if ARCH != "i386":
            self.skipTest("the size budget is the shipped 32-bit program's")
        self.assertLessEqual(len(self.data), SHIPPED_SIZE_BUDGET)

    def test_string_table(self):
        block = self.resource(RT_STRING, 103 // 16 + 1, LANG_NEUTRAL)  # strings 96..111
        strings, offset = {}, 0
        for number in range(96, 112):
            (length,) = struct.unpack_from("<H", block, offset)
            strings[number] = block[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
            offset += 2 + 2 * length
        self.assertEqual(strings[103], "Halvex ver.1.00")
        self.assertEqual(strings[109], "Halvex")
        self.assertEqual([n for n, s in strings.items() if s], [103, 109])

    def icon_group(self, rid):
        group = self.resource(RT_GROUP_ICON, rid, LANG_NEUTRAL)
        _, rtype, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual(rtype, 1)
        images = []
        for i in range(count):
            width, height, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            image = self.resource(RT_ICON, icon_id, LANG_NEUTRAL)
            header_width, header_height, _, image_bits = struct.unpack_from("<iiHH", image, 4)
            self.assertEqual((header_width, header_height // 2, image_bits), (width, height, bits))
            images.append((width, height, bits))
        return images

    def test_icons(self):
        self.assertEqual(self.icon_group(107), [(16, 16, 4), (32, 32, 8)])
        self.assertEqual(self.icon_group(108), [(16, 16, 4)])

    def test_about_dialog_template(self):
        data = self.resource(RT_DIALOG, 132, LANG_NEUTRAL)
        style, ex_style, items, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
        self.assertEqual((style, ex_style, items, x, y, cx, cy), (0x80C800C0, 0, 1, 0, 0, 126, 81))
        menu, offset = sz_or_ord(data, 18)
        window_class, offset = sz_or_ord(data, offset)
        caption, offset = utf16z(data, offset)
        (points,) = struct.unpack_from("<H", data, offset)
        face, offset = utf16z(data, offset + 2)
        self.assertEqual((menu, window_class, caption, points, face), (None, None, "About", 8, "Arial"))
        offset = (offset + 3) & ~3
        style, ex_style, x, y, cx, cy, item_id = struct.unpack_from("<IIhhhhH", data, offset)
        button_class, offset = sz_or_ord(data, offset + 18)
        text, offset = sz_or_ord(data, offset)
        self.assertEqual((style, ex_style, x, y, cx, cy, item_id), (0x50018001, 0, 43, 62, 41, 12, 1))
        self.assertIn(button_class, ("BUTTON", 0x0080))  # by name, or the predefined class's ordinal
        self.assertEqual(text, "OK")

    def test_manifest_is_stored_but_not_applied(self):
        manifest = self.resource("RT_MANIFEST", 2, LANG_NEUTRAL).decode()
        self.assertIn('name="Microsoft.Windows.Common-Controls"', manifest)
        self.assertIn('version="6.0.0.0"', manifest)
        self.assertIn('processorArchitecture="x86"', manifest)
        self.assertIn('language="*"', manifest)
        self.assertFalse([key for key in self.resources if key[0] == RT_MANIFEST])
        self.assertFalse([key for key in self.resources if key[1] == 1 and key[0] == "RT_MANIFEST"])

    def test_no_accelerator_table(self):
        self.assertFalse([key for key in self.resources if key[0] == RT_ACCELERATOR])

    def test_version_record(self):
        self.resource(RT_VERSION, 1, LANG_JAPANESE_JAPAN)
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0))
        self.assertEqual((fixed.FileOS, fixed.FileType), (0x40004, 1))
        tables = [t for info in self.pe.FileInfo[0] if info.Key == b"StringFileInfo" for t in info.StringTable]
        self.assertEqual([t.LangID for t in tables], [b"040904b0"])
        strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
        for key, value in {"FileVersion": "1.00", "ProductVersion": "1.00", "FileDescription": "[Ambrin] Tessaly",
                           "InternalName": "Halvex", "OriginalFilename": "Halvex.exe"}.items():
            self.assertEqual(strings.get(key), value, key)
        self.assertIn("[Ambrin]", strings["CompanyName"])
        self.assertIn("[Ambrin]", strings["LegalCopyright"])
        self.assertTrue(strings["Contact"].endswith("example.org"))


if __name__ == "__main__":
    ARCH, PATH = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0], "-v"])
