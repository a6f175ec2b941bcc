#include "sim/sim_machine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "board/access.h"
#include "board/vsa100.h"

using namespace vsa100;

namespace {

constexpr uint32_t ABSENT = 0xFFFFFFFF;  // what nobody answering reads as
constexpr uint32_t PCI_CLASS_REVISION = 0x08;
constexpr uint32_t PCI_SUBSYSTEM_VENDOR = 0x2C;
constexpr uint32_t CLASS_VGA_REV1 = 0x03000001;
// The driver's bus count is 8 bits: a board on bus 255 could never be
// scanned (and would make the count wrap to 0, hiding every other board).
constexpr uint32_t MAX_BOARD_BUS = MAX_BUS_COUNT - 1;

// A number in C notation and nothing else: strtoul alone would also take
// leading white space and a sign, so that "\n1" or " -1" (which wraps to
// 0xFFFFFFFF where a long has 32 bits) would read as numbers.
bool parseNumber(const std::string& field, uint32_t limit, uint32_t* value) {
    if (field.empty() || field[0] < '0' || field[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long parsed = strtoul(field.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed > limit)
        return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

const char STATE_HEADER[] = "halvex-sim-state 1";

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

}  // namespace

namespace {

// Name and number of arguments of each operation, in DrvOp order.
const struct {
    const char* name;
    int argumentCount;
} OPERATIONS[] = {
    {"DrvOpen", 0},          {"DrvPciBusCount", 0},  {"DrvPciReadWord", 2},   {"DrvPciReadDword", 2},
    {"DrvPciWriteDword", 3}, {"DrvMemReadDword", 1}, {"DrvMemWriteDword", 2},
};

}  // namespace

const char* drvOpName(DrvOp op) { return OPERATIONS[static_cast<int>(op)].name; }

bool DrvCall::operator==(const DrvCall& other) const {
    return op == other.op && args[0] == other.args[0] && args[1] == other.args[1] && args[2] == other.args[2] &&
           result == other.result;
}

SimBoard& SimMachine::addBoard(unsigned bus, unsigned device, uint16_t subsystemId, uint32_t bar0, uint32_t pll) {
    SimBoard board;
    board.bus = bus;
    board.device = device;
    board.subsystemId = subsystemId;
    board.bar0 = bar0;
    board.pllControl.assign(chipCountForSubsystem(subsystemId), pll);
    boards.push_back(board);
    return boards.back();
}

SimBoard* SimMachine::boardAt(uint32_t pciAddress) {
    for (SimBoard& board : boards)
        if (board.pciAddress() == pciAddress)
            return &board;
    return nullptr;
}

uint32_t SimMachine::configDword(uint32_t pciAddress, uint32_t offset) {
    const SimBoard* board = boardAt(pciAddress);
    if (!board)
        return ABSENT;
    switch (offset & ~3u) {
    case PCI_VENDOR_ID:
        return static_cast<uint32_t>(board->deviceId) << 16 | board->vendorId;
    case PCI_COMMAND:
        return board->command;
    case PCI_CLASS_REVISION:
        return CLASS_VGA_REV1;
    case PCI_BAR0:
        return board->bar0;
    case PCI_SUBSYSTEM_VENDOR:
        return static_cast<uint32_t>(board->subsystemId) << 16 | VENDOR_3DFX;
    default:
        return 0;
    }
}

// A chip answers only while its board decodes memory at a memory BAR.
uint32_t* SimMachine::registerAt(uint32_t physicalAddress) {
    for (SimBoard& board : boards) {
        const uint32_t base = board.bar0 & ~BAR_FLAG_MASK;
        if (!(board.command & COMMAND_MEMORY_SPACE) || (board.bar0 & BAR_IO_SPACE) || base == 0)
            continue;
        if (physicalAddress < base)
            continue;
        const uint64_t offset = physicalAddress - base;
        if (offset >= uint64_t(board.pllControl.size()) * CHIP_WINDOW_SIZE)
            continue;
        if (offset % CHIP_WINDOW_SIZE == REG_PLL_CONTROL)
            return &board.pllControl[offset / CHIP_WINDOW_SIZE];
    }
    return nullptr;
}

uint32_t SimMachine::record(DrvOp op, uint32_t a0, uint32_t a1, uint32_t a2, uint32_t result) {
    calls.push_back({op, {a0, a1, a2}, result});
    if (keeper)
        keeper->recorded(*this, op == DrvOp::PciWriteDword || op == DrvOp::MemWriteDword);
    return result;
}

void SimMachine::refresh() {
    if (keeper)
        keeper->refresh(*this);
}

uint32_t SimMachine::open() { return record(DrvOp::Open, 0, 0, 0, openStatus); }

uint8_t SimMachine::pciBusCount() {
    uint32_t count;
    if (!busCounts.empty()) {
        count = busCounts[busCountCalls_ < busCounts.size() ? busCountCalls_ : busCounts.size() - 1];
        ++busCountCalls_;
    } else {
        count = 1;
        for (const SimBoard& board : boards)
            if (board.bus + 1 > count)
                count = board.bus + 1;
    }
    return static_cast<uint8_t>(record(DrvOp::PciBusCount, 0, 0, 0, count & 0xFF));
}

uint16_t SimMachine::pciReadWord(uint32_t pciAddress, uint32_t offset) {
    const uint32_t word = (configDword(pciAddress, offset) >> ((offset & 2) * 8)) & 0xFFFF;
    return static_cast<uint16_t>(record(DrvOp::PciReadWord, pciAddress, offset, 0, word));
}

uint32_t SimMachine::pciReadDword(uint32_t pciAddress, uint32_t offset) {
    refresh();
    return record(DrvOp::PciReadDword, pciAddress, offset, 0, configDword(pciAddress, offset));
}

// Only the command half of offset 0x04 is writable; the status half is the
// device's own.
uint32_t SimMachine::pciWriteDword(uint32_t pciAddress, uint32_t offset, uint32_t value) {
    refresh();
    SimBoard* board = boardAt(pciAddress);
    if (board && offset == PCI_COMMAND)
        board->command = (board->command & 0xFFFF0000) | (value & 0xFFFF);
    return record(DrvOp::PciWriteDword, pciAddress, offset, value, 0);
}

uint32_t SimMachine::memReadDword(uint32_t physicalAddress) {
    refresh();
    const uint32_t* reg = registerAt(physicalAddress);
    return record(DrvOp::MemReadDword, physicalAddress, 0, 0, reg ? *reg : ABSENT);
}

uint32_t SimMachine::memWriteDword(uint32_t physicalAddress, uint32_t value) {
    refresh();
    if (uint32_t* reg = registerAt(physicalAddress))
        *reg = value;
    return record(DrvOp::MemWriteDword, physicalAddress, value, 0, 0);
}

bool SimMachine::parseBoards(const std::string& text, std::vector<SimBoard>* boards) {
    std::vector<SimBoard> parsed;
    if (!text.empty() && text != "none") {
        SimMachine machine;
        for (const std::string& item : split(text, ';')) {
            const std::vector<std::string> f = split(item, ':');
            uint32_t bus, device, subsystem, bar0, pll;
            if (f.size() != 5 || !parseNumber(f[0], MAX_BOARD_BUS, &bus) || !parseNumber(f[1], 0x1F, &device) ||
                !parseNumber(f[2], 0xFFFF, &subsystem) || !parseNumber(f[3], 0xFFFFFFFF, &bar0) ||
                !parseNumber(f[4], 0xFFFFFFFF, &pll))
                return false;
            if (machine.boardAt(pciAddress(bus, device)))
                return false;  // two boards in one slot
            machine.addBoard(bus, device, static_cast<uint16_t>(subsystem), bar0, pll);
        }
        parsed = machine.boards;
    }
    *boards = parsed;
    return true;
}

std::string SimMachine::formatCall(const DrvCall& call) {
    char text[128];
    int length = snprintf(text, sizeof text, "%s", drvOpName(call.op));
    for (int i = 0; i < OPERATIONS[static_cast<int>(call.op)].argumentCount; ++i)
        length += snprintf(text + length, sizeof text - length, " 0x%08X", static_cast<unsigned>(call.args[i]));
    snprintf(text + length, sizeof text - length, " = 0x%08X", static_cast<unsigned>(call.result));
    return text;
}

std::string SimMachine::saveState(const std::string& layout) const {
    std::string text = std::string(STATE_HEADER) + "\nlayout " + layout + "\n";
    for (const SimBoard& board : boards) {
        char field[16];
        snprintf(field, sizeof field, "board 0x%X", static_cast<unsigned>(board.pciAddress()));
        text += field;
        snprintf(field, sizeof field, " 0x%X", static_cast<unsigned>(board.command));
        text += field;
        for (uint32_t pll : board.pllControl) {
            snprintf(field, sizeof field, " 0x%X", static_cast<unsigned>(pll));
            text += field;
        }
        text += "\n";
    }
    return text;
}

bool SimMachine::loadState(const std::string& text, const std::string& layout) {
    const std::vector<std::string> lines = split(text, '\n');
    // Header, layout, one line per board, and the empty rest after the last newline.
    if (lines.size() != boards.size() + 3 || lines[0] != STATE_HEADER || lines[1] != "layout " + layout ||
        !lines.back().empty())
        return false;
    std::vector<SimBoard> restored = boards;
    for (size_t i = 0; i < restored.size(); ++i) {
        SimBoard& board = restored[i];
        const std::vector<std::string> f = split(lines[i + 2], ' ');
        uint32_t address;
        if (f.size() != board.pllControl.size() + 3 || f[0] != "board" || !parseNumber(f[1], 0xFFFF, &address) ||
            address != board.pciAddress() || !parseNumber(f[2], 0xFFFFFFFF, &board.command))
            return false;
        for (size_t chip = 0; chip < board.pllControl.size(); ++chip)
            if (!parseNumber(f[chip + 3], 0xFFFFFFFF, &board.pllControl[chip]))
                return false;
    }
    boards = restored;
    return true;
}

namespace {

SimMachine& (*g_simulated)() = nullptr;

uint32_t simOpen() { return g_simulated().open(); }
uint8_t simBusCount() { return g_simulated().pciBusCount(); }
uint16_t simReadWord(uint32_t a, uint32_t o) { return g_simulated().pciReadWord(a, o); }
uint32_t simReadDword(uint32_t a, uint32_t o) { return g_simulated().pciReadDword(a, o); }
uint32_t simWriteDword(uint32_t a, uint32_t o, uint32_t v) { return g_simulated().pciWriteDword(a, o, v); }
uint32_t simMemRead(uint32_t p) { return g_simulated().memReadDword(p); }
uint32_t simMemWrite(uint32_t p, uint32_t v) { return g_simulated().memWriteDword(p, v); }

bool simSetParameter(const char*, const std::string&) { return false; }

// Each simulated chip decodes exactly its own window, always reachable; a
// BAR0 the board code cannot use is refused there, before any write.
std::string simBoardProblem(uint32_t, unsigned, bool) { return ""; }

std::string simTakeFailure() { return takeFirstFailure(&g_simulated().failures); }

std::vector<std::string> simTakeWarnings() { return {}; }

const BoardAccess SIMULATED_ACCESS = {
    "simulated",     simOpen,    simBusCount, simReadWord,     simReadDword,   simWriteDword,
    simMemRead,      simMemWrite, simSetParameter, simBoardProblem, simTakeFailure, simTakeWarnings,
};

}  // namespace

const BoardAccess* simMachineAccess(SimMachine& (*machine)()) {
    g_simulated = machine;
    return &SIMULATED_ACCESS;
}
