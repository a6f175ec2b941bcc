"""Reads a Windows shortcut (.lnk) as the file it is: the Shell Link Binary
File Format (MS-SHLLINK). Only what a shortcut's user sees: the target path
and the command-line arguments, with the working folder and the comment."""
import struct

HEADER_SIZE = 0x4C
LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")
HAS_TARGET_ID_LIST = 0x01
HAS_LINK_INFO = 0x02
HAS_NAME = 0x04
HAS_RELATIVE_PATH = 0x08
HAS_WORKING_DIR = 0x10
HAS_ARGUMENTS = 0x20
HAS_ICON_LOCATION = 0x40
IS_UNICODE = 0x80
VOLUME_ID_AND_LOCAL_BASE_PATH = 0x01


class ShellLink:
    def __init__(self, target, arguments, working_dir, comment):
        self.target, self.arguments, self.working_dir, self.comment = target, arguments, working_dir, comment


def _ansi_z(data, offset):
    return data[offset:data.index(b"\0", offset)].decode("latin-1")


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    size, clsid, flags = struct.unpack_from("<I16sI", data, 0)
    if size != HEADER_SIZE or clsid != LINK_CLSID:
        raise ValueError(f"{path}: not a shell link")
    offset = HEADER_SIZE
    if flags & HAS_TARGET_ID_LIST:
        (id_list_size,) = struct.unpack_from("<H", data, offset)
        offset += 2 + id_list_size
    target = None
    if flags & HAS_LINK_INFO:
        info_size, _, info_flags, _, local_base, _, suffix = struct.unpack_from("<7I", data, offset)
        if info_flags & VOLUME_ID_AND_LOCAL_BASE_PATH:
            target = _ansi_z(data, offset + local_base) + _ansi_z(data, offset + suffix)
        offset += info_size
    strings = {}
    for flag in (HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR, HAS_ARGUMENTS, HAS_ICON_LOCATION):
        if not flags & flag:
            continue
        (count,) = struct.unpack_from("<H", data, offset)
        width = 2 if flags & IS_UNICODE else 1
        raw = data[offset + 2:offset + 2 + count * width]
        offset += 2 + count * width
        # Wine counts a trailing NUL that the format leaves out.
        strings[flag] = (raw.decode("utf-16-le") if width == 2 else raw.decode("latin-1")).rstrip("\0")
    if target is None:
        raise ValueError(f"{path}: no local target path")
    return ShellLink(target, strings.get(HAS_ARGUMENTS, ""), strings.get(HAS_WORKING_DIR, ""),
                     strings.get(HAS_NAME, ""))
