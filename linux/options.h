// What the halvex command is asked to do: its command line, and for `apply`
// the settings halvex.service hands over in the environment (CLOCK, BOARD).
// Reading them prints nothing: the outcome carries the text to show.
#pragma once

#include <string>

#include "apply/apply_clock.h"
#include "board/access.h"
#include "linux/sysfs_access.h"

enum ExitStatus { EXIT_DONE = 0, EXIT_UNREACHABLE = 1, EXIT_NO_BOARD = 2, EXIT_USAGE = 64 };

extern const char PROGRAM[];
extern const char USAGE[];

struct Options {
    bool apply = false;
    ApplyRequest request;  // LIST_ONLY unless set or apply
    const BoardAccess* access = &SYSFS_ACCESS;
    // The method's own parameter, as --sysfs gives it; no name: none.
    const char* parameter = nullptr;
    std::string parameterValue;
};

// Go on (status < 0), or end with `status` once `text` is shown: on stderr
// when `isError`, else on stdout.
struct OptionsOutcome {
    int status = -1;
    std::string text;
    bool isError = false;

    bool goesOn() const { return status < 0; }
};

// Reads argv[1..argc-1].
OptionsOutcome parseOptions(int argc, const char* const* argv, Options* options);
// `apply`: the clock and board from CLOCK and BOARD, given as `clock` and
// `board` (nullptr for unset). A --board already given wins over BOARD.
OptionsOutcome readSettings(const char* clock, const char* board, Options* options);
