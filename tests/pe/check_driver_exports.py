#!/usr/bin/python3
"""Checks that a Halvex.dll exports exactly the seven driver operations by
ordinal, with no names."""
import sys

import pefile

EXPECTED_ORDINALS = [1, 2, 4, 5, 8, 15, 18]


def main(path):
    pe = pefile.PE(path)
    exports = pe.DIRECTORY_ENTRY_EXPORT.symbols
    ordinals = sorted(e.ordinal for e in exports)
    names = [e.name for e in exports if e.name]
    ok = ordinals == EXPECTED_ORDINALS and not names and pe.DIRECTORY_ENTRY_EXPORT.struct.NumberOfNames == 0
    print(f"{path}: ordinals {ordinals}, names {names}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
