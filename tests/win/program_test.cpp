// The real Halvex.exe with the stand-in Halvex.dll beside it, started and
// handled as a user would, from another process. The stand-in library logs
// every driver call with the caller's process id, so each test can tell what
// reached the "hardware" and from which instance.
//
// HALVEX_EXE names the program to start (default: Halvex.exe beside this
// test), so the same scenarios can run the shipped 32-bit build.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD WAIT_MS = 300000;  // a ceiling: a 32-bit start under emulation takes minutes
constexpr int IDC_ABOUT = 131, IDC_DEFAULT = 133, IDC_APPLY = 134, IDC_BOARD_COMBO = 137;
const char MAIN_CLASS[] = "Halvex";
const char MAIN_TITLE[] = "Halvex ver.1.00";

std::string ProgramPath() {
    char path[MAX_PATH];
    if (GetEnvironmentVariableA("HALVEX_EXE", path, MAX_PATH))
        return path;
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string self = path;
    return self.substr(0, self.find_last_of("\\/") + 1) + "Halvex.exe";
}

// Whether the program file is an i386 image, by its PE header's machine field.
bool ProgramIs32Bit() {
    std::ifstream file(ProgramPath(), std::ios::binary);
    char header[0x200] = {};
    file.read(header, sizeof header);
    DWORD peOffset;
    memcpy(&peOffset, header + 0x3C, sizeof peOffset);
    WORD machine = 0;
    if (peOffset + 6 <= sizeof header)
        memcpy(&machine, header + peOffset + 4, sizeof machine);
    return machine == IMAGE_FILE_MACHINE_I386;
}

struct LoggedCall {
    DWORD pid;
    std::string text;  // "<operation> <arguments> = <result>"
};

// Polls until `found` returns true or the time is up.
template <typename F>
bool WaitFor(F found, DWORD timeoutMs = WAIT_MS) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(50))
        if (found())
            return true;
    return false;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        char directory[MAX_PATH];
        GetTempPathA(MAX_PATH, directory);
        char path[MAX_PATH];
        GetTempFileNameA(directory, "hvx", 0, path);
        log_ = path;
        SetEnvironmentVariableA("HALVEX_SIM_LOG", log_.c_str());
        // Each test's boards start from their initial registers.
        state_ = log_ + ".state";
        SetEnvironmentVariableA("HALVEX_SIM_STATE", state_.c_str());
        for (const char* name : {"HALVEX_SIM_BOARDS", "HALVEX_SIM_OPEN"})
            SetEnvironmentVariableA(name, nullptr);
    }

    void TearDown() override {
        for (PROCESS_INFORMATION& process : started_) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process.hProcess, 99);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        DeleteFileA(log_.c_str());
        DeleteFileA(state_.c_str());
    }

    // Starts the program with the current environment and `arguments`;
    // returns its index.
    size_t Launch(const char* arguments = nullptr) {
        std::string commandLine = "\"" + ProgramPath() + "\"";
        if (arguments)
            commandLine += std::string(" ") + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        EXPECT_TRUE(
            CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            << ProgramPath();
        started_.push_back(process);
        return started_.size() - 1;
    }

    DWORD Pid(size_t run) const { return started_[run].dwProcessId; }

    // The exit code, or STILL_ACTIVE if the process did not end in time.
    DWORD ExitCode(size_t run, DWORD timeoutMs = WAIT_MS) {
        WaitForSingleObject(started_[run].hProcess, timeoutMs);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(started_[run].hProcess, &code);
        return code;
    }

    static HWND MainWindow() { return FindWindowA(MAIN_CLASS, MAIN_TITLE); }

    static HWND WaitForMainWindow() {
        HWND window = nullptr;
        WaitFor([&] { return (window = MainWindow()) != nullptr && IsWindowVisible(window); });
        return window;
    }

    // The message box of process `pid`, once it is up.
    static HWND WaitForMessageBox(DWORD pid) {
        struct Search {
            DWORD pid;
            HWND found;
        } search = {pid, nullptr};
        WaitFor([&] {
            EnumWindows(
                [](HWND window, LPARAM param) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(param);
                    DWORD owner;
                    char className[16];
                    GetWindowThreadProcessId(window, &owner);
                    GetClassNameA(window, className, sizeof className);
                    if (owner == s->pid && lstrcmpA(className, "#32770") == 0 && IsWindowVisible(window))
                        s->found = window;
                    return s->found == nullptr;
                },
                reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        });
        return search.found;
    }

    std::vector<LoggedCall> Calls() const {
        std::vector<LoggedCall> calls;
        std::ifstream file(log_);
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const size_t space = line.find(' ');
            calls.push_back({static_cast<DWORD>(std::stoul(line.substr(0, space))), line.substr(space + 1)});
        }
        return calls;
    }

    std::vector<std::string> CallsOf(size_t run) const {
        std::vector<std::string> texts;
        for (const LoggedCall& call : Calls())
            if (call.pid == Pid(run))
                texts.push_back(call.text);
        return texts;
    }

    static void Click(HWND window, int id) {
        DWORD_PTR result;
        SendMessageTimeoutA(GetDlgItem(window, id), BM_CLICK, 0, 0, SMTO_NORMAL, WAIT_MS, &result);
    }

    // GetWindowText does not ask another process's window for its text.
    static std::string Text(HWND window) {
        char text[256] = "";
        SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        return text;
    }

    static std::string ClockShown(HWND window) { return Text(FindWindowExA(window, nullptr, "Static", nullptr)); }

    // Wine keeps the icon control of a message box visible, but empty when
    // no icon was asked for.
    static bool ShowsAnIcon(HWND box) {
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if (IsWindowVisible(child) && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                SendMessageA(child, STM_GETICON, 0, 0) != 0)
                return true;
        return false;
    }

    // Moves the spinner one step up as a click on its arrow does, so the
    // spinner itself notifies the window.
    static void ClickSpinnerUp(HWND window) {
        HWND spin = FindWindowExA(window, nullptr, "msctls_updown32", nullptr);
        RECT rect;
        GetClientRect(spin, &rect);
        const LPARAM upArrow = MAKELPARAM(rect.right / 2, rect.bottom / 4);
        DWORD_PTR result;
        SendMessageTimeoutA(spin, WM_LBUTTONDOWN, MK_LBUTTON, upArrow, SMTO_NORMAL, WAIT_MS, &result);
        SendMessageTimeoutA(spin, WM_LBUTTONUP, 0, upArrow, SMTO_NORMAL, WAIT_MS, &result);
    }

    static void SetSpinner(HWND window, unsigned mhz) {
        HWND spin = FindWindowExA(window, nullptr, "msctls_updown32", nullptr);
        SendMessageA(spin, UDM_SETPOS, 0, MAKELPARAM(mhz, 0));
    }

    // Starts the program, waits for its window and returns what it shows.
    std::string ClockAtStart(size_t* run) {
        *run = Launch();
        HWND window = WaitForMainWindow();
        return window ? ClockShown(window) : "no window";
    }

    void Close(size_t run) {
        PostMessageA(MainWindow(), WM_CLOSE, 0, 0);
        EXPECT_EQ(ExitCode(run), 0u);
    }

    std::string log_;
    std::string state_;
    std::vector<PROCESS_INFORMATION> started_;
};

TEST_F(Program, StartsWithTheBoardsListedAndClosesWithZero) {
    const size_t run = Launch();
    HWND window = WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    HWND combo = GetDlgItem(window, IDC_BOARD_COMBO);
    ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);
    // Wine passes only the first character of CB_GETLBTEXT between processes;
    // a drop-down list's window text is its selected entry.
    EXPECT_EQ(Text(combo), "1-chip 3Dfx VSA100 graphics card");
    SendMessageA(combo, CB_SETCURSEL, 1, 0);  // moves the selection without a notification
    EXPECT_EQ(Text(combo), "2-chip 3Dfx VSA100 graphics card");
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
    EXPECT_EQ(ClockShown(window), "166");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_APPLY)));

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(ExitCode(run), 0u);
    const std::vector<std::string> calls = CallsOf(run);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "DrvOpen = 0x00000000");
    EXPECT_EQ(calls.back(), "DrvMemReadDword 0xE4000044 = 0x0000E721");
}

// The user's main path, end to end; also the scenario run with the shipped
// 32-bit program, where a calling-convention mismatch with the library would
// show.
TEST_F(Program, ListDefaultApplyClose) {
    SetEnvironmentVariableA("HALVEX_SIM_BOARDS", "0:1:0x0003:0xE0000000:0x3B05;2:4:0x0004:0xD0000008:0xE721");
    const size_t run = Launch();
    HWND window = WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    BOOL wow64 = FALSE;
    IsWow64Process(started_[run].hProcess, &wow64);
    EXPECT_EQ(wow64 != FALSE, ProgramIs32Bit()) << "the program ran as the build it is";
    HWND combo = GetDlgItem(window, IDC_BOARD_COMBO);
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(Text(combo), "2-chip 3Dfx VSA100 graphics card");
    EXPECT_EQ(ClockShown(window), "145");  // 0x3B05: 145.568 MHz
    Click(window, IDC_DEFAULT);
    EXPECT_EQ(ClockShown(window), "166");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, IDC_APPLY)));
    const size_t before = CallsOf(run).size();
    Click(window, IDC_APPLY);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_APPLY)));
    const std::vector<std::string> calls = CallsOf(run);
    const std::vector<std::string> applied(calls.begin() + before, calls.end());
    EXPECT_EQ(applied, (std::vector<std::string>{
                           "DrvPciReadDword 0x00000008 0x00000010 = 0xE0000000",
                           "DrvPciReadDword 0x00000008 0x00000004 = 0x02300003",
                           "DrvPciWriteDword 0x00000008 0x00000004 0x02300003 = 0x00000000",
                           "DrvMemWriteDword 0xE0000044 0x0000E721 = 0x00000000",
                           "DrvMemWriteDword 0xE2000044 0x0000E721 = 0x00000000",
                       }));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(ExitCode(run), 0u);
}

TEST_F(Program, StartupFailureShowsItsMessageThenEnds) {
    const struct {
        const char* variable;
        const char* value;
        const char* message;
        const char* lastCall;
    } cases[] = {
        {"HALVEX_SIM_OPEN", "5", "Unable to load driver!", "DrvOpen = 0x00000005"},
        {"HALVEX_SIM_BOARDS", "none", "Unable to detect VSA100 hardware!", "DrvPciBusCount = 0x00000001"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        SetEnvironmentVariableA(c.variable, c.value);
        const size_t run = Launch();
        HWND box = WaitForMessageBox(Pid(run));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)), c.message);
        EXPECT_EQ(Text(box), "Error");  // the system's caption: the program gives none
        EXPECT_FALSE(ShowsAnIcon(box));
        HWND window = MainWindow();
        EXPECT_EQ(GetWindow(box, GW_OWNER), window);
        EXPECT_FALSE(IsWindowVisible(window));
        EXPECT_EQ(SendMessageA(GetDlgItem(window, IDC_BOARD_COMBO), CB_GETCOUNT, 0, 0), 0);

        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        EXPECT_EQ(ExitCode(run), 0u);
        EXPECT_EQ(CallsOf(run).back(), c.lastCall);
        SetEnvironmentVariableA(c.variable, nullptr);
    }
}

TEST_F(Program, SecondStartBringsTheFirstBack) {
    const size_t first = Launch();
    HWND window = WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(window) != FALSE; }));

    const size_t second = Launch();
    EXPECT_EQ(ExitCode(second), 0u);
    EXPECT_TRUE(WaitFor([&] { return !IsIconic(window) && IsWindowVisible(window); }));
    EXPECT_TRUE(CallsOf(second).empty());
    EXPECT_EQ(MainWindow(), window);

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(ExitCode(first), 0u);
}

// The first instance's main window exists, hidden, while its start-up message
// is up; a second start finds it and shows it.
TEST_F(Program, SecondStartDuringAStartupMessageShowsTheFirstWindow) {
    SetEnvironmentVariableA("HALVEX_SIM_OPEN", "1");
    const size_t first = Launch();
    HWND box = WaitForMessageBox(Pid(first));
    ASSERT_NE(box, nullptr);
    SetEnvironmentVariableA("HALVEX_SIM_OPEN", nullptr);
    const size_t second = Launch();
    EXPECT_EQ(ExitCode(second), 0u);
    EXPECT_TRUE(IsWindowVisible(MainWindow()));
    EXPECT_TRUE(CallsOf(second).empty());
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(ExitCode(first), 0u);
}

// The simulated boards keep their registers in the state file, as a board
// keeps its clock until power-off; deleting the file is a power cycle.
TEST_F(Program, AppliedClockOutlivesTheProgram) {
    size_t run;
    ASSERT_EQ(ClockAtStart(&run), "166");
    HWND window = MainWindow();
    SetSpinner(window, 199);
    ClickSpinnerUp(window);
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(window, IDC_APPLY)));
    Click(window, IDC_APPLY);
    EXPECT_EQ(CallsOf(run).back(), "DrvMemWriteDword 0xE4000044 0x00005205 = 0x00000000");
    Close(run);

    EXPECT_EQ(ClockAtStart(&run), "200");  // 0x5205: 200.45 MHz
    Close(run);
    ASSERT_TRUE(DeleteFileA(state_.c_str()));
    EXPECT_EQ(ClockAtStart(&run), "166");
    Close(run);
}

TEST_F(Program, DamagedStateFileIsIgnored) {
    const std::string damaged[] = {"halvex-sim-state 1\nlayout 0:9:0x0004:0xE4000008:0xE721;1:0", "\x01\x02garbage",
                                   std::string(100000, 'x')};
    for (const std::string& text : damaged) {
        std::ofstream(state_, std::ios::binary) << text;
        size_t run;
        EXPECT_EQ(ClockAtStart(&run), "166");
        Close(run);
        std::ifstream file(state_);
        std::string header;
        std::getline(file, header);
        EXPECT_EQ(header, "halvex-sim-state 1");  // rewritten whole by the first readout
    }
}

// With a command line the program writes the clock with no window and exits;
// the driver log shows exactly the calls of detection and of one Apply per
// board, and no readout.
TEST_F(Program, ClockSwitchWritesEveryBoardWithNoWindow) {
    SetEnvironmentVariableA("HALVEX_SIM_BOARDS", "0:1:0x0003:0xE0000000:0x3B05;2:4:0x0004:0xD0000008:0xE721");
    const size_t run = Launch("-CLOCK 183 /quiet");
    EXPECT_EQ(ExitCode(run), 0u);
    std::vector<std::string> calls = CallsOf(run);
    ASSERT_GT(calls.size(), 9u);
    EXPECT_EQ(calls.front(), "DrvOpen = 0x00000000");
    const std::vector<std::string> applied(calls.end() - 9, calls.end());
    EXPECT_EQ(applied, (std::vector<std::string>{
                           "DrvPciReadDword 0x00000008 0x00000010 = 0xE0000000",
                           "DrvPciReadDword 0x00000008 0x00000004 = 0x02300000",
                           "DrvPciWriteDword 0x00000008 0x00000004 0x02300003 = 0x00000000",
                           "DrvMemWriteDword 0xE0000044 0x00004B05 = 0x00000000",
                           "DrvMemWriteDword 0xE2000044 0x00004B05 = 0x00000000",
                           "DrvPciReadDword 0x00000220 0x00000010 = 0xD0000008",
                           "DrvPciReadDword 0x00000220 0x00000004 = 0x02300000",
                           "DrvPciWriteDword 0x00000220 0x00000004 0x02300003 = 0x00000000",
                           "DrvMemWriteDword 0xD0000044 0x00004B05 = 0x00000000",
                       }));
    for (const std::string& call : calls)
        EXPECT_EQ(call.find("DrvMemReadDword"), std::string::npos) << call;
    EXPECT_EQ(MainWindow(), nullptr);

    // The boards keep it: a window started next shows it.
    size_t shown;
    EXPECT_EQ(ClockAtStart(&shown), "183");
    Close(shown);
}

// Each outcome's message box, captioned with the program's title and owned by
// no window, and its exit code; with /quiet the same exit code and no box.
TEST_F(Program, ClockSwitchTellsEachOutcome) {
    const struct {
        const char* arguments;
        const char* variable;
        const char* value;
        DWORD exitCode;
        const char* message;  // its start; for a refusal, all of it
        bool opens, writes;   // the driver; any memory
        int configWrites;     // to any board's configuration space
    } cases[] = {
        {"/clock:183", "HALVEX_SIM_OPEN", "5", 1, "Unable to load driver!", true, false, 0},
        {"/clock:183", "HALVEX_SIM_BOARDS", "none", 2, "Unable to detect VSA100 hardware!", true, false, 0},
        // Board 1 (no BAR0) is left as it was, configuration space included.
        {"/clock:183", "HALVEX_SIM_BOARDS", "0:1:4:0:0xE721;0:2:4:0xE0000000:0xE721", 3,
         "Unable to set the clock of board 1: BAR0 is not assigned.", true, true, 1},
        {"/clock:183", "HALVEX_SIM_BOARDS", "0:1:4:0xE001:0xE721", 3,
         "Unable to set the clock of board 1: BAR0 is not a memory BAR.", true, false, 0},
        {"/clock:183", "HALVEX_SIM_BOARDS", "0:1:1:0xFC000000:0x3B05;0:2:4:0:0xE721", 3,
         "Unable to set the clock of board 1: its chips' register windows lie past 4 GiB.\n"
         "Unable to set the clock of board 2: BAR0 is not assigned.",
         true, false, 0},
        {"/clock:183x", nullptr, nullptr, 4, "Not a clock from 50 to 220 MHz: \"183x\"\n\nUsage: Halvex.exe", false,
         false, 0},
        {"/clock:183 /board:3", nullptr, nullptr, 4, "There is no board 3: 2 found.\n\nUsage: Halvex.exe", true, false,
         0},
        {"/board:1", nullptr, nullptr, 4, "/board needs /clock", false, false, 0},
        {"/?", nullptr, nullptr, 0, "Usage: Halvex.exe /clock:MHZ [/board:N] [/quiet]", false, false, 0},
    };
    for (const auto& c : cases) {
        for (bool quiet : {false, true}) {
            SCOPED_TRACE(std::string(c.arguments) + (quiet ? " /quiet" : ""));
            DeleteFileA(log_.c_str());
            DeleteFileA(state_.c_str());
            if (c.variable)
                SetEnvironmentVariableA(c.variable, c.value);
            const size_t run = Launch((std::string(c.arguments) + (quiet ? " /quiet" : "")).c_str());
            if (!quiet) {
                HWND box = WaitForMessageBox(Pid(run));
                ASSERT_NE(box, nullptr);
                const std::string text = Text(GetDlgItem(box, 0xFFFF));
                EXPECT_EQ(text.rfind(c.message, 0), 0u) << text;
                if (c.exitCode == 3) {  // the refusals are the whole message
                    EXPECT_EQ(text, c.message);
                }
                EXPECT_EQ(Text(box), MAIN_TITLE);
                EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
                EXPECT_EQ(MainWindow(), nullptr);
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            }
            // A box would hold the quiet run up past this.
            EXPECT_EQ(ExitCode(run, quiet ? 60000 : WAIT_MS), c.exitCode);
            const std::vector<std::string> calls = CallsOf(run);
            bool wrote = false;
            int configWrites = 0;
            for (const std::string& call : calls) {
                wrote |= call.rfind("DrvMemWriteDword", 0) == 0;
                configWrites += call.rfind("DrvPciWriteDword", 0) == 0;
            }
            EXPECT_EQ(wrote, c.writes);
            EXPECT_EQ(configWrites, c.configWrites);
            EXPECT_EQ(!calls.empty(), c.opens);
            if (c.variable)
                SetEnvironmentVariableA(c.variable, nullptr);
        }
    }
}

// A running window learns of the change: it reads its selected board again and
// drops a pending change, with no hand-over and no waiting on it.
TEST_F(Program, ClockSwitchRefreshesTheRunningWindow) {
    size_t first;
    ASSERT_EQ(ClockAtStart(&first), "166");
    HWND window = MainWindow();
    HWND combo = GetDlgItem(window, IDC_BOARD_COMBO);
    SendMessageA(combo, CB_SETCURSEL, 1, 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_BOARD_COMBO, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    ASSERT_EQ(ClockShown(window), "145");
    ClickSpinnerUp(window);
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(window, IDC_APPLY)));
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(window) != FALSE; }));

    const size_t command = Launch("/clock:200 /board:2 /quiet");
    EXPECT_EQ(ExitCode(command), 0u);
    EXPECT_TRUE(WaitFor([&] { return ClockShown(window) == "200"; }, 20000)) << ClockShown(window);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_APPLY)));
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 1);
    EXPECT_TRUE(IsIconic(window));  // not restored nor brought forward
    Close(first);
}

}  // namespace
