// The main window: the warning text, the board list, the clock spinner and the
// Default, Apply and About buttons.
#include "board/board_list.h"
#include "board/pll.h"
#include "res/resource.h"
#include "ui/halvex.h"

#include <commctrl.h>

namespace {

const PaintedText MAIN_TEXTS[] = {
    {&fontBold, 10, 10, "Note"},
    {&fontText, 37, 10, ": Changing the hardware settings may"},
    {&fontText, 10, 24, "cause system instability and possibly dam-"},
    {&fontText, 10, 38, "age the hardware. Use at your own risk."},
    {&fontBold, 10, 65, "Target Hardware"},
    {&fontBold, 10, 115, "Core and Memory Clock Frequency"},
    {&fontControl, 65, 135, "MHz"},
};

// Apply is enabled by a change the user may want to write, and disabled once
// it is written or discarded.
void EnableApply(bool enable) { EnableWindow(g_applyButton, enable); }

unsigned SelectedBoard() { return static_cast<unsigned>(SendMessageA(g_boardCombo, CB_GETCURSEL, 0, 0)); }

void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    PaintTexts(dc, paint.rcPaint, MAIN_TEXTS, ARRAYSIZE(MAIN_TEXTS));
    EndPaint(window, &paint);
}

void OnAbout(HWND window) { DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDlgProc, 0); }

// Default only moves the spinner; the hardware is written by Apply.
void OnDefault() {
    SendMessageA(g_clockSpin, UDM_SETPOS, 0, MAKELPARAM(DEFAULT_CLOCK_MHZ, 0));
    EnableApply(true);
}

// An out-of-range clock or no selection makes writeClock refuse; the button
// is disabled either way and nothing is reported.
void OnApply() {
    const unsigned mhz = LOWORD(SendMessageA(g_clockSpin, UDM_GETPOS, 0, 0));
    g_boards.writeClock(mhz, SelectedBoard());
    EnableApply(false);
}

// A newly picked board shows its own clock; a pending change is dropped.
void OnBoardChanged() {
    ShowBoardClock(SelectedBoard());
    EnableApply(false);
}

void OnCommand(HWND window, WORD id, WORD code) {
    if (code == BN_CLICKED && id == IDC_ABOUT)
        OnAbout(window);
    else if (code == BN_CLICKED && id == IDC_DEFAULT)
        OnDefault();
    else if (code == BN_CLICKED && id == IDC_APPLY)
        OnApply();
    else if (code == CBN_SELCHANGE && id == IDC_BOARD_COMBO)
        OnBoardChanged();
}

// Any notification from the spinner means the user moved it.
void OnNotify(WPARAM senderId) {
    if (senderId == IDC_CLOCK_SPIN)
        EnableApply(true);
}

void OnDestroy() {
    DeleteObject(fontText);
    DeleteObject(fontBold);
    DeleteObject(fontControl);
    const HWND controls[] = {g_boardCombo, g_clockDisplay, g_clockSpin, g_defaultButton, g_applyButton, g_aboutButton};
    for (HWND control : controls)
        DestroyWindow(control);
    PostQuitMessage(0);
}

}  // namespace

void PaintTexts(HDC dc, const RECT& paintRect, const PaintedText* texts, int count) {
    for (int i = 0; i < count; ++i) {
        SelectObject(dc, *texts[i].font);
        ExtTextOutA(dc, texts[i].x, texts[i].y, 0, &paintRect, texts[i].text, lstrlenA(texts[i].text), nullptr);
    }
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_NOTIFY:
        OnNotify(wParam);
        return 0;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
