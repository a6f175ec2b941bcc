#include "command/outcome.h"

#include "board/pll.h"
#include "command/command_line.h"

const char NO_DRIVER_TEXT[] = "Unable to load driver!";
const char NO_BOARD_TEXT[] = "Unable to detect VSA100 hardware!";

namespace {

// Room kept at the end of a message for the count of the refusals not told.
constexpr int MESSAGE_TAIL_SIZE = 64;
constexpr int NUMBER_SIZE = 12;  // an unsigned in decimal, with its end

const char USAGE[] =
    "Usage: Halvex.exe /clock:MHZ [/board:N] [/quiet]\n"
    "\n"
    "/clock:MHZ writes the clock MHZ (" CLOCK_RANGE_TEXT ") into every board found, as Apply does, and exits.\n"
    "/board:N writes board N only (1 is the first listed).\n"
    "/quiet shows no message.\n"
    "\n"
    "Exit code: 0 done, 1 no driver, 2 no board, 3 a board refused the clock, 4 a bad command line.";

// Appends as much of `text` as fits, always ending the message.
void append(CommandMessage* message, const char* text) {
    for (; *text && message->length + 1 < MESSAGE_SIZE; ++text)
        message->text[message->length++] = *text;
    message->text[message->length] = '\0';
}

void appendNumber(CommandMessage* message, unsigned number) {
    char digits[NUMBER_SIZE];
    char* p = digits + sizeof digits;
    *--p = '\0';
    do
        *--p = static_cast<char>('0' + number % 10);
    while (number /= 10);
    append(message, p);
}

// `format` with its one "%s" replaced by `word`.
void appendFormat(CommandMessage* message, const char* format, const char* word) {
    char head[MESSAGE_SIZE];
    int length = 0;
    for (; *format && !(format[0] == '%' && format[1] == 's'); ++format)
        head[length++] = *format;
    head[length] = '\0';
    append(message, head);
    if (*format) {
        append(message, word);
        append(message, format + 2);
    }
}

void setText(CommandMessage* message, int exitCode, bool error, const char* text) {
    message->exitCode = exitCode;
    message->error = error;
    message->length = 0;
    append(message, text);
}

void badCommandLine(CommandMessage* message) {
    message->exitCode = EXIT_BAD_COMMAND_LINE;
    message->error = true;
    append(message, "\n\n");
    append(message, USAGE);
}

bool noteRefusal(void* context, const BoardList&, unsigned number, BoardReason reason) {
    if (reason == BoardReason::Usable)
        return true;
    CommandMessage* message = static_cast<CommandMessage*>(context);
    // One line a board while room is left; the rest only counted.
    if (message->length + MESSAGE_TAIL_SIZE * 2 > MESSAGE_SIZE) {
        ++message->untold;
        return true;
    }
    if (message->length)
        append(message, "\n");
    append(message, "Unable to set the clock of board ");
    appendNumber(message, number);
    append(message, ": ");
    append(message, boardReasonText(reason));
    append(message, ".");
    return true;
}

}  // namespace

void describeRequest(const CommandRequest& request, CommandMessage* message) {
    if (request.action == CommandAction::ShowUsage) {
        setText(message, EXIT_DONE, false, USAGE);
    } else if (request.action == CommandAction::BadCommandLine) {
        message->length = 0;
        appendFormat(message, request.problem, request.word);
        badCommandLine(message);
    }
}

ApplyHooks refusalHooks(CommandMessage* message) {
    ApplyHooks hooks;
    hooks.context = message;
    hooks.report = noteRefusal;
    return hooks;
}

void describeOutcome(const CommandRequest& request, const ApplyOutcome& outcome, CommandMessage* message) {
    switch (outcome.status) {
    case ApplyStatus::Done:
        setText(message, EXIT_DONE, false, "");
        break;
    case ApplyStatus::NoDriver:
    case ApplyStatus::Stopped:  // this front end has no check of its own to stop it
        setText(message, EXIT_NO_DRIVER, true, NO_DRIVER_TEXT);
        break;
    case ApplyStatus::NoBoard:
        setText(message, EXIT_NO_BOARD, true, NO_BOARD_TEXT);
        break;
    case ApplyStatus::NoSuchBoard:
        setText(message, EXIT_BAD_COMMAND_LINE, true, "There is no board ");
        appendNumber(message, request.board);
        append(message, ": ");
        appendNumber(message, outcome.boardCount);
        append(message, " found.");
        badCommandLine(message);
        break;
    case ApplyStatus::Refused:
        message->exitCode = EXIT_REFUSED;
        message->error = true;
        if (message->untold) {
            append(message, "\n");
            appendNumber(message, message->untold);
            append(message, " more boards refused it too.");
        }
        break;
    }
}
