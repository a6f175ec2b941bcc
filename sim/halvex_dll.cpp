// The stand-in Halvex.dll: the seven driver operations over a simulated
// machine whose boards come from the environment (sim/sim_driver.h), so
// that the program runs and is tested with no VSA-100 hardware. The state file
// defaults to halvex-sim-state.txt in the temporary folder.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "board/driver.h"
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

const SimFiles WINDOWS_FILES = {readSmallFile, replaceFile, appendLine, processId};

SimDriver& driver() {
    static SimDriver instance(WINDOWS_FILES, defaultStatePath());
    return instance;
}

}  // namespace

extern "C" {
uint32_t DRVAPI DrvOpen(void) { return driver().open(); }
uint8_t DRVAPI DrvPciBusCount(void) { return driver().pciBusCount(); }
uint16_t DRVAPI DrvPciReadWord(uint32_t a, uint32_t o) { return driver().pciReadWord(a, o); }
uint32_t DRVAPI DrvPciReadDword(uint32_t a, uint32_t o) { return driver().pciReadDword(a, o); }
uint32_t DRVAPI DrvPciWriteDword(uint32_t a, uint32_t o, uint32_t v) { return driver().pciWriteDword(a, o, v); }
uint32_t DRVAPI DrvMemReadDword(uint32_t p) { return driver().memReadDword(p); }
uint32_t DRVAPI DrvMemWriteDword(uint32_t p, uint32_t v) { return driver().memWriteDword(p, v); }
}
