// Reading a number a user typed for a clock or a board: whole, in decimal
// digits only (no sign, space or suffix), never wrapping around. Used by both
// command lines, Halvex.exe's and the Linux command's.
#pragma once

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
