// The sysfs access method: the seven driver operations over Linux's own view
// of the PCI devices, /sys/bus/pci (or a tree laid out the same way).
// Configuration space is each device's `config` file (pread, pwrite); a board's
// registers are its BAR's `resourceN` file, mapped. Never /dev/mem: memory
// outside a memory BAR of a VSA-100 device is refused.
#pragma once

#include "board/access.h"

// Its one parameter: the tree, a folder holding devices/ (pciutils'
// sysfs.path), /sys/bus/pci unless set; set before open, it forgets whatever
// the method found and opened in the tree before. Its warnings: the VSA-100
// devices the driver interface cannot address (its PCI address has no domain
// and 8-bit buses below 255), one text each.
constexpr const char* SYSFS_PATH_PARAMETER = "path";
constexpr const char* SYSFS_DEFAULT_ROOT = "/sys/bus/pci";

extern const BoardAccess SYSFS_ACCESS;
