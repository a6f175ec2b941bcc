// The stand-in Halvex.dll: the seven driver operations over a simulated
// machine whose boards come from the environment (driver/sim_setup.h), so that
// the program runs and is tested with no VSA-100 hardware. The state file
// defaults to halvex-sim-state.txt in the temporary folder.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "board/driver.h"
#include "driver/sim_setup.h"

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

// Written beside the target and renamed over it, so a reader sees the old
// state or the new one, never half of one.
void writeFileAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
    HANDLE file =
        CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok || !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(temporary.c_str());
}

struct StandIn {
    SimMachine machine;
    SimSetup setup;

    StandIn() : setup(setUpSimMachine(&machine, defaultStatePath())) { loadState(); }

    // The state file is the boards, shared by every process as hardware is:
    // registers are read from it again before each access, so that a clock
    // another process wrote is seen. A state from other boards, or a damaged
    // one, is ignored: the boards keep the values they have (at first, their
    // initial ones).
    void loadState() {
        if (!setup.statePath.empty())
            machine.loadState(readSmallFile(setup.statePath), setup.layout);
    }

    // Called after every write that changes a register.
    void saveState() {
        if (!setup.statePath.empty())
            writeFileAtomically(setup.statePath, machine.saveState(setup.layout));
    }

    // Appends the last call to the log. FILE_APPEND_DATA makes each line one
    // atomic append, so several processes can share one log.
    void log() {
        if (machine.calls.empty())
            return;
        if (!setup.logPath.empty()) {
            const std::string line =
                std::to_string(GetCurrentProcessId()) + " " + SimMachine::formatCall(machine.calls.back()) + "\r\n";
            HANDLE file = CreateFileA(setup.logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                DWORD written;
                WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
                CloseHandle(file);
            }
        }
        machine.calls.clear();
    }
};

StandIn& standIn() {
    static StandIn instance;
    return instance;
}

// For the operations that touch the registers the state file keeps.
SimMachine& registers() {
    standIn().loadState();
    return standIn().machine;
}

template <typename T>
T logged(T result) {
    standIn().log();
    return result;
}

uint32_t saved(uint32_t result) {
    standIn().saveState();
    return logged(result);
}

}  // namespace

extern "C" {
uint32_t DRVAPI DrvOpen(void) { return logged(standIn().machine.open()); }
uint8_t DRVAPI DrvPciBusCount(void) { return logged(standIn().machine.pciBusCount()); }
uint16_t DRVAPI DrvPciReadWord(uint32_t a, uint32_t o) { return logged(standIn().machine.pciReadWord(a, o)); }
uint32_t DRVAPI DrvPciReadDword(uint32_t a, uint32_t o) { return logged(registers().pciReadDword(a, o)); }
uint32_t DRVAPI DrvPciWriteDword(uint32_t a, uint32_t o, uint32_t v) { return saved(registers().pciWriteDword(a, o, v)); }
uint32_t DRVAPI DrvMemReadDword(uint32_t p) { return logged(registers().memReadDword(p)); }
uint32_t DRVAPI DrvMemWriteDword(uint32_t p, uint32_t v) { return saved(registers().memWriteDword(p, v)); }
}
