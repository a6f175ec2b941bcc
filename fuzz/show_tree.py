#!/usr/bin/python3
"""Prints a sysfs_tree input (fuzz/sysfs_tree.cpp's records) as the tree it
lays out: each entry, a file's size and its non-zero pieces; `resource`
files and short pieces as text where they are text.

    python3 fuzz/show_tree.py INPUT"""
import struct
import sys


def records(data):
    p = 0
    while p < len(data):
        kind = chr(data[p])
        end = data.find(b"\0", p + 1)
        if end < 0:
            return
        path = data[p + 1:end].decode(errors="replace")
        p = end + 1
        if kind == "f":
            if p + 5 > len(data):
                return
            size, count = struct.unpack_from("<IB", data, p)
            p += 5
            pieces = []
            for _ in range(count):
                if p + 6 > len(data):
                    break
                offset, length = struct.unpack_from("<IH", data, p)
                pieces.append((offset, data[p + 6:p + 6 + length]))
                p += 6 + length
            yield kind, path, (size % ((256 << 20) + 1), pieces)
        elif kind == "l":
            end = data.find(b"\0", p)
            if end < 0:
                return
            yield kind, path, data[p:end].decode(errors="replace")
            p = end + 1
        else:
            yield kind, path, None


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    for kind, path, extra in records(data):
        if kind == "f":
            size, pieces = extra
            print(f"file {path} ({size} bytes)")
            for offset, chunk in pieces:
                shown = chunk.decode() if path.endswith("/resource") and chunk.isascii() else chunk.hex(" ", 4)
                print(f"    @0x{offset:x}: {shown}")
        elif kind == "l":
            print(f"link {path} -> {extra}")
        else:
            print({"d": "folder", "p": "pipe"}.get(kind, f"record {kind!r}"), path)


if __name__ == "__main__":
    main()
