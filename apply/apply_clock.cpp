#include "apply/apply_clock.h"

#include "board/driver.h"

namespace {

// One board: the front end's check, then the board code's with the write.
bool applyToBoard(const BoardList& boards, const ApplyRequest& request, const ApplyHooks& hooks, unsigned number) {
    if (hooks.check && !hooks.check(hooks.context, boards, number))
        return false;
    const BoardReason reason =
        request.mhz == LIST_ONLY ? BoardReason::Usable : boards.programClock(request.mhz, number - 1);
    const bool told = !hooks.report || hooks.report(hooks.context, boards, number, reason);
    return told && reason == BoardReason::Usable;
}

}  // namespace

ApplyOutcome applyClock(BoardList& boards, const ApplyRequest& request, const ApplyHooks& hooks) {
    ApplyOutcome outcome;
    if (DrvOpen() != 0) {
        outcome.status = ApplyStatus::NoDriver;
        return outcome;
    }
    const bool found = boards.detect();
    if (hooks.detected && !hooks.detected(hooks.context)) {
        outcome.status = ApplyStatus::Stopped;
        return outcome;
    }
    if (!found) {
        outcome.status = ApplyStatus::NoBoard;
        return outcome;
    }
    outcome.boardCount = boards.count();
    // A board that is not listed is a mistake in the command line: checked
    // before anything is written, so no board gets a half-meant clock.
    if (request.board > outcome.boardCount) {
        outcome.status = ApplyStatus::NoSuchBoard;
        return outcome;
    }
    for (unsigned number = 1; number <= outcome.boardCount; ++number) {
        if (request.board != ALL_BOARDS && number != request.board)
            continue;
        if (!applyToBoard(boards, request, hooks, number)) {
            if (outcome.refusedCount++ == 0)
                outcome.firstRefused = number;
            outcome.status = ApplyStatus::Refused;
        }
    }
    return outcome;
}
