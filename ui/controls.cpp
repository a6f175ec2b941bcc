// The main window and what it holds: its class (icons from the resources),
// its fonts and six controls, made the same way for the program and for the
// benchmark's floor that has them too.
#include "board/pll.h"
#include "res/resource.h"
#include "ui/halvex.h"

#include <commctrl.h>

HINSTANCE g_instance;
HWND g_mainWindow;
HFONT fontText, fontBold, fontControl;
HWND g_boardCombo, g_clockDisplay, g_clockSpin, g_defaultButton, g_applyButton, g_aboutButton;

namespace {

constexpr DWORD MAIN_WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // fixed size
constexpr int MAIN_WINDOW_WIDTH = 240;
constexpr int MAIN_WINDOW_HEIGHT = 240;
constexpr DWORD BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_FLAT;

HFONT CreateArial(int height, int weight) {
    return CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial");
}

HWND CreateControl(const char* className, DWORD style, int x, int y, int width, int height, int id, HFONT font) {
    HWND control = CreateWindowExA(0, className, nullptr, style, x, y, width, height, g_mainWindow,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_instance, nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
}

HWND CreateButton(int x, DWORD style, int id, const char* text) {
    HWND button = CreateControl("BUTTON", style, x, 175, 60, 21, id, fontControl);
    SetWindowTextA(button, text);
    return button;
}

}  // namespace

ATOM RegisterWindowClass(HINSTANCE instance, const char* className, WNDPROC windowProc) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP_SMALL));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    return RegisterClassExA(&windowClass);
}

void CreateFonts() {
    fontText = CreateArial(14, FW_NORMAL);
    fontBold = CreateArial(14, FW_BOLD);
    fontControl = CreateArial(16, FW_NORMAL);
}

HWND CreateMainWindow(HINSTANCE instance, const char* className, const char* title) {
    return CreateWindowExA(0, className, title, MAIN_WINDOW_STYLE, CW_USEDEFAULT, CW_USEDEFAULT, MAIN_WINDOW_WIDTH,
                           MAIN_WINDOW_HEIGHT, nullptr, nullptr, instance, nullptr);
}

void CreateControls() {
    g_boardCombo = CreateControl("COMBOBOX", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST, 10, 80,
                                 210, 80, IDC_BOARD_COMBO, fontText);
    g_clockDisplay = CreateControl("STATIC", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 130, 31, 21, 0, fontControl);
    // The spinner writes its position into the display as a decimal number.
    g_clockSpin = CreateUpDownControl(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | UDS_SETBUDDYINT, 40, 130, 30, 21,
                                      g_mainWindow, IDC_CLOCK_SPIN, g_instance, g_clockDisplay, MAX_CLOCK_MHZ,
                                      MIN_CLOCK_MHZ, DEFAULT_CLOCK_MHZ);
    g_defaultButton = CreateButton(10, BUTTON_STYLE, IDC_DEFAULT, "Default");
    g_applyButton = CreateButton(72, BUTTON_STYLE | WS_DISABLED, IDC_APPLY, "Apply");
    g_aboutButton = CreateButton(160, BUTTON_STYLE | BS_DEFPUSHBUTTON, IDC_ABOUT, "About");
}
