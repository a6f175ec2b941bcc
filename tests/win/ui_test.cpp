// The window code in-process over a simulated machine: each test drives the
// main window with the messages its controls would send and compares the
// controls' state and the recorded driver calls with what is expected.
#include <gtest/gtest.h>

#include "board/board_list.h"
#include "sim/sim_machine.h"
#include "res/resource.h"
#include "ui/halvex.h"

#include <commctrl.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

extern SimMachine g_machine;

inline void PrintTo(const DrvCall& call, std::ostream* os) { *os << SimMachine::formatCall(call); }

namespace {

constexpr uint32_t BOARD0 = 0x048, BAR0_0 = 0xE4000008;  // bus 0, device 9: 1 chip at 0xE721
constexpr uint32_t BOARD1 = 0x100, BAR0_1 = 0xD8000008;  // bus 1, device 0: 2 chips at 0x3B05
const char ENTRY_1_CHIP[] = "1-chip 3Dfx VSA100 graphics card";
const char ENTRY_2_CHIP[] = "2-chip 3Dfx VSA100 graphics card";

void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::string Text(HWND window) {
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::vector<DrvCall> ReadoutCalls(uint32_t board, uint32_t bar0, uint32_t pll) {
    const uint32_t base = bar0 & ~0xFu;
    return {{DrvOp::PciReadDword, {board, 0x10, 0}, bar0},
            {DrvOp::PciReadDword, {board, 0x04, 0}, 0x02300000},
            {DrvOp::PciWriteDword, {board, 0x04, 0x02300003}, 0},
            {DrvOp::MemReadDword, {base + 0x44, 0, 0}, pll}};
}

// Every window created on the test's thread, as requested.
struct Created {
    HWND window, parent;
    std::string className;
    int id, x, y, width, height;
    DWORD style, exStyle;
};
std::vector<Created> g_created;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[64] = "";
        GetClassNameA(window, className, sizeof className);
        // Windows the system and the controls make for themselves (the input
        // method's, the combo box's list) are not the program's.
        if (create->hwndParent ? create->hwndParent == g_mainWindow : lstrcmpA(className, g_windowClass) == 0)
            g_created.push_back({window, create->hwndParent, className,
                                 static_cast<int>(reinterpret_cast<INT_PTR>(create->hMenu)), create->x, create->y,
                                 create->cx, create->cy, static_cast<DWORD>(create->style),
                                 static_cast<DWORD>(create->dwExStyle)});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Acts on the About box once the modal loop shows it: a thread timer fires
// inside that loop. The loop shows the box when it first finds no message
// waiting, so a timer that fell due sooner (a loaded machine) finds it
// created but not yet shown, and waits for the next tick.
void (*g_aboutAction)(HWND) = nullptr;
HWND g_aboutSeen = nullptr;
HWND g_aboutOwner = nullptr;
POINT g_aboutClientOrigin;

void CALLBACK CloseAboutWhenShown(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND about = FindWindowA(reinterpret_cast<LPCSTR>(WC_DIALOG), "About");
    if (!about || !IsWindowVisible(about))
        return;
    KillTimer(nullptr, timer);
    g_aboutSeen = about;
    g_aboutOwner = GetWindow(about, GW_OWNER);
    g_aboutClientOrigin = {0, 0};
    ClientToScreen(about, &g_aboutClientOrigin);
    g_aboutAction(about);
}

// The timer, which kills itself once it has acted on the box.
UINT_PTR ArmAboutCloser(void (*action)(HWND)) {
    g_aboutAction = action;
    g_aboutSeen = g_aboutOwner = nullptr;
    return SetTimer(nullptr, 0, 20, CloseAboutWhenShown);
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        g_machine = SimMachine();
        g_machine.addBoard(0, 9, 0x0004, BAR0_0, 0xE721);
        g_machine.addBoard(1, 0, 0x0002, BAR0_1, 0x3B05);
    }

    // What WinMain does before the loop, minus the single-instance check.
    void Start() {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        LoadStringA(instance, IDS_WINDOW_TITLE, g_windowTitle, TEXT_BUFFER_SIZE);
        LoadStringA(instance, IDS_WINDOW_CLASS, g_windowClass, TEXT_BUFFER_SIZE);
        RegisterMainClass(instance);
        g_created.clear();
        HHOOK hook = SetWindowsHookExA(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
        const int started = InitInstance(instance, SW_SHOWNORMAL);
        UnhookWindowsHookEx(hook);
        ASSERT_EQ(started, 1);
        InitCommonControls();
        Pump();
    }

    void StartQuietly() {
        Start();
        g_machine.calls.clear();
    }

    void TearDown() override {
        if (IsWindow(g_mainWindow))
            DestroyWindow(g_mainWindow);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        g_boards.clear();
    }

    static unsigned SpinPosition() { return LOWORD(SendMessageA(g_clockSpin, UDM_GETPOS, 0, 0)); }
    static bool ApplyEnabled() { return IsWindowEnabled(g_applyButton) != FALSE; }
    static LRESULT Command(WORD id, WORD code, HWND control) {
        return SendMessageA(g_mainWindow, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
    }
    static void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }
    // As the combo box does when the user picks an entry.
    static void SelectBoard(int index) {
        SendMessageA(g_boardCombo, CB_SETCURSEL, index, 0);
        Command(IDC_BOARD_COMBO, CBN_SELCHANGE, g_boardCombo);
    }
    static LRESULT Notify(WPARAM senderId, UINT code) {
        NMUPDOWN notification = {};
        notification.hdr.hwndFrom = g_clockSpin;
        notification.hdr.idFrom = senderId;
        notification.hdr.code = code;
        return SendMessageA(g_mainWindow, WM_NOTIFY, senderId, reinterpret_cast<LPARAM>(&notification));
    }
};

TEST_F(MainWindow, StartsWithTheBoardsListedAndTheFirstClockShown) {
    Start();
    std::vector<DrvCall> expected = {{DrvOp::Open, {0, 0, 0}, 0}};
    EXPECT_EQ(std::vector<DrvCall>(g_machine.calls.begin(), g_machine.calls.begin() + 1), expected);
    const std::vector<DrvCall> readout = ReadoutCalls(BOARD0, BAR0_0, 0xE721);
    EXPECT_EQ(std::vector<DrvCall>(g_machine.calls.end() - 4, g_machine.calls.end()), readout);
    // Open, bus counts before and after each of 2 buses, 2 reads per slot, a
    // subsystem read per board, and the first readout.
    EXPECT_EQ(g_machine.calls.size(), 1u + 3 + 2 * 32 * 2 + 2 + 4);

    ASSERT_EQ(SendMessageA(g_boardCombo, CB_GETCOUNT, 0, 0), 2);
    char entry[TEXT_BUFFER_SIZE];
    SendMessageA(g_boardCombo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(entry));
    EXPECT_STREQ(entry, ENTRY_1_CHIP);
    SendMessageA(g_boardCombo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(entry));
    EXPECT_STREQ(entry, ENTRY_2_CHIP);
    EXPECT_EQ(SendMessageA(g_boardCombo, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(SpinPosition(), 166u);  // 166.807 MHz, truncated
    EXPECT_EQ(Text(g_clockDisplay), "166");
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_TRUE(IsWindowVisible(g_mainWindow));
    EXPECT_EQ(Text(g_mainWindow), "Halvex ver.1.00");
}

// The windows as InitInstance asks for them; the controls adjust some of this
// themselves (a combo box drops WS_VSCROLL, Wine's up-down control sizes
// itself and draws its own border), so the request is what is compared.
TEST_F(MainWindow, CreatesTheWindowAndItsControlsInOrder) {
    StartQuietly();
    const struct {
        const char* className;
        int id, x, y, width, height;
        DWORD style;
        HFONT font;
        const char* text;
    } expected[] = {
        {"Halvex", 0, 0, 0, 240, 240, 0x00CA0000, nullptr, "Halvex ver.1.00"},
        {"COMBOBOX", 137, 10, 80, 210, 80, 0x50210003, fontText, ""},
        {"STATIC", 0, 10, 130, 31, 21, 0x50800000, fontControl, "166"},
        {UPDOWN_CLASSA, 136, 40, 130, 30, 21, 0x50810002, nullptr, ""},
        {"BUTTON", 133, 10, 175, 60, 21, 0x50018000, fontControl, "Default"},
        {"BUTTON", 134, 72, 175, 60, 21, 0x58018000, fontControl, "Apply"},
        {"BUTTON", 131, 160, 175, 60, 21, 0x50018001, fontControl, "About"},
    };
    ASSERT_EQ(g_created.size(), ARRAYSIZE(expected));
    for (size_t i = 0; i < g_created.size(); ++i) {
        const Created& made = g_created[i];
        const auto& want = expected[i];
        SCOPED_TRACE(want.className);
        EXPECT_STRCASEEQ(made.className.c_str(), want.className);
        EXPECT_EQ(made.parent, i == 0 ? nullptr : g_mainWindow);
        EXPECT_EQ(made.id, want.id);
        if (i != 0) {  // the system has placed the main window by the time the hook sees it
            EXPECT_EQ(made.x, want.x);
            EXPECT_EQ(made.y, want.y);
        }
        EXPECT_EQ(made.width, want.width);
        EXPECT_EQ(made.height, want.height);
        EXPECT_EQ(made.style, want.style);
        EXPECT_EQ(made.exStyle & ~WS_EX_WINDOWEDGE, 0u);  // the system adds the edge to a captioned window
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(made.window, WM_GETFONT, 0, 0)), want.font);
        if (i != 1) {  // the combo box's text is its selected entry
            EXPECT_EQ(Text(made.window), want.text);
        }
    }
    RECT window;
    GetWindowRect(g_mainWindow, &window);
    EXPECT_EQ(window.right - window.left, 240);
    EXPECT_EQ(window.bottom - window.top, 240);
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(g_clockSpin, UDM_GETBUDDY, 0, 0)), g_clockDisplay);
    EXPECT_EQ(SendMessageA(g_clockSpin, UDM_GETRANGE, 0, 0), MAKELONG(220, 50));
}

TEST_F(MainWindow, DefaultSetsTheDefaultClockWithoutWriting) {
    StartQuietly();
    SelectBoard(1);  // 145 MHz
    ASSERT_EQ(SpinPosition(), 145u);
    g_machine.calls.clear();
    Click(g_defaultButton);
    EXPECT_EQ(SpinPosition(), 166u);
    EXPECT_EQ(Text(g_clockDisplay), "166");
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_TRUE(g_machine.calls.empty());

    EnableWindow(g_applyButton, FALSE);  // already at 166: still enables Apply
    Click(g_defaultButton);
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_TRUE(g_machine.calls.empty());
}

TEST_F(MainWindow, ApplyWritesEveryChipOfTheSelectedBoardOnce) {
    StartQuietly();
    SelectBoard(1);
    Click(g_defaultButton);
    g_machine.calls.clear();
    Click(g_applyButton);
    const std::vector<DrvCall> expected = {
        {DrvOp::PciReadDword, {BOARD1, 0x10, 0}, BAR0_1},       // BAR0, checked before any write
        {DrvOp::PciReadDword, {BOARD1, 0x04, 0}, 0x02300003},   // the command register
        {DrvOp::PciWriteDword, {BOARD1, 0x04, 0x02300003}, 0},  // decoding on, status half kept
        {DrvOp::MemWriteDword, {0xD8000044, 0xE721, 0}, 0},     // chip 0
        {DrvOp::MemWriteDword, {0xDA000044, 0xE721, 0}, 0},     // chip 1, 32 MiB on
    };
    EXPECT_EQ(g_machine.calls, expected);
    EXPECT_FALSE(ApplyEnabled());  // no second press until the clock changes again
}

TEST_F(MainWindow, SpinnerNotificationsEnableApply) {
    StartQuietly();
    EXPECT_EQ(Notify(IDC_BOARD_COMBO, UDN_DELTAPOS), 0);  // another sender
    EXPECT_FALSE(ApplyEnabled());
    for (UINT code : {static_cast<UINT>(UDN_DELTAPOS), static_cast<UINT>(NM_RELEASEDCAPTURE)}) {
        EnableWindow(g_applyButton, FALSE);
        EXPECT_EQ(Notify(IDC_CLOCK_SPIN, code), 0);
        EXPECT_TRUE(ApplyEnabled()) << code;
    }
    EXPECT_TRUE(g_machine.calls.empty());
}

TEST_F(MainWindow, ClickOnTheSpinnerArrowThenApply) {
    StartQuietly();
    RECT spin;
    GetClientRect(g_clockSpin, &spin);
    const LPARAM upArrow = MAKELPARAM(spin.right / 2, spin.bottom / 4);
    SendMessageA(g_clockSpin, WM_LBUTTONDOWN, MK_LBUTTON, upArrow);
    SendMessageA(g_clockSpin, WM_LBUTTONUP, 0, upArrow);
    Pump();
    EXPECT_EQ(SpinPosition(), 167u);
    EXPECT_EQ(Text(g_clockDisplay), "167");
    ASSERT_TRUE(ApplyEnabled());
    g_machine.calls.clear();
    Click(g_applyButton);
    EXPECT_EQ(g_machine.calls.back(), (DrvCall{DrvOp::MemWriteDword, {0xE4000044, 0x4405, 0}, 0}));
    EXPECT_EQ(g_machine.boards[0].pllControl[0], 0x4405u);
}

TEST_F(MainWindow, ChangingBoardShowsItsClockAndDropsThePendingValue) {
    StartQuietly();
    Click(g_defaultButton);
    ASSERT_TRUE(ApplyEnabled());
    SelectBoard(1);
    EXPECT_EQ(g_machine.calls, ReadoutCalls(BOARD1, BAR0_1, 0x3B05));
    EXPECT_EQ(SpinPosition(), 145u);  // 0x3B05: 145.568 MHz
    EXPECT_EQ(Text(g_clockDisplay), "145");
    EXPECT_FALSE(ApplyEnabled());
    SelectBoard(0);
    EXPECT_EQ(SpinPosition(), 166u);
}

TEST_F(MainWindow, ClockOutsideTheRangeShowsTheNearerLimit) {
    StartQuietly();
    const struct {
        uint32_t pll, bar0;
        unsigned shown;
    } cases[] = {
        {0x0000, BAR0_1, 50},   // 14.318 MHz
        {0xFF04, BAR0_1, 220},  // 1226.7 MHz
        {0x3B05, 0, 50},        // no register window: 0.0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pll);
        g_machine.boards[1].pllControl[0] = c.pll;
        g_machine.boards[1].bar0 = c.bar0;
        SelectBoard(1);
        EXPECT_EQ(SpinPosition(), c.shown);
        SelectBoard(0);
    }
}

// A board the board code refuses is only looked at, whatever the reason, and
// Apply reports nothing: an unassigned BAR0 whose decoding were turned on
// would make the board answer at physical address 0, an I/O BAR0 is a port
// number, and a 2-chip board at 0xFE000000 would have its second window wrap
// to low memory (its first chip is still read).
TEST_F(MainWindow, RefusedBoardIsOnlyLookedAt) {
    const struct {
        uint32_t bar0;
        bool readable;
    } cases[] = {{0, false}, {0xE001, false}, {0xFE000000, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bar0);
        SetUp();
        g_machine.boards[1].bar0 = c.bar0;
        StartQuietly();
        SelectBoard(1);
        std::vector<DrvCall> expected = {{DrvOp::PciReadDword, {BOARD1, 0x10, 0}, c.bar0}};
        if (c.readable)
            expected = ReadoutCalls(BOARD1, c.bar0, 0x3B05);
        EXPECT_EQ(g_machine.calls, expected);
        EXPECT_EQ(SpinPosition(), c.readable ? 145u : 50u);
        g_machine.calls.clear();
        Click(g_defaultButton);
        Click(g_applyButton);
        EXPECT_EQ(g_machine.calls, (std::vector<DrvCall>{{DrvOp::PciReadDword, {BOARD1, 0x10, 0}, c.bar0}}));
        EXPECT_EQ(g_machine.boards[1].pllControl, (std::vector<uint32_t>{0x3B05, 0x3B05}));
        EXPECT_EQ(g_machine.boards[1].command & 0xFFFF, c.readable ? 0x0003u : 0x0000u);
        EXPECT_FALSE(ApplyEnabled());
        TearDown();
    }
}

TEST_F(MainWindow, OtherCommandsDoNothing) {
    StartQuietly();
    const UINT_PTR closer = ArmAboutCloser([](HWND about) { EndDialog(about, IDCANCEL); });  // in case one opened it
    const struct {
        WORD id, code;
    } cases[] = {{IDC_ABOUT, BN_DOUBLECLICKED},   {IDC_APPLY, BN_SETFOCUS},      {IDC_DEFAULT, BN_KILLFOCUS},
                 {IDC_BOARD_COMBO, CBN_DROPDOWN}, {IDC_BOARD_COMBO, BN_CLICKED}, {999, BN_CLICKED},
                 {IDC_CLOCK_SPIN, BN_CLICKED}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(Command(c.id, c.code, nullptr), 0);
        Pump();
        EXPECT_EQ(g_aboutSeen, nullptr);
        EXPECT_FALSE(ApplyEnabled());
        EXPECT_EQ(SpinPosition(), 166u);
        EXPECT_TRUE(g_machine.calls.empty());
    }
    // Still armed: no About box ever came up for the closer to end (it kills
    // its timer when it does), and none is left to fire in a later test.
    EXPECT_TRUE(KillTimer(nullptr, closer));
}

TEST_F(MainWindow, AboutOpensModallyAndLeavesApplyAsItWas) {
    StartQuietly();
    for (bool applyEnabled : {false, true}) {
        for (void (*close)(HWND) : {+[](HWND about) { SendMessageA(about, WM_COMMAND, IDOK, 0); },
                                    +[](HWND about) { SendMessageA(about, WM_COMMAND, IDCANCEL, 0); }}) {
            EnableWindow(g_applyButton, applyEnabled);
            ArmAboutCloser(close);
            Click(g_aboutButton);  // returns once the box is closed
            EXPECT_NE(g_aboutSeen, nullptr);
            EXPECT_EQ(g_aboutOwner, g_mainWindow);
            POINT mainClientOrigin = {0, 0};  // the box has no centring style: it opens at 0, 0 there
            ClientToScreen(g_mainWindow, &mainClientOrigin);
            EXPECT_EQ(g_aboutClientOrigin.x, mainClientOrigin.x);
            EXPECT_EQ(g_aboutClientOrigin.y, mainClientOrigin.y);
            EXPECT_FALSE(IsWindow(g_aboutSeen));
            EXPECT_EQ(ApplyEnabled(), applyEnabled);
        }
    }
    EXPECT_TRUE(g_machine.calls.empty());
}

TEST_F(MainWindow, AboutEndsWithTheKeyOrButtonUsed) {
    StartQuietly();
    const struct {
        void (*close)(HWND);
        INT_PTR result;
    } cases[] = {
        {[](HWND about) { PostMessageA(GetDlgItem(about, IDOK), WM_KEYDOWN, VK_RETURN, 0); }, IDOK},
        {[](HWND about) { PostMessageA(GetDlgItem(about, IDOK), WM_KEYDOWN, VK_ESCAPE, 0); }, IDCANCEL},
        {[](HWND about) { SendMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0); }, IDOK},
        {[](HWND about) { SendMessageA(about, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        ArmAboutCloser(c.close);
        EXPECT_EQ(DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_ABOUT), g_mainWindow, AboutDlgProc, 0), c.result);
    }
}

// Pixels of `window`'s client area in `rect` darker than mid-grey: text, on
// the window colour.
int DarkPixels(HWND window, RECT rect) {
    HDC dc = GetDC(window);
    int dark = 0;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) {
            const COLORREF c = GetPixel(dc, x, y);
            dark += c != CLR_INVALID && GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 128;
        }
    ReleaseDC(window, dc);
    return dark;
}

// Where a text drawn at x, y in `font` lies.
RECT TextRect(HWND window, HFONT font, int x, int y, const char* text) {
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size;
    GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return {x, y, x + size.cx, y + size.cy};
}

TEST_F(MainWindow, PaintsTheWarningAndTheLabels) {
    StartQuietly();
    const struct {
        HFONT font;
        int x, y;
        const char* text;
    } texts[] = {
        {fontBold, 10, 10, "Note"},
        {fontText, 37, 10, ": Changing the hardware settings may"},
        {fontText, 10, 24, "cause system instability and possibly dam-"},
        {fontText, 10, 38, "age the hardware. Use at your own risk."},
        {fontBold, 10, 65, "Target Hardware"},
        {fontBold, 10, 115, "Core and Memory Clock Frequency"},
        {fontControl, 65, 135, "MHz"},
    };
    RECT client;
    GetClientRect(g_mainWindow, &client);
    for (const auto& t : texts) {
        SCOPED_TRACE(t.text);
        RECT rect = TextRect(g_mainWindow, t.font, t.x, t.y, t.text);
        rect.right = std::min(rect.right, client.right);  // the first lines run past a 240-pixel window
        EXPECT_GT(DarkPixels(g_mainWindow, rect), 0);
    }
    // Nothing is drawn between the warning and the first label, nor left of
    // the texts' margin.
    EXPECT_EQ(DarkPixels(g_mainWindow, {10, 53, client.right, 64}), 0);
    EXPECT_EQ(DarkPixels(g_mainWindow, {0, 0, 9, 78}), 0);
}

// A repaint of part of the About box draws over a freshly filled background
// what falls in that part, and leaves the rest alone.
TEST_F(MainWindow, AboutRepaintsWhatIsUncovered) {
    StartQuietly();
    static int darkInside, darkOutside, area;
    ArmAboutCloser([](HWND about) {
        UpdateWindow(about);
        RECT client;
        GetClientRect(about, &client);
        HDC dc = GetDC(about);
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));  // stale content
        ReleaseDC(about, dc);
        const RECT part = {0, 0, client.right, 24};  // the maker's name, "[Ambrin]", at 65, 10
        InvalidateRect(about, &part, FALSE);
        UpdateWindow(about);
        area = client.right * 24;
        darkInside = DarkPixels(about, part);
        darkOutside = DarkPixels(about, {0, 30, client.right, 50});
        EndDialog(about, IDOK);
    });
    Click(g_aboutButton);
    EXPECT_GT(darkInside, 0);                // the name is drawn...
    EXPECT_LT(darkInside, area / 4);         // ...on the window colour, not on black
    EXPECT_EQ(darkOutside, area * 20 / 24);  // outside the part, still all black
}

// WM_DESTROY's own work, with the window itself left standing: destroying it
// would take its child controls along whatever the handler did.
TEST_F(MainWindow, DestroyReleasesEverythingAndPostsQuit) {
    StartQuietly();
    const HWND controls[] = {g_boardCombo, g_clockDisplay, g_clockSpin, g_defaultButton, g_applyButton, g_aboutButton};
    const HFONT fonts[] = {fontText, fontBold, fontControl};
    EXPECT_EQ(MainWndProc(g_mainWindow, WM_DESTROY, 0, 0), 0);
    EXPECT_TRUE(IsWindow(g_mainWindow));
    for (HWND control : controls)
        EXPECT_FALSE(IsWindow(control));
    for (HFONT font : fonts)
        EXPECT_EQ(GetObjectType(font), 0u);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_TRUE(g_machine.calls.empty());
}

}  // namespace
