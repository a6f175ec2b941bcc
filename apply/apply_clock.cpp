#include "apply/apply_clock.h"

#include "command/command_line.h"
#include "board/board_list.h"
#include "board/driver.h"

ApplyOutcome applyClock(BoardList& boards, const CommandRequest& request) {
    ApplyOutcome outcome;
    if (DrvOpen() != 0) {
        outcome.status = APPLY_NO_DRIVER;
        return outcome;
    }
    if (!boards.detect()) {
        outcome.status = APPLY_NO_BOARD;
        return outcome;
    }
    outcome.boardCount = boards.count();
    // A board that is not listed is a mistake in the command line: checked
    // before anything is written, so no board gets a half-meant clock.
    if (request.board > outcome.boardCount) {
        outcome.status = APPLY_BAD_COMMAND_LINE;
        return outcome;
    }
    for (unsigned number = 1; number <= outcome.boardCount; ++number) {
        if (request.board != ALL_BOARDS && number != request.board)
            continue;
        if (!boards.writeClock(request.mhz, number - 1)) {
            if (outcome.refusedCount++ == 0)
                outcome.firstRefused = number;
            outcome.status = APPLY_REFUSED;
        }
    }
    return outcome;
}
