// What Halvex.exe tells of a command line: its exit code and the text of its
// message box, made with no platform header so the host tests read them
// exactly. The window's start-up tells its two failures in the same words.
#pragma once

#include "apply/apply_clock.h"

struct CommandRequest;

extern const char NO_DRIVER_TEXT[];
extern const char NO_BOARD_TEXT[];

enum CommandExitCode {
    EXIT_DONE = 0,
    EXIT_NO_DRIVER = 1,
    EXIT_NO_BOARD = 2,
    EXIT_REFUSED = 3,
    EXIT_BAD_COMMAND_LINE = 4,
};

constexpr int MESSAGE_SIZE = 1024;

struct CommandMessage {
    int exitCode = EXIT_DONE;
    bool error = false;        // an error's box, else information
    char text[MESSAGE_SIZE] = "";  // "": no message
    int length = 0;
    unsigned untold = 0;       // refusals that did not fit
};

// A command line that asks for no apply (/?, a bad line): its message and
// exit code.
void describeRequest(const CommandRequest& request, CommandMessage* message);
// The apply's hooks: each board the board code refuses gets a line of
// `message` with its reason.
ApplyHooks refusalHooks(CommandMessage* message);
// The apply's outcome, after it ran with refusalHooks(message).
void describeOutcome(const CommandRequest& request, const ApplyOutcome& outcome, CommandMessage* message);
