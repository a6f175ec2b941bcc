// Halvex.exe with a command line: the clock written with no window, the
// outcome told in a message box (none with /quiet) and in the exit code.
#include "apply/apply_clock.h"
#include "command/command_line.h"
#include "command/outcome.h"
#include "res/resource.h"
#include "ui/halvex.h"

namespace {

// A running window shows the clock it had read; it reads its selected board
// again, as after a board change (a pending change is dropped). Posted, not
// sent: a window that does not answer never holds this up.
void RefreshRunningWindow() {
    if (HWND running = FindWindowA(g_windowClass, g_windowTitle))
        PostMessageA(running, WM_COMMAND, MAKEWPARAM(IDC_BOARD_COMBO, CBN_SELCHANGE), 0);
}

}  // namespace

int RunCommand(const CommandRequest& request) {
    CommandMessage message;
    if (request.action == CommandAction::ApplyClock) {
        ApplyRequest apply;
        apply.mhz = request.mhz;
        apply.board = request.board;
        const ApplyOutcome outcome = applyClock(g_boards, apply, refusalHooks(&message));
        if (outcome.status == ApplyStatus::Done || outcome.status == ApplyStatus::Refused)
            RefreshRunningWindow();
        describeOutcome(request, outcome, &message);
    } else {
        describeRequest(request, &message);
    }
    if (message.text[0] && !request.quiet)
        MessageBoxA(nullptr, message.text, g_windowTitle, MB_OK | (message.error ? MB_ICONERROR : MB_ICONINFORMATION));
    return message.exitCode;
}
