// What a PCI sysfs tree says in text: a device folder's name, and the lines
// of its `resource` file. The tree may come from anywhere (--sysfs DIR), so
// both are read exactly as the kernel writes them and nothing else.
#pragma once

#include <cstdint>
#include <string>

struct PciName {
    unsigned domain = 0, bus = 0, slot = 0, function = 0;
};

// "dddd:bb:ss.f" in lower-case hexadecimal, as the kernel names a device (a
// domain above ffff has up to eight digits, with no leading zero); false for
// anything else, so that no two names stand for one device.
bool parsePciName(const char* name, PciName* parsed);

constexpr unsigned BAR_COUNT = 6;

struct ResourceRange {
    uint64_t start = 0, end = 0, flags = 0;
};

// The BARs from the start of a `resource` file: one line per BAR, BAR0 first,
// "0x<start> 0x<end> 0x<flags>" in hexadecimal (the kernel writes 16 digits
// each); the lines after BAR5 (the ROM, bridge windows) are not read. "" when
// all six are there and well formed, else what is wrong.
std::string parseResourceLines(const std::string& text, ResourceRange bars[BAR_COUNT]);
