// The stand-in Halvex.dll: the seven driver operations over a simulated
// machine whose boards come from the environment, so that the program runs
// and is tested with no VSA-100 hardware.
//
//   HALVEX_SIM_BOARDS  boards, "bus:device:subsystem:bar0:pll;..." or "none";
//                      unset: a 1-chip board on bus 0, a 2-chip board on bus 1
//   HALVEX_SIM_OPEN    the status DrvOpen returns (non-zero: driver failed)
//   HALVEX_SIM_LOG     a file that receives one line per call:
//                      "<process id> <operation> <arguments...> = <result>"
//   HALVEX_SIM_STATE   the file that keeps the boards' registers between
//                      runs, as a board keeps its clock until power-off;
//                      unset: halvex-sim-state.txt in the temporary folder;
//                      "none": nothing is kept. Deleting the file resets.
//
// A malformed HALVEX_SIM_BOARDS makes DrvOpen fail, as a driver that cannot
// find its hardware description would.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "board/driver.h"
#include "driver/sim_machine.h"

namespace {

const char DEFAULT_BOARDS[] = "0:9:0x0004:0xE4000008:0xE721;1:0:0x0002:0xD8000008:0x3B05";
const char STATE_FILE_NAME[] = "halvex-sim-state.txt";
constexpr DWORD MAX_STATE_SIZE = 64 * 1024;
constexpr uint32_t STATUS_BAD_DESCRIPTION = 0xC0000001;

std::string environment(const char* name, bool* present = nullptr) {
    const char* value = getenv(name);
    if (present)
        *present = value != nullptr;
    return value ? value : "";
}

std::string defaultStatePath() {
    char directory[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, directory);
    return length && length < MAX_PATH ? std::string(directory) + STATE_FILE_NAME : std::string();
}

// The file's first MAX_STATE_SIZE bytes (a real state is far smaller, so a
// longer file fails to parse), or "" when it cannot be read.
std::string readSmallFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string text(MAX_STATE_SIZE, '\0');
    DWORD size = 0;
    if (!ReadFile(file, &text[0], MAX_STATE_SIZE, &size, nullptr))
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
    std::string layout;
    std::string logPath;
    std::string statePath;

    StandIn() {
        bool present;
        std::string boards = environment("HALVEX_SIM_BOARDS", &present);
        if (!present)
            boards = DEFAULT_BOARDS;
        layout = boards;
        if (!SimMachine::parseBoards(boards, &machine.boards))
            machine.openStatus = STATUS_BAD_DESCRIPTION;
        const std::string status = environment("HALVEX_SIM_OPEN");
        if (!status.empty() && machine.openStatus == 0)
            machine.openStatus = static_cast<uint32_t>(strtoul(status.c_str(), nullptr, 0));
        logPath = environment("HALVEX_SIM_LOG");
        statePath = environment("HALVEX_SIM_STATE", &present);
        if (!present)
            statePath = defaultStatePath();
        else if (statePath == "none")
            statePath.clear();
        // A state from other boards, or a damaged one, is ignored: the boards
        // start from their initial values.
        if (!statePath.empty())
            machine.loadState(readSmallFile(statePath), layout);
    }

    // Called after every write that changes a register.
    void saveState() {
        if (!statePath.empty())
            writeFileAtomically(statePath, machine.saveState(layout));
    }

    // Appends the last call to the log. FILE_APPEND_DATA makes each line one
    // atomic append, so several processes can share one log.
    void log() {
        if (machine.calls.empty())
            return;
        if (!logPath.empty()) {
            const std::string line =
                std::to_string(GetCurrentProcessId()) + " " + SimMachine::formatCall(machine.calls.back()) + "\r\n";
            HANDLE file = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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
uint32_t DRVAPI DrvPciReadDword(uint32_t a, uint32_t o) { return logged(standIn().machine.pciReadDword(a, o)); }
uint32_t DRVAPI DrvPciWriteDword(uint32_t a, uint32_t o, uint32_t v) {
    return saved(standIn().machine.pciWriteDword(a, o, v));
}
uint32_t DRVAPI DrvMemReadDword(uint32_t p) { return logged(standIn().machine.memReadDword(p)); }
uint32_t DRVAPI DrvMemWriteDword(uint32_t p, uint32_t v) { return saved(standIn().machine.memWriteDword(p, v)); }
}
