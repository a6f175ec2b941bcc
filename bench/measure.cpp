// Measures a window program from outside, as the benchmark needs it:
//
//   measure startup RUNS PROGRAM...
//       starts the PROGRAMs in turn, RUNS times each, so that all meet the
//       same conditions; prints for the i-th the median milliseconds from
//       CreateProcess to its first visible top-level window and the median
//       peak working set in KiB, a line each: "p<i>_ms=... p<i>_kib=..."
//   measure apply PROGRAM INDEX
//       starts Halvex, selects board INDEX as the user would, presses Default
//       and Apply, and closes it (the driver log tells the calls made)
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD TIMEOUT_MS = 60000;
constexpr int IDC_DEFAULT = 133, IDC_APPLY = 134, IDC_BOARD_COMBO = 137;

struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window) && !GetWindow(window, GW_OWNER)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct Started {
    PROCESS_INFORMATION process;
    HWND window;
    double milliseconds;
};

bool Start(const char* program, Started* started) {
    std::string commandLine = std::string("\"") + program + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    LARGE_INTEGER frequency, begin, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started->process))
        return false;
    Search search = {started->process.dwProcessId, nullptr};
    for (DWORD waited = 0; !search.found && waited < TIMEOUT_MS; ++waited) {
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            Sleep(1);
    }
    QueryPerformanceCounter(&now);
    started->window = search.found;
    started->milliseconds = 1000.0 * (now.QuadPart - begin.QuadPart) / frequency.QuadPart;
    return search.found != nullptr;
}

DWORD Close(Started* started) {
    PostMessageA(started->window, WM_CLOSE, 0, 0);
    WaitForSingleObject(started->process.hProcess, TIMEOUT_MS);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(started->process.hProcess, &code);
    CloseHandle(started->process.hProcess);
    CloseHandle(started->process.hThread);
    return code;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Samples {
    std::vector<double> milliseconds, peakKib;
};

bool Sample(const char* program, Samples* samples) {
    Started started;
    if (!Start(program, &started)) {
        fprintf(stderr, "%s: no window\n", program);
        return false;
    }
    Sleep(300);  // let it settle before reading its memory
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(started.process.hProcess, &memory, sizeof memory);
    samples->milliseconds.push_back(started.milliseconds);
    samples->peakKib.push_back(memory.PeakWorkingSetSize / 1024.0);
    // Ended, not closed: only the start is measured.
    TerminateProcess(started.process.hProcess, 0);
    WaitForSingleObject(started.process.hProcess, TIMEOUT_MS);
    CloseHandle(started.process.hProcess);
    CloseHandle(started.process.hThread);
    return true;
}

// Starts the programs in turn, RUNS rounds, so that all meet the same
// conditions.
int MeasureStartup(int runs, char** programs, int count) {
    std::vector<Samples> samples(count);
    for (int i = 0; i < runs; ++i)
        for (int p = 0; p < count; ++p)
            if (!Sample(programs[p], &samples[p]))
                return 1;
    for (int p = 0; p < count; ++p)
        printf("p%d_ms=%.1f p%d_kib=%.0f\n", p, Median(samples[p].milliseconds), p, Median(samples[p].peakKib));
    return 0;
}

void Press(HWND window, int id) {
    DWORD_PTR result;
    SendMessageTimeoutA(GetDlgItem(window, id), BM_CLICK, 0, 0, SMTO_NORMAL, TIMEOUT_MS, &result);
}

int DriveApply(const char* program, int index) {
    Started started;
    if (!Start(program, &started))
        return 1;
    HWND combo = GetDlgItem(started.window, IDC_BOARD_COMBO);
    DWORD_PTR result;
    SendMessageTimeoutA(combo, CB_SETCURSEL, index, 0, SMTO_NORMAL, TIMEOUT_MS, &result);
    SendMessageTimeoutA(started.window, WM_COMMAND, MAKEWPARAM(IDC_BOARD_COMBO, CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(combo), SMTO_NORMAL, TIMEOUT_MS, &result);
    Press(started.window, IDC_DEFAULT);
    Press(started.window, IDC_APPLY);
    return Close(&started) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "startup")
        return MeasureStartup(atoi(argv[2]), argv + 3, argc - 3);
    if (argc == 4 && std::string(argv[1]) == "apply")
        return DriveApply(argv[2], atoi(argv[3]));
    fprintf(stderr, "usage: measure startup RUNS PROGRAM... | measure apply PROGRAM INDEX\n");
    return 2;
}
