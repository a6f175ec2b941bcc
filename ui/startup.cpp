// From an empty process to the shown main window: the window class, the
// window and its controls, the driver, the board list and the first clock.
#include "board/board_list.h"
#include "board/driver.h"
#include "board/pll.h"
#include "command/outcome.h"
#include "res/resource.h"
#include "ui/halvex.h"

#include <commctrl.h>

char g_windowTitle[TEXT_BUFFER_SIZE];
char g_windowClass[TEXT_BUFFER_SIZE];

namespace {

constexpr char BOARD_ENTRY_FORMAT[] = "%i-chip 3Dfx VSA100 graphics card";

// Start-up failures end the program: the message box is owned by the main
// window, which has not been shown.
int FailStartup(const char* message) {
    MessageBoxA(g_mainWindow, message, nullptr, MB_OK);
    return 0;
}

void FillBoardList() {
    unsigned chips;
    for (unsigned index = 0; (chips = g_boards.chipCountAt(index)) != 0; ++index) {
        char entry[TEXT_BUFFER_SIZE];
        wsprintfA(entry, BOARD_ENTRY_FORMAT, static_cast<int>(chips));
        SendMessageA(g_boardCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    }
    SendMessageA(g_boardCombo, CB_SETCURSEL, 0, 0);
}

}  // namespace

ATOM RegisterMainClass(HINSTANCE instance) { return RegisterWindowClass(instance, g_windowClass, MainWndProc); }

// The decoded clock is cut toward zero: 166.807 MHz shows as 166. A value
// outside the spinner's range is passed on, and the spinner shows its nearer
// limit.
void ShowBoardClock(unsigned index) {
    const WORD mhz = static_cast<WORD>(static_cast<unsigned>(g_boards.readClockMHz(index)));
    SendMessageA(g_clockSpin, UDM_SETPOS, 0, MAKELPARAM(mhz, 0));
}

int InitInstance(HINSTANCE instance, int showCommand) {
    g_instance = instance;
    CreateFonts();
    g_mainWindow = CreateMainWindow(instance, g_windowClass, g_windowTitle);
    if (!g_mainWindow)
        return 0;
    CreateControls();
    if (DrvOpen() != 0)
        return FailStartup(NO_DRIVER_TEXT);
    if (!g_boards.detect())
        return FailStartup(NO_BOARD_TEXT);
    FillBoardList();
    ShowBoardClock(0);
    ShowWindow(g_mainWindow, showCommand);
    UpdateWindow(g_mainWindow);
    return 1;
}
