// The simulated boards' description (HALVEX_SIM_BOARDS) and their state file,
// read by the stand-in Halvex.dll and the Linux command's simulated method:
// the input up to its first NUL byte is the description, the rest the state
// file. The boards are then detected, read and written through the driver
// operations, as either program does, with the state kept in memory.
#include <cstdlib>

#include "board/access.h"
#include "board/board_list.h"
#include "board/driver.h"
#include "board/pll.h"
#include "fuzz/check.h"
#include "sim/sim_driver.h"

namespace {

std::string g_state;  // the state file
SimDriver* g_driver = nullptr;

std::string readState(const std::string&) { return g_state.substr(0, SIM_MAX_STATE_SIZE); }
bool replaceState(const std::string&, const std::string& text) {
    g_state = text;
    return true;
}
void noLog(const std::string&, const std::string&) {}
unsigned long processId() { return 1; }
const SimFiles MEMORY_FILES = {readState, replaceState, noLog, processId};

const DriverAccess SIMULATED = {
    "simulated",
    [] { return g_driver->open(); },
    [] { return g_driver->pciBusCount(); },
    [](uint32_t a, uint32_t o) { return g_driver->pciReadWord(a, o); },
    [](uint32_t a, uint32_t o) { return g_driver->pciReadDword(a, o); },
    [](uint32_t a, uint32_t o, uint32_t v) { return g_driver->pciWriteDword(a, o, v); },
    [](uint32_t p) { return g_driver->memReadDword(p); },
    [](uint32_t p, uint32_t v) { return g_driver->memWriteDword(p, v); },
    [](uint32_t, unsigned, bool) { return std::string(); },
    [] { return std::string(); },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find('\0');
    const std::string description = input.substr(0, cut);
    g_state = cut == std::string::npos ? "" : input.substr(cut + 1);

    std::vector<SimBoard> described;
    const bool good = SimMachine::parseBoards(description, &described);
    if (good) {
        // What was read is what a description of those boards says again.
        for (size_t i = 0; i < described.size(); ++i)
            for (size_t j = 0; j < i; ++j)
                FUZZ_CHECK(described[i].pciAddress() != described[j].pciAddress(), description);
    }

    setenv("HALVEX_SIM_BOARDS", description.c_str(), 1);
    setenv("HALVEX_SIM_STATE", "state", 1);
    SimDriver driver(MEMORY_FILES, "state");
    g_driver = &driver;
    selectDriverAccess(&SIMULATED);
    if (DrvOpen() != 0) {
        FUZZ_CHECK(!good, description);  // only a bad description fails the driver
        return 0;
    }
    FUZZ_CHECK(good, description);
    BoardList boards;
    boards.detect();
    // Every board the description holds is found, in bus and slot order.
    FUZZ_CHECK(boards.count() == described.size(), description);
    const unsigned mhz = MIN_CLOCK_MHZ + static_cast<unsigned>(size % PLL_TABLE_SIZE);
    for (unsigned i = 0; i < boards.count(); ++i) {
        boards.readClockMHz(i);
        if (boards.writeClock(mhz, i)) {
            const std::string saved = g_state;
            FUZZ_CHECK(boards.readClockMHz(i) == pllFrequencyMHz(PllTable[mhz - MIN_CLOCK_MHZ]), description);
            // The state written is one the next start takes up again.
            SimMachine reread;
            reread.boards = described;
            FUZZ_CHECK(reread.loadState(saved, description), saved);
        }
    }
    return 0;
}
