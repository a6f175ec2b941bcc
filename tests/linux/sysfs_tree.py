"""Writes a PCI sysfs tree as the Linux kernel lays it out, for the halvex
command's tests and benchmark: DIR/devices/DDDD:BB:DD.F/ with `config` (256
bytes), `resource`, a sparse `resourceN` per memory BAR, and the attribute
files lspci reads (`vendor`, `device`, `class`, `subsystem_vendor`,
`subsystem_device`, `revision`, `irq`)."""
import os
import struct

MEM = 0x200         # IORESOURCE_MEM
IO = 0x100          # IORESOURCE_IO
PREFETCH = 0x2000   # IORESOURCE_PREFETCH
UNSET = 0x20040000  # IORESOURCE_UNSET | IORESOURCE_SIZEALIGN: a BAR the kernel gave no address
MIB = 1 << 20
CHIP_WINDOW = 32 * MIB
VENDOR_3DFX, DEVICE_VSA100 = 0x121A, 0x0009


def chips_for(subsystem):
    return {0x0001: 4, 0x0002: 2, 0x0003: 2, 0x0009: 2}.get(subsystem, 1)


class Device:
    def __init__(self, bus, slot, vendor, device, function=0, domain=0, subsystem=0, cls=0x030000,
                 bars=(), command=0x0000, revision=1):
        """bars: (index, start, size, flags) with flags MEM or IO, PREFETCH
        for a prefetchable memory BAR; start 0 means unassigned."""
        self.domain, self.bus, self.slot, self.function = domain, bus, slot, function
        self.vendor, self.device, self.subsystem, self.cls = vendor, device, subsystem, cls
        self.bars, self.command, self.revision = list(bars), command, revision

    @property
    def name(self):
        return f"{self.domain:04x}:{self.bus:02x}:{self.slot:02x}.{self.function}"

    def config(self):
        data = bytearray(256)
        struct.pack_into("<HHHH", data, 0, self.vendor, self.device, self.command, 0x0230)
        struct.pack_into("<I", data, 8, self.cls << 8 | self.revision)
        for index, start, size, flags in self.bars:
            if flags & IO:
                value = start | 1
            else:
                value = start | (0x8 if flags & PREFETCH else 0)
            struct.pack_into("<I", data, 0x10 + 4 * index, value & 0xFFFFFFFF)
        struct.pack_into("<HH", data, 0x2C, self.vendor if self.subsystem else 0, self.subsystem)
        return bytes(data)


def vsa100(bus, slot, subsystem=0x0004, bar0=0xE0000000, bar0_size=None, pll=0xE721, prefetch=True, **kw):
    """A VSA-100 board: BAR0 the chips' register windows (32 MiB each unless
    bar0_size says otherwise), every chip's pllControl set to `pll`."""
    size = bar0_size if bar0_size is not None else chips_for(subsystem) * CHIP_WINDOW
    flags = MEM | (PREFETCH if prefetch else 0)
    board = Device(bus, slot, VENDOR_3DFX, DEVICE_VSA100, subsystem=subsystem, bars=[(0, bar0, size, flags)], **kw)
    board.pll = pll
    return board


def write_tree(root, devices, private_bars=True):
    """Writes the tree under `root`; BAR files are root-only (0600) as the
    kernel makes them, unless private_bars is False."""
    folder = os.path.join(root, "devices")
    os.makedirs(folder, exist_ok=True)
    for d in devices:
        path = os.path.join(folder, d.name)
        os.makedirs(path)
        files = {
            "config": d.config(),
            "vendor": f"0x{d.vendor:04x}\n", "device": f"0x{d.device:04x}\n", "class": f"0x{d.cls:06x}\n",
            "subsystem_vendor": f"0x{d.vendor if d.subsystem else 0:04x}\n",
            "subsystem_device": f"0x{d.subsystem:04x}\n",
            "revision": f"0x{d.revision:02x}\n", "irq": "0\n",
        }
        lines = [(0, 0, 0)] * 13  # 6 BARs, the ROM, bridge windows
        # An unassigned BAR shows its size from 0, and its file is there, as
        # the kernel has them.
        for index, start, size, flags in d.bars:
            lines[index] = (start, start + size - 1, flags | (0 if start else UNSET))
        files["resource"] = "".join(f"0x{s:016x} 0x{e:016x} 0x{f:016x}\n" for s, e, f in lines)
        for name, content in files.items():
            mode = "wb" if isinstance(content, bytes) else "w"
            with open(os.path.join(path, name), mode) as f:
                f.write(content)
        for index, start, size, flags in d.bars:
            if flags & MEM:
                bar = os.path.join(path, f"resource{index}")
                with open(bar, "wb") as f:
                    f.truncate(size)
                    if index == 0 and hasattr(d, "pll"):
                        for chip in range(min(chips_for(d.subsystem), size // CHIP_WINDOW)):
                            f.seek(chip * CHIP_WINDOW + 0x44)
                            f.write(struct.pack("<I", d.pll))
                os.chmod(bar, 0o600 if private_bars else 0o644)
    return root


def read_chip(root, device, chip):
    """pllControl of chip `chip`, straight from the BAR file."""
    with open(os.path.join(root, "devices", device.name, "resource0"), "rb") as f:
        f.seek(chip * CHIP_WINDOW + 0x44)
        return struct.unpack("<I", f.read(4))[0]


def typical(root):
    """About 40 devices on 3 buses: host bridges, a chipset's functions, a
    network card, storage, USB, and two VSA-100 boards."""
    devices = [Device(0, 0, 0x8086, 0x7190, cls=0x060000), Device(0, 1, 0x8086, 0x7191, cls=0x060400)]
    for function in range(4):
        devices.append(Device(0, 7, 0x8086, 0x7110 + function, function=function, cls=0x060100))
    for slot in range(8, 20):
        devices.append(Device(0, slot, 0x10EC, 0x8139, cls=0x020000, bars=[(0, 0xF0000000 + slot * 0x10000, 0x1000, MEM)]))
    for slot in range(0, 10):
        devices.append(Device(2, slot, 0x1106, 0x3038, cls=0x0C0300))
    for slot in range(10, 20):
        devices.append(Device(2, slot, 0x1095, 0x3112, cls=0x010400))
    devices.append(vsa100(1, 0, subsystem=0x0002, bar0=0xD8000000, pll=0x3B05))
    devices.append(vsa100(2, 20, subsystem=0x0004, bar0=0xE4000000))
    return write_tree(root, devices), devices


def large(root):
    """16 full buses: 512 devices, one VSA-100 board among them."""
    devices = []
    for bus in range(16):
        for slot in range(32):
            if (bus, slot) == (15, 31):
                devices.append(vsa100(bus, slot, subsystem=0x0001, bar0=0xC0000000))
            else:
                devices.append(Device(bus, slot, 0x8086, 0x1000 + slot, cls=0x020000))
    return write_tree(root, devices), devices
