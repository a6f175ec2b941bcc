// One way of reaching PCI configuration space and physical memory, as a table
// of the board code's seven operations (board/driver.h) and what a method
// knows beyond them, as pciutils has `struct pci_access` and its methods. The
// Linux command picks one at run time (sysfs, or the simulated machine), the
// stand-in Halvex.dll exports the simulated machine's, and the in-process
// tests fill one over their own machine. Halvex.exe does not use it: it calls
// the driver library's ordinals directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BoardAccess {
    const char* name;
    uint32_t (*open)();
    uint8_t (*busCount)();
    uint16_t (*configReadWord)(uint32_t pciAddress, uint32_t offset);
    uint32_t (*configReadDword)(uint32_t pciAddress, uint32_t offset);
    uint32_t (*configWriteDword)(uint32_t pciAddress, uint32_t offset, uint32_t value);
    uint32_t (*memoryReadDword)(uint32_t physicalAddress);
    uint32_t (*memoryWriteDword)(uint32_t physicalAddress, uint32_t value);

    // A setting only this method understands (the sysfs method's "path"),
    // made before open; false when the method has no such parameter.
    bool (*setParameter)(const char* name, const std::string& value);
    // What stands in the way of reaching the board at `pciAddress`, found out
    // before anything is written to it (the readout writes its command
    // register too); "" when nothing does, else why. `chips` is how many
    // register windows the caller will touch (a write to a chip past the end
    // of its BAR would land in whatever lies behind it); `forWrite` whether it
    // will write them.
    std::string (*boardProblem)(uint32_t pciAddress, unsigned chips, bool forWrite);
    // The first failure (operation, path, system error) since the last call,
    // taken; "" when there was none.
    std::string (*takeFailure)();
    // After open: what the user should know that is no failure (boards the
    // method sees but the board code cannot address), taken.
    std::vector<std::string> (*takeWarnings)();
};

// For a method's takeFailure: the first of the failures kept, all of them taken.
inline std::string takeFirstFailure(std::vector<std::string>* failures) {
    const std::string first = failures->empty() ? "" : failures->front();
    failures->clear();
    return first;
}

// The board code's calls go to `access` from now on.
void selectBoardAccess(const BoardAccess* access);
