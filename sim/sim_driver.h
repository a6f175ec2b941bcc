// The simulated machine as a driver: the seven operations over a SimMachine
// set up from the environment, with its state file and call log, the same for
// the stand-in Halvex.dll and for the Linux command's simulated method. Only
// the files are the platform's part (SimFiles).
//
//   HALVEX_SIM_BOARDS  boards, "bus:device:subsystem:bar0:pll;..." or "none"
//                      (numbers in C notation, digits only; buses 0 to 254);
//                      unset: a 1-chip board on bus 0, a 2-chip board on bus 1
//   HALVEX_SIM_OPEN    the status DrvOpen returns (non-zero: driver failed)
//   HALVEX_SIM_LOG     a file that receives one line per call:
//                      "<process id> <operation> <arguments...> = <result>"
//   HALVEX_SIM_STATE   the file that keeps the boards' registers between
//                      runs, as a board keeps its clock until power-off;
//                      unset: the platform's default; "none": nothing kept
//
// A malformed HALVEX_SIM_BOARDS makes DrvOpen fail, as a driver that cannot
// find its hardware description would.
#pragma once

#include <string>
#include <vector>

#include "sim/sim_machine.h"

constexpr const char* SIM_STATE_FILE_NAME = "halvex-sim-state.txt";
// A real state is far smaller: a longer file fails to parse.
constexpr unsigned SIM_MAX_STATE_SIZE = 64 * 1024;

struct SimFiles {
    // The file's first SIM_MAX_STATE_SIZE bytes; "" when it cannot be read.
    std::string (*readSmall)(const std::string& path);
    // Replaces the file whole (written beside it and renamed over it, so a
    // reader sees the old text or the new one); false on failure.
    bool (*replace)(const std::string& path, const std::string& text);
    // Appends one line in one write, so several processes share the file.
    void (*appendLine)(const std::string& path, const std::string& line);
    unsigned long (*processId)();
};

class SimDriver {
public:
    SimDriver(const SimFiles& files, const std::string& defaultStatePath);

    uint32_t open();
    uint8_t pciBusCount();
    uint16_t pciReadWord(uint32_t pciAddress, uint32_t offset);
    uint32_t pciReadDword(uint32_t pciAddress, uint32_t offset);
    uint32_t pciWriteDword(uint32_t pciAddress, uint32_t offset, uint32_t value);
    uint32_t memReadDword(uint32_t physicalAddress);
    uint32_t memWriteDword(uint32_t physicalAddress, uint32_t value);

    // The state files that could not be written since the last call, taken.
    std::vector<std::string> takeFailures();

private:
    SimMachine& registers();
    uint32_t logged(uint32_t result);
    uint32_t saved(uint32_t result);

    const SimFiles& files_;
    SimMachine machine_;
    std::string layout_;     // the board description, which tags the state
    std::string logPath_;    // "" for none
    std::string statePath_;  // "" for none
    std::vector<std::string> failures_;
};
