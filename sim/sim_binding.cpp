// The board code's calls go to one simulated machine, `g_machine`, in programs
// that test the board and window code in-process.
#include "board/access.h"
#include "sim/sim_machine.h"

SimMachine g_machine;

namespace {

SimMachine& testMachine() { return g_machine; }

// Before any test runs: the object is linked for g_machine, which every test
// program names.
const bool g_selected = (selectBoardAccess(simMachineAccess(testMachine)), true);

}  // namespace
