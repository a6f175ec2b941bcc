// The sysfs access method: the seven driver operations over Linux's own view
// of the PCI devices, /sys/bus/pci (or a tree laid out the same way).
// Configuration space is each device's `config` file (pread, pwrite); a board's
// registers are its BAR's `resourceN` file, mapped. Never /dev/mem: memory
// outside a memory BAR of a VSA-100 device is refused.
#pragma once

#include <string>
#include <vector>

#include "board/access.h"

extern const DriverAccess SYSFS_ACCESS;

// The tree: a folder holding devices/ (pciutils' sysfs.path). Set before open;
// setting it forgets whatever the method found and opened in the tree before.
constexpr const char* SYSFS_DEFAULT_ROOT = "/sys/bus/pci";
void sysfsSetRoot(const std::string& root);

// After open: the VSA-100 devices the driver interface cannot address (its
// PCI address has no domain and 8-bit buses below 255), one text each.
const std::vector<std::string>& sysfsUnaddressable();
