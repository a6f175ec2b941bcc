// Reading a number a user typed for a clock or a board: whole, in decimal
// digits only (no sign, space or suffix), never wrapping around. Used by both
// command lines, Halvex.exe's and the Linux command's, and the service's
// settings.
#pragma once

#include "board/pll.h"
#include "board/vsa100.h"

// False for anything else and for a number above `limit` (at most 1000000,
// so that it never wraps).
inline bool parseWholeNumber(const char* text, unsigned limit, unsigned* value) {
    if (!*text)
        return false;
    unsigned number = 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(*text - '0');
        if (number > limit)
            return false;
    }
    *value = number;
    return true;
}

// A clock in the table's range, MIN_CLOCK_MHZ to MAX_CLOCK_MHZ.
inline bool parseClock(const char* text, unsigned* mhz) {
    return parseWholeNumber(text, MAX_CLOCK_MHZ, mhz) && *mhz >= MIN_CLOCK_MHZ;
}

// A board number as the lists show them, from 1; one above any list that
// can be is no board number at all.
inline bool parseBoardNumber(const char* text, unsigned* board) {
    return parseWholeNumber(text, vsa100::MAX_BOARD_COUNT, board) && *board != 0;
}
