// The floors for Halvex's costs, built with the same flags: the least a Win32
// program does to show one 240 x 240 window and, built with FLOOR_CONTROLS,
// the program's own window (class and icons, fonts, six controls), made by the
// program's own code, with no driver library and no board code.
#include <windows.h>

#if defined(FLOOR_CONTROLS)
#include <commctrl.h>

#include "ui/halvex.h"
#endif

static LRESULT CALLBACK FloorWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
#if defined(FLOOR_CONTROLS)
    RegisterWindowClass(instance, "HalvexFloor", FloorWndProc);
    g_instance = instance;
    CreateFonts();
    HWND window = g_mainWindow = CreateMainWindow(instance, "HalvexFloor", "Floor");
    CreateControls();
    InitCommonControls();
#else
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = FloorWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "HalvexFloor";
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, "HalvexFloor", "Floor", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 240, 240, nullptr, nullptr, instance, nullptr);
#endif
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
