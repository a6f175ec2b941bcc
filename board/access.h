// One way of reaching PCI configuration space and physical memory: the seven
// driver operations as a table, so that a program offering several methods
// (the Linux command: sysfs, or the simulated machine) picks one at run time,
// as pciutils picks its access methods. The Windows program does not use it:
// it calls Halvex.dll's ordinals directly.
#pragma once

#include <cstdint>
#include <string>

struct DriverAccess {
    const char* name;
    uint32_t (*open)();
    uint8_t (*pciBusCount)();
    uint16_t (*pciReadWord)(uint32_t pciAddress, uint32_t offset);
    uint32_t (*pciReadDword)(uint32_t pciAddress, uint32_t offset);
    uint32_t (*pciWriteDword)(uint32_t pciAddress, uint32_t offset, uint32_t value);
    uint32_t (*memReadDword)(uint32_t physicalAddress);
    uint32_t (*memWriteDword)(uint32_t physicalAddress, uint32_t value);

    // Beyond the seven: what stands in the way of reaching the board at
    // `pciAddress`, found out before anything is written to it (the readout
    // writes its command register too); "" when nothing does, else why.
    // `chips` is how many register windows the caller will touch (a write to
    // a chip past the end of its BAR would land in whatever lies behind it);
    // `forWrite` whether it will write them.
    std::string (*boardProblem)(uint32_t pciAddress, unsigned chips, bool forWrite);
    // The first failure (operation, path, system error) since the last call,
    // taken; "" when there was none.
    std::string (*takeFailure)();
};

// The driver operations of board/driver.h go to `access` from now on.
void selectDriverAccess(const DriverAccess* access);
