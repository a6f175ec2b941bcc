// The About box: the program's name, version and the maker's lines, painted
// over the window colour; OK, Enter, Escape and the close box end it.
#include "halvex_version.h"
#include "ui/halvex.h"

namespace {

const PaintedText ABOUT_TEXTS[] = {
    {&fontBold, 65, 10, "[Ambrin]"},           {&fontBold, 39, 25, "Tessaly"},
    {&fontBold, 62, 38, "version " HALVEX_VERSION_TEXT},       {&fontText, 10, 58, "Copyright (C) 2026 [Ambrin]"},
    {&fontText, 10, 72, "halvex@example.org"}, {&fontText, 10, 86, "http://www.example.org/halvex/"},
};

void OnPaint(HWND dialog) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    FillRect(dc, &paint.rcPaint, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    PaintTexts(dc, paint.rcPaint, ABOUT_TEXTS, ARRAYSIZE(ABOUT_TEXTS));
    EndPaint(dialog, &paint);
}

}  // namespace

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;  // the default focus goes to OK
    case WM_PAINT:
        OnPaint(dialog);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
