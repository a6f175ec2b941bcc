// What Halvex.exe is asked to do by its command line: open its window (no
// arguments), or write one clock into the boards and exit, for a shortcut that
// restores the clock at every logon.
//
//   Halvex.exe /clock:MHZ [/board:N] [/quiet]      also /clock MHZ, -clock:MHZ
//   Halvex.exe /?
//
// Switches are case-insensitive and start with '/' or '-'. No platform header:
// the host tests read command lines with it too.
#pragma once

#include "apply/apply_clock.h"

enum class CommandAction { OpenWindow, ApplyClock, ShowUsage, BadCommandLine };

constexpr unsigned COMMAND_WORD_SIZE = 64;

struct CommandRequest {
    CommandAction action = CommandAction::OpenWindow;
    unsigned mhz = 0;             // ApplyClock: MIN_CLOCK_MHZ..MAX_CLOCK_MHZ
    unsigned board = ALL_BOARDS;  // ApplyClock: numbered from 1 in list order
    bool quiet = false;           // no message box, whatever happens
    // BadCommandLine: what is wrong, a format with one %s for `word`.
    const char* problem = nullptr;
    char word[COMMAND_WORD_SIZE] = "";
};

// Reads the arguments after the program's name, as WinMain receives them.
// Double quotes group words and are dropped.
CommandRequest parseCommandLine(const char* arguments);
