// Halvex.exe with a command line: the clock written with no window, the
// outcome told in a message box (none with /quiet) and in the exit code.
#include "apply/apply_clock.h"
#include "command/command_line.h"
#include "board/board_list.h"
#include "res/resource.h"
#include "ui/halvex.h"

namespace {

constexpr int MESSAGE_SIZE = 1024;  // wsprintfA writes at most this much
constexpr int USAGE_EXIT_CODE = 0;

const char USAGE[] =
    "Usage: Halvex.exe /clock:MHZ [/board:N] [/quiet]\n"
    "\n"
    "/clock:MHZ writes the clock MHZ (50 to 220) into every board found, as Apply does, and exits.\n"
    "/board:N writes board N only (1 is the first listed).\n"
    "/quiet shows no message.\n"
    "\n"
    "Exit code: 0 done, 1 no driver, 2 no board, 3 a board refused the clock, 4 a bad command line.";

void Tell(const CommandRequest& request, const char* text, UINT icon) {
    if (!request.quiet)
        MessageBoxA(nullptr, text, g_windowTitle, MB_OK | icon);
}

// A running window shows the clock it had read; it reads its selected board
// again, as after a board change (a pending change is dropped). Posted, not
// sent: a window that does not answer never holds this up.
void RefreshRunningWindow() {
    if (HWND running = FindWindowA(g_windowClass, g_windowTitle))
        PostMessageA(running, WM_COMMAND, MAKEWPARAM(IDC_BOARD_COMBO, CBN_SELCHANGE), 0);
}

int TellOutcome(const CommandRequest& request, const ApplyOutcome& outcome) {
    char text[MESSAGE_SIZE];
    switch (outcome.status) {
    case APPLY_DONE:
        return APPLY_DONE;
    case APPLY_NO_DRIVER:
        Tell(request, "Unable to load driver!", MB_ICONERROR);
        break;
    case APPLY_NO_BOARD:
        Tell(request, "Unable to detect VSA100 hardware!", MB_ICONERROR);
        break;
    case APPLY_REFUSED:
        if (outcome.refusedCount == 1)
            wsprintfA(text, "Unable to set the clock of board %u: its registers cannot be reached safely.",
                      outcome.firstRefused);
        else
            wsprintfA(text,
                      "Unable to set the clock of board %u and %u more: their registers cannot be reached safely.",
                      outcome.firstRefused, outcome.refusedCount - 1);
        Tell(request, text, MB_ICONERROR);
        break;
    case APPLY_BAD_COMMAND_LINE:
        wsprintfA(text, "There is no board %u: %u found.\n\n%s", request.board, outcome.boardCount, USAGE);
        Tell(request, text, MB_ICONERROR);
        break;
    }
    return outcome.status;
}

}  // namespace

int RunCommand(const CommandRequest& request) {
    char text[MESSAGE_SIZE];
    switch (request.action) {
    case CommandAction::ShowUsage:
        Tell(request, USAGE, MB_ICONINFORMATION);
        return USAGE_EXIT_CODE;
    case CommandAction::BadCommandLine: {
        char problem[COMMAND_WORD_SIZE * 2];
        wsprintfA(problem, request.problem, request.word);
        wsprintfA(text, "%s\n\n%s", problem, USAGE);
        Tell(request, text, MB_ICONERROR);
        return APPLY_BAD_COMMAND_LINE;
    }
    case CommandAction::ApplyClock:
        break;
    case CommandAction::OpenWindow:
        return 0;  // not a command; WinMain opens the window
    }
    const ApplyOutcome outcome = applyClock(g_boards, request);
    if (outcome.status == APPLY_DONE || outcome.status == APPLY_REFUSED)
        RefreshRunningWindow();
    return TellOutcome(request, outcome);
}
