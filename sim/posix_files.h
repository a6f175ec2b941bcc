// The simulated machine's files for Linux programs, kept with POSIX calls:
// what the Linux command's simulated method (sim/sim_driver.h) runs on. The
// state file defaults to halvex-sim-state.txt in $XDG_RUNTIME_DIR, or in /tmp.
#pragma once

#include "sim/sim_driver.h"

extern const SimFiles POSIX_SIM_FILES;
