// Writing one clock into the boards with no window: what Apply does, for every
// board found or for one, after opening the driver and detecting the boards as
// the window's start-up does. The results are the program's exit codes.
#pragma once

class BoardList;
struct CommandRequest;

enum ApplyStatus {
    APPLY_DONE = 0,
    APPLY_NO_DRIVER = 1,        // DrvOpen failed
    APPLY_NO_BOARD = 2,         // detection found nothing
    APPLY_REFUSED = 3,          // a board refused the write; the others were written
    APPLY_BAD_COMMAND_LINE = 4  // nothing written, the board asked for included
};

struct ApplyOutcome {
    ApplyStatus status = APPLY_DONE;
    unsigned firstRefused = 0;  // APPLY_REFUSED: the first board number refused
    unsigned refusedCount = 0;
    unsigned boardCount = 0;  // the boards detected
};

// `request` asks for ApplyClock; `boards` is empty and is filled by detection.
ApplyOutcome applyClock(BoardList& boards, const CommandRequest& request);
