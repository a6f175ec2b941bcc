// The simulated access method for Linux programs: the simulated machine set
// up from the environment as the stand-in Halvex.dll sets it up
// (sim/sim_driver.h), its state file kept with POSIX calls. The state file
// defaults to halvex-sim-state.txt in $XDG_RUNTIME_DIR, or in /tmp.
#pragma once

#include "board/access.h"

extern const DriverAccess SIMULATED_ACCESS;
