// The simulated boards' description (HALVEX_SIM_BOARDS) and their state file,
// read by the stand-in Halvex.dll and the Linux command's simulated method:
// the input up to its first NUL byte is the description, the rest the state
// file. The machine is set up from them as the environment sets it up, its
// state kept in memory, and the boards are listed and written through the
// windowless apply, as either program does.
#include "apply/apply_clock.h"
#include "board/access.h"
#include "board/pll.h"
#include "fuzz/check.h"
#include "sim/sim_machine.h"

namespace {

SimMachine g_machine;
std::string g_layout;
std::string g_state;  // the state file

SimMachine& machine() { return g_machine; }

// As the environment keeps the state: read again before each access, saved
// after each write.
void refresh(SimMachine& m) { m.loadState(g_state, g_layout); }
void recorded(SimMachine& m, bool wrote) {
    if (wrote)
        g_state = m.saveState(g_layout);
    m.calls.clear();
}
const SimKeeper KEEPER = {refresh, recorded};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find('\0');
    g_layout = input.substr(0, cut);
    g_state = cut == std::string::npos ? "" : input.substr(cut + 1);

    g_machine = SimMachine();
    if (!SimMachine::parseBoards(g_layout, &g_machine.boards))
        return 0;  // the driver does not open
    const std::vector<SimBoard> described = g_machine.boards;
    for (size_t i = 0; i < described.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            FUZZ_CHECK(described[i].pciAddress() != described[j].pciAddress(), g_layout);
    g_machine.loadState(g_state, g_layout);
    g_machine.keeper = &KEEPER;
    selectBoardAccess(simMachineAccess(machine));

    BoardList boards;
    ApplyRequest request;
    const ApplyOutcome listed = applyClock(boards, request);
    // Every board the description holds is found.
    FUZZ_CHECK(listed.boardCount == described.size(), g_layout);
    request.mhz = MIN_CLOCK_MHZ + static_cast<unsigned>(size % PLL_TABLE_SIZE);
    BoardList again;
    const ApplyOutcome written = applyClock(again, request);
    FUZZ_CHECK(written.boardCount == described.size(), g_layout);
    if (written.status == ApplyStatus::Done) {
        for (unsigned i = 0; i < again.count(); ++i)
            FUZZ_CHECK(again.readClockMHz(i) == pllFrequencyMHz(PllTable[request.mhz - MIN_CLOCK_MHZ]), g_layout);
        // The state written is one the next start takes up again.
        SimMachine next;
        next.boards = described;
        FUZZ_CHECK(next.loadState(g_state, g_layout), g_state);
    }
    return 0;
}
