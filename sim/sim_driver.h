// The simulated machine set up from the environment, with its state file and
// call log: the access method the stand-in Halvex.dll exports and the Linux
// command's `--simulate` picks. Only the files are the platform's part
// (SimFiles).
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

struct BoardAccess;

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
    // Where the state is kept when HALVEX_SIM_STATE is unset.
    std::string (*defaultStatePath)();
};

// The environment's machine over `files`, set up at its first call.
const BoardAccess* simulatedAccess(const SimFiles* files);
