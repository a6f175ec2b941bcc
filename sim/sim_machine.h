// A simulated PCI machine with VSA-100 boards, behind the seven driver
// operations. Configuration space answers per slot (absent slots read all
// ones), each board decodes one 32 MiB register window per chip at BAR0 while
// memory decoding is on, and every call is recorded with its arguments and
// result. Both the host tests and the stand-in Halvex.dll drive it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class DrvOp { Open, PciBusCount, PciReadWord, PciReadDword, PciWriteDword, MemReadDword, MemWriteDword };

const char* drvOpName(DrvOp op);

struct DrvCall {
    DrvOp op;
    uint32_t args[3];  // unused arguments are 0
    uint32_t result;

    bool operator==(const DrvCall& other) const;
};

struct SimBoard {
    unsigned bus = 0;
    unsigned device = 0;
    uint16_t vendorId = 0x121A;
    uint16_t deviceId = 0x0009;
    uint16_t subsystemId = 0x0004;
    // Status half: capabilities list, 66 MHz capable. Decoding starts off,
    // as on a board the firmware did not enable.
    uint32_t command = 0x02300000;
    uint32_t bar0 = 0;
    std::vector<uint32_t> pllControl;  // one per chip

    uint32_t pciAddress() const { return (bus << 8) | (device << 3); }
};

class SimMachine;
struct BoardAccess;

// What a machine whose registers are shared with other processes (through a
// file, sim_driver.cpp) does around its calls: `refresh` before each call that
// reads or writes a register the file keeps, `recorded` after every call
// (the latest one last in `calls`), told whether it wrote.
struct SimKeeper {
    void (*refresh)(SimMachine& machine);
    void (*recorded)(SimMachine& machine, bool wrote);
};

class SimMachine {
public:
    // Answers of DrvOpen and DrvPciBusCount. The bus counts are returned in
    // turn and the last one repeats; empty means "highest board bus + 1".
    uint32_t openStatus = 0;
    std::vector<uint32_t> busCounts;
    std::vector<SimBoard> boards;
    std::vector<DrvCall> calls;
    const SimKeeper* keeper = nullptr;
    // What the keeper could not do (a state file not written), until taken.
    std::vector<std::string> failures;

    // Adds a board of the chip count its subsystem identifier stands for,
    // every chip's pllControl set to `pll`.
    SimBoard& addBoard(unsigned bus, unsigned device, uint16_t subsystemId, uint32_t bar0, uint32_t pll);

    uint32_t open();
    uint8_t pciBusCount();
    uint16_t pciReadWord(uint32_t pciAddress, uint32_t offset);
    uint32_t pciReadDword(uint32_t pciAddress, uint32_t offset);
    uint32_t pciWriteDword(uint32_t pciAddress, uint32_t offset, uint32_t value);
    uint32_t memReadDword(uint32_t physicalAddress);
    uint32_t memWriteDword(uint32_t physicalAddress, uint32_t value);

    // Parses a board description: boards separated by ';', each
    // "bus:device:subsystem:bar0:pll" in C notation (0x.. for hex).
    // "none" or an empty text means no boards. False on a malformed text.
    static bool parseBoards(const std::string& text, std::vector<SimBoard>* boards);
    static std::string formatCall(const DrvCall& call);

    // The registers a power cycle would reset (command and pllControl of every
    // board) as text, tagged with `layout`, the description the boards came
    // from. loadState restores them only from such a text made for the same
    // layout and boards; otherwise it returns false and changes nothing.
    std::string saveState(const std::string& layout) const;
    bool loadState(const std::string& text, const std::string& layout);

private:
    SimBoard* boardAt(uint32_t pciAddress);
    uint32_t* registerAt(uint32_t physicalAddress);
    uint32_t configDword(uint32_t pciAddress, uint32_t offset);
    uint32_t record(DrvOp op, uint32_t a0, uint32_t a1, uint32_t a2, uint32_t result);
    void refresh();

    size_t busCountCalls_ = 0;
};

// The simulated machine as an access method: the seven operations on the
// machine `machine` returns, asked at every call. One such machine serves a
// process at a time.
const BoardAccess* simMachineAccess(SimMachine& (*machine)());
