// The one windowless apply, for Halvex.exe's /clock: and the Linux command's
// set, apply and list: open the driver, detect the boards as the window's
// start-up does, pick every board or the one asked for, and write into each
// the board code and the front end find usable, telling the front end of each
// board with its reason. The outcome is a value each front end turns into its
// own exit code and message.
#pragma once

#include "board/board_list.h"

// ApplyRequest::board for every board found.
constexpr unsigned ALL_BOARDS = 0;
// ApplyRequest::mhz for a listing: nothing is written, each board asked for is
// only reported.
constexpr unsigned LIST_ONLY = 0;

struct ApplyRequest {
    unsigned mhz = LIST_ONLY;     // MIN_CLOCK_MHZ..MAX_CLOCK_MHZ, or LIST_ONLY
    unsigned board = ALL_BOARDS;  // numbered from 1 in list order
};

enum class ApplyStatus {
    Done,         // every board asked for was written (or, listing, reported)
    NoDriver,     // DrvOpen failed
    Stopped,      // the front end stopped after detection
    NoBoard,      // detection found nothing
    NoSuchBoard,  // the board asked for is not listed; nothing written
    Refused,      // a board was refused or failed; the others were written
};

// What a front end adds to the loop; any member may be null. `number` counts
// from 1, as the lists show boards.
struct ApplyHooks {
    void* context = nullptr;
    // After detection, before any board: false stops with nothing written
    // (the way to the hardware failed in a way the front end has told).
    bool (*detected)(void* context) = nullptr;
    // The front end's own advance check of a board, made before the board code
    // touches it; false refuses it (the front end has told why).
    bool (*check)(void* context, const BoardList& boards, unsigned number) = nullptr;
    // Board `number` was written (or, listing, is to be reported) when
    // `reason` is Usable, else refused by the board code with nothing
    // written; false counts it as failed.
    bool (*report)(void* context, const BoardList& boards, unsigned number, BoardReason reason) = nullptr;
};

struct ApplyOutcome {
    ApplyStatus status = ApplyStatus::Done;
    unsigned boardCount = 0;    // the boards detected
    unsigned refusedCount = 0;  // refused or failed
    unsigned firstRefused = 0;  // the first of them, by number
};

// `boards` is empty and is filled by detection.
ApplyOutcome applyClock(BoardList& boards, const ApplyRequest& request, const ApplyHooks& hooks = ApplyHooks());
