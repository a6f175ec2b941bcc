// The user interface: start-up, the main window and the About box, with the
// handles they share.
#pragma once

#include <windows.h>

constexpr int TEXT_BUFFER_SIZE = 100;

extern HINSTANCE g_instance;
extern char g_windowTitle[TEXT_BUFFER_SIZE];
extern char g_windowClass[TEXT_BUFFER_SIZE];
extern HWND g_mainWindow;
extern HFONT fontText, fontBold, fontControl;
extern HWND g_boardCombo, g_clockDisplay, g_clockSpin, g_defaultButton, g_applyButton, g_aboutButton;

// The main window's class with `windowProc`; the three fonts; the main window
// (240 x 240, fixed size); its six controls, into g_mainWindow with
// g_instance.
ATOM RegisterWindowClass(HINSTANCE instance, const char* className, WNDPROC windowProc);
void CreateFonts();
HWND CreateMainWindow(HINSTANCE instance, const char* className, const char* title);
void CreateControls();

struct CommandRequest;
// Carries out a command line (not OpenWindow) with no window; the exit code.
int RunCommand(const CommandRequest& request);

ATOM RegisterMainClass(HINSTANCE instance);
int InitInstance(HINSTANCE instance, int showCommand);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the clock of board `index` in the spinner, in whole MHz.
void ShowBoardClock(unsigned index);

// A line of text painted in a window's client area.
struct PaintedText {
    HFONT* font;
    int x, y;
    const char* text;
};

// Draws `count` lines with the device context's default colours; the last
// font stays selected.
void PaintTexts(HDC dc, const RECT& paintRect, const PaintedText* texts, int count);
