// How a simulated machine is set up from the environment, the same for the
// stand-in Halvex.dll and for the Linux command's simulated method:
//
//   HALVEX_SIM_BOARDS  boards, "bus:device:subsystem:bar0:pll;..." or "none";
//                      unset: a 1-chip board on bus 0, a 2-chip board on bus 1
//   HALVEX_SIM_OPEN    the status DrvOpen returns (non-zero: driver failed)
//   HALVEX_SIM_LOG     a file that receives one line per call:
//                      "<process id> <operation> <arguments...> = <result>"
//   HALVEX_SIM_STATE   the file that keeps the boards' registers between
//                      runs, as a board keeps its clock until power-off;
//                      unset: the platform's default; "none": nothing kept
//
// A malformed HALVEX_SIM_BOARDS makes DrvOpen fail, as a driver that cannot
// find its hardware description would. Reading and writing the files is the
// platform's part.
#pragma once

#include <string>

#include "driver/sim_machine.h"

constexpr const char* SIM_STATE_FILE_NAME = "halvex-sim-state.txt";
// A real state is far smaller: a longer file fails to parse.
constexpr unsigned SIM_MAX_STATE_SIZE = 64 * 1024;

struct SimSetup {
    std::string layout;     // the board description, which tags the state
    std::string logPath;    // "" for none
    std::string statePath;  // "" for none
};

SimSetup setUpSimMachine(SimMachine* machine, const std::string& defaultStatePath);
