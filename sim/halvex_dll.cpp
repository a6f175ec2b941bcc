// The stand-in Halvex.dll: the simulated machine whose boards come from the
// environment (sim/sim_driver.h), its files kept with Windows calls, so that
// the program runs and is tested with no VSA-100 hardware. Its exports are the
// board code's binding (board/access_binding.cpp) to that machine. The state
// file defaults to halvex-sim-state.txt in the temporary folder.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "board/access.h"
#include "sim/sim_driver.h"

namespace {

std::string defaultStatePath() {
    char directory[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, directory);
    return length && length < MAX_PATH ? std::string(directory) + SIM_STATE_FILE_NAME : std::string();
}

// The file's first SIM_MAX_STATE_SIZE bytes, or "" when it cannot be read.
std::string readSmallFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string text(SIM_MAX_STATE_SIZE, '\0');
    DWORD size = 0;
    if (!ReadFile(file, &text[0], SIM_MAX_STATE_SIZE, &size, nullptr))
        size = 0;
    CloseHandle(file);
    text.resize(size);
    return text;
}

bool replaceFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
    HANDLE file =
        CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (ok && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temporary.c_str());
    return false;
}

// One line per call; FILE_APPEND_DATA makes each line one atomic append.
void appendLine(const std::string& path, const std::string& text) {
    const std::string line = text + "\r\n";
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

unsigned long processId() { return GetCurrentProcessId(); }

const SimFiles WINDOWS_FILES = {readSmallFile, replaceFile, appendLine, processId, defaultStatePath};

// Selected as the library loads, before any export can be called; the
// machine itself is set up at the first call.
const bool g_selected = (selectBoardAccess(simulatedAccess(&WINDOWS_FILES)), true);

}  // namespace
