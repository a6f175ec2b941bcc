// Facts about VSA-100 boards on the PCI bus: where the configuration registers
// are, how a board tells its chip count, and where each chip's registers lie.
#pragma once

#include <cstdint>

namespace vsa100 {

constexpr uint16_t VENDOR_3DFX = 0x121A;
constexpr uint16_t DEVICE_VSA100 = 0x0009;

// Configuration-space byte offsets (type 0 header).
constexpr uint32_t PCI_VENDOR_ID = 0x00;
constexpr uint32_t PCI_DEVICE_ID = 0x02;
constexpr uint32_t PCI_COMMAND = 0x04;  // command in bits 0..15, status in 16..31
constexpr uint32_t PCI_BAR0 = 0x10;
constexpr uint32_t PCI_SUBSYSTEM_ID = 0x2E;

constexpr uint32_t COMMAND_IO_SPACE = 0x1;
constexpr uint32_t COMMAND_MEMORY_SPACE = 0x2;

// The low four bits of a memory BAR are flags (space, type, prefetchable);
// bit 0 set means the BAR decodes I/O ports, not memory.
constexpr uint32_t BAR_FLAG_MASK = 0xF;
constexpr uint32_t BAR_IO_SPACE = 0x1;

constexpr unsigned DEVICES_PER_BUS = 32;
// The driver's bus count is 8 bits: buses 0 to 254 can be scanned, so no list
// holds more boards than there are slots on them.
constexpr unsigned MAX_BUS_COUNT = 255;
constexpr unsigned MAX_BOARD_COUNT = MAX_BUS_COUNT * DEVICES_PER_BUS;

// Each chip of a board decodes its own 32 MiB register window behind BAR0.
constexpr uint32_t CHIP_WINDOW_SIZE = 0x2000000;
constexpr uint32_t REG_PLL_CONTROL = 0x44;
// The driver addresses physical memory with 32 bits: nothing at or above
// 4 GiB can be reached.
constexpr uint64_t PHYSICAL_ADDRESS_LIMIT = uint64_t(1) << 32;

constexpr uint32_t pciAddress(unsigned bus, unsigned device) { return ((bus & 0xFFu) << 8) | ((device & 0x1Fu) << 3); }

// Board makers mark multi-chip boards by subsystem identifier.
constexpr uint32_t chipCountForSubsystem(uint16_t subsystemId) {
    switch (subsystemId) {
    case 0x0001:
        return 4;
    case 0x0002:
    case 0x0003:
    case 0x0009:
        return 2;
    default:
        return 1;
    }
}

}  // namespace vsa100
