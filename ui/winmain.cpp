// The entry point: one instance at a time, start-up, then the message loop.
#include "command/command_line.h"
#include "res/resource.h"
#include "ui/halvex.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    LoadStringA(instance, IDS_WINDOW_TITLE, g_windowTitle, TEXT_BUFFER_SIZE);
    LoadStringA(instance, IDS_WINDOW_CLASS, g_windowClass, TEXT_BUFFER_SIZE);

    // A command line writes a clock and exits, beside any running instance.
    const CommandRequest request = parseCommandLine(commandLine);
    if (request.action != CommandAction::OpenWindow)
        return RunCommand(request);

    // Another instance already running (even one still showing a start-up
    // message) is brought forward instead.
    if (HWND running = FindWindowA(g_windowClass, g_windowTitle)) {
        ShowWindow(running, SW_SHOWNORMAL);
        SetForegroundWindow(running);
        return 0;
    }

    RegisterMainClass(instance);
    if (!InitInstance(instance, showCommand))
        return 0;
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCEL));
    InitCommonControls();

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
