#!/usr/bin/python3
"""Writes the fuzz targets' seed corpora (fuzz/corpus/TARGET/) from what the
tests use: the command lines of both programs, the simulated boards'
description and state, and the sysfs trees tests/linux/sysfs_tree.py makes,
laid out in sysfs_tree's record format (see fuzz/sysfs_tree.cpp). Run it
again after changing a tree or a format; it replaces the seeds it wrote
(named seed-*) and leaves the other files, the inputs kept from crashes."""
import glob
import os
import struct
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "linux"))
import sysfs_tree as st  # noqa: E402

CORPUS = os.path.join(HERE, "corpus")
MAX_PIECE = 0xFFFF

EXE_COMMAND_LINES = [
    "", "/clock:183", "-CLOCK:50", "/Clock 220", '"/clock:183"', '/clock "166" /board "2"', "/board:2 /clock:166 /quiet",
    "-quiet -board:1 -clock:100", "/?", "/clock:183 -?", "/bogus /? /quiet", "/clock:183x", "/clock:4294967346",
    "/clock", "/clock /quiet", "/board:0 /clock:183", "/quiet", "/clock:183 /clock:184", "/clock:" + "9" * 80,
]

# Words after the program's name; "\x1e" starts CLOCK, then BOARD (apply).
LINUX_COMMAND_LINES = [
    [], ["list"], ["set", "183"], ["set", "166", "-b", "3"], ["set", "183", "--board=1", "-b", "2"],
    ["--sysfs", "/tmp/tree", "list", "--board", "2"], ["--sysfs=/tmp/tree", "set", "220"], ["--simulate", "set", "50"],
    ["--simulate", "--sysfs", "x"], ["set", "4294967479"], ["list", "extra"], ["--bogus"], ["--help"], ["-V"],
    ["apply", "\x1e183", "2"], ["apply", "--board", "3", "\x1e183", "1"], ["apply", "\x1e"], ["apply", "\x1efast"],
    ["apply", "\x1e183", "two"], ["apply", "\x1e183", ""],
]

SIM_DESCRIPTIONS = [
    ("0:9:0x0004:0xE4000008:0xE721;1:0:0x0002:0xD8000008:0x3B05", True),
    ("0:1:4:0:0xE721", False), ("none", False), ("", False), ("0:1:0x0001:0xC0000000:0x4405;0:2:1:0xE0000001:0", True),
    ("3:31:9:0xF8000000:0x5205", True), ("0:1:4:0xE0000000:0xE721;0:1:2:0xD0000000:0xE721", False),
]


def sim_state(description):
    """The state the stand-in keeps for these boards, as it writes it."""
    lines = ["halvex-sim-state 1", f"layout {description}"]
    for item in description.split(";"):
        bus, device, subsystem, bar0, pll = (int(f, 0) for f in item.split(":"))
        chips = st.chips_for(subsystem)
        lines.append(" ".join([f"board 0x{bus << 8 | device << 3:X}", "0x2300003"] + [f"0x{pll:X}"] * chips))
    return "\n".join(lines) + "\n"


def pieces(path):
    """The non-zero runs of a (sparse) file as (offset, bytes), looking only
    at its data extents."""
    runs = []
    with open(path, "rb") as f:
        fd = f.fileno()
        size = os.fstat(fd).st_size
        offset = 0
        while offset < size:
            try:
                data = os.lseek(fd, offset, os.SEEK_DATA)
            except OSError:
                break
            hole = os.lseek(fd, data, os.SEEK_HOLE)
            f.seek(data)
            chunk = f.read(hole - data)
            i = 0
            while i < len(chunk):
                if chunk[i] == 0:
                    i += 1
                    continue
                j = i
                while j < len(chunk) and j - i < MAX_PIECE and (chunk[j] != 0 or chunk[j:j + 8].strip(b"\0")):
                    j += 1
                runs.append((data + i, chunk[i:j]))
                i = j
            offset = hole
    return size, runs


def tree_records(root, files=("config", "resource", "resource0", "resource1", "resource2")):
    """The tree under `root` as records: each device's folder and the files
    halvex reads (lspci's attribute files left out)."""
    out = bytearray()
    devices = os.path.join(root, "devices")
    for name in sorted(os.listdir(devices)):
        folder = os.path.join(devices, name)
        out += b"d" + f"devices/{name}".encode() + b"\0"
        for file in files:
            path = os.path.join(folder, file)
            if not os.path.exists(path):
                continue
            relative = f"devices/{name}/{file}".encode()
            if os.path.isdir(path):
                out += b"d" + relative + b"\0"
                continue
            size, runs = pieces(path)
            out += b"f" + relative + b"\0" + struct.pack("<IB", size, len(runs))
            for offset, chunk in runs:
                out += struct.pack("<IH", offset, len(chunk)) + chunk
    return bytes(out)


def trees():
    """(name, devices, damage) of the trees the command's tests make."""
    boards = [
        st.Device(0, 0, 0x8086, 0x7190, cls=0x060000),
        st.Device(0, 3, 0x121A, 0x0005, bars=[(0, 0xF0000000, 32 * st.MIB, st.MEM)]),
        st.vsa100(0, 9, subsystem=0x0004, bar0=0xE4000000, pll=0xE721),
        st.Device(1, 0, 0x10DE, 0x0009, bars=[(0, 0xE8000000, 16 * st.MIB, st.MEM)]),
        st.vsa100(1, 2, subsystem=0x0009, bar0=0xD8000000, pll=0x3B05, prefetch=False),
        st.vsa100(3, 1, subsystem=0x0001, bar0=0xC0000000, pll=0x4405),
    ]
    yield "three-boards", boards, None
    yield "unassigned", [st.vsa100(0, 1, bar0=0), st.vsa100(0, 2, subsystem=0x0002, bar0=0xD4000000)], None
    yield "io-bar", [st.Device(0, 1, 0x121A, 0x0009, subsystem=0x0002, bars=[(0, 0xE000, 0x100, st.IO)])], None
    yield "small-bar", [st.vsa100(0, 1, subsystem=0x0001, bar0=0xD0000000, bar0_size=64 * st.MIB)], None
    yield "past-4gib", [st.vsa100(0, 1, subsystem=0x0001, bar0=0xFC000000)], None
    yield "domain-and-bus-ff", [st.vsa100(0, 1), st.vsa100(0, 2, domain=1), st.vsa100(0xFF, 0, bar0=0xC0000000)], None
    yield "short-resource0", [st.vsa100(0, 1, subsystem=0x0002), st.vsa100(0, 2, bar0=0xD4000000)], \
        ("0000:00:01.0", "resource0", "short")
    yield "config-directory", [st.Device(0, 7, 0x8086, 0x7110), st.Device(0, 7, 0x8086, 0x7111, function=1),
                               st.vsa100(0, 9)], ("0000:00:07.1", "config", "directory")


def damage(root, name, file, how):
    path = os.path.join(root, "devices", name, file)
    if how == "short":
        os.truncate(path, 4096)
    else:
        os.remove(path)
        os.mkdir(path)


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"seed-{name}"), "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


def main():
    for old in glob.glob(os.path.join(CORPUS, "*", "seed-*")):
        os.remove(old)
    for i, line in enumerate(EXE_COMMAND_LINES):
        write("exe_command_line", f"{i:02}", line)
    for i, words in enumerate(LINUX_COMMAND_LINES):
        write("command_options", f"{i:02}", "\0".join(words))
    for i, (description, with_state) in enumerate(SIM_DESCRIPTIONS):
        write("sim_description", f"{i:02}", description + ("\0" + sim_state(description) if with_state else ""))
    with tempfile.TemporaryDirectory() as folder:
        st.typical(os.path.join(folder, "typical"))
        write("sysfs_tree", "typical", tree_records(os.path.join(folder, "typical")))
        for name, devices, harm in trees():
            root = os.path.join(folder, name)
            st.write_tree(root, devices)
            if harm:
                damage(root, *harm)
            write("sysfs_tree", name, tree_records(root))
            for device in devices:
                device_folder = os.path.join(root, "devices", device.name)
                if os.path.isfile(os.path.join(device_folder, "resource")):
                    with open(os.path.join(device_folder, "resource")) as f:
                        write("sysfs_text", f"{name}-{device.name.replace(':', '-')}", device.name + "\0" + f.read())


if __name__ == "__main__":
    main()
