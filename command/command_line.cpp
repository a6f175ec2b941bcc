#include "command/command_line.h"

#include "apply/whole_number.h"

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Splits off the next word into `word` (quotes dropped); false at the end of
// the text. A word longer than `word` holds is cut and marked with `tooLong`,
// so that a cut can never make a bad value look good.
bool nextWord(const char** text, char* word, unsigned size, bool* tooLong = nullptr) {
    const char* p = *text;
    while (isSpace(*p))
        ++p;
    if (!*p)
        return false;
    bool quoted = false;
    unsigned length = 0;
    for (; *p && (quoted || !isSpace(*p)); ++p) {
        if (*p == '"')
            quoted = !quoted;
        else if (length + 1 < size)
            word[length++] = *p;
        else if (tooLong)
            *tooLong = true;
    }
    word[length] = '\0';
    *text = p;
    return true;
}

// Whether `word` is the switch `name`, as /name or -name, any case; `value`
// then points past it: at ":value", or at the end.
bool isSwitch(const char* word, const char* name, const char** value) {
    if (word[0] != '/' && word[0] != '-')
        return false;
    const char* p = word + 1;
    for (; *name; ++p, ++name)
        if (lower(*p) != *name)
            return false;
    if (*p != '\0' && *p != ':')
        return false;
    *value = p;
    return true;
}

void copyWord(char* to, const char* from) {
    unsigned i = 0;
    for (; from[i] && i + 1 < COMMAND_WORD_SIZE; ++i)
        to[i] = from[i];
    to[i] = '\0';
}

CommandRequest bad(CommandRequest request, const char* problem, const char* word) {
    request.action = CommandAction::BadCommandLine;
    request.problem = problem;
    copyWord(request.word, word);
    return request;
}

}  // namespace

CommandRequest parseCommandLine(const char* arguments) {
    CommandRequest request;
    const char* text = arguments ? arguments : "";
    char word[COMMAND_WORD_SIZE];
    const char* value;
    // /quiet counts wherever it stands, even on a line that is otherwise bad,
    // and /? wins over everything else.
    bool help = false;
    for (const char* scan = text; nextWord(&scan, word, sizeof word);) {
        request.quiet |= isSwitch(word, "quiet", &value) && !*value;
        help |= isSwitch(word, "?", &value) && !*value;
    }
    if (help) {
        request.action = CommandAction::ShowUsage;
        return request;
    }

    bool sawClock = false, sawBoard = false, sawQuiet = false, tooLong = false;
    while (nextWord(&text, word, sizeof word, &tooLong)) {
        if (tooLong)
            return bad(request, "Word too long: %s...", word);
        const bool isClock = isSwitch(word, "clock", &value);
        const bool isBoard = !isClock && isSwitch(word, "board", &value);
        if (isSwitch(word, "quiet", &value)) {
            if (*value)
                return bad(request, "Unknown switch: %s", word);
            if (sawQuiet)
                return bad(request, "Switch given twice: %s", word);
            sawQuiet = true;
            continue;
        }
        if (!isClock && !isBoard)
            return bad(request, word[0] == '/' || word[0] == '-' ? "Unknown switch: %s" : "Unexpected word: %s", word);
        bool& seen = isClock ? sawClock : sawBoard;
        if (seen)
            return bad(request, "Switch given twice: %s", word);
        seen = true;
        char name[COMMAND_WORD_SIZE];
        copyWord(name, word);
        name[value - word] = '\0';
        // "/clock:183", or "/clock 183" with the number as the next word.
        char separate[COMMAND_WORD_SIZE];
        if (*value == ':')
            ++value;
        else if (nextWord(&text, separate, sizeof separate, &tooLong) && !tooLong)
            value = separate;
        else if (tooLong)
            return bad(request, "Word too long: %s...", separate);
        else
            return bad(request, "%s needs a number", name);
        if (isClock && !parseClock(value, &request.mhz))
            return bad(request, "Not a clock from " CLOCK_RANGE_TEXT " MHz: \"%s\"", value);
        if (!isClock && !parseBoardNumber(value, &request.board))
            return bad(request, "Not a board number: \"%s\"", value);
    }
    if (sawBoard && !sawClock)
        return bad(request, "%s needs /clock", "/board");
    if (sawQuiet && !sawClock)
        return bad(request, "%s needs /clock", "/quiet");
    if (sawClock)
        request.action = CommandAction::ApplyClock;
    return request;
}
