#include "sim/sim_driver.h"

#include <cstdlib>

namespace {

const char DEFAULT_BOARDS[] = "0:9:0x0004:0xE4000008:0xE721;1:0:0x0002:0xD8000008:0x3B05";
constexpr uint32_t STATUS_BAD_DESCRIPTION = 0xC0000001;

std::string environment(const char* name, bool* present = nullptr) {
    const char* value = getenv(name);
    if (present)
        *present = value != nullptr;
    return value ? value : "";
}

}  // namespace

SimDriver::SimDriver(const SimFiles& files, const std::string& defaultStatePath) : files_(files) {
    bool present;
    layout_ = environment("HALVEX_SIM_BOARDS", &present);
    if (!present)
        layout_ = DEFAULT_BOARDS;
    if (!SimMachine::parseBoards(layout_, &machine_.boards))
        machine_.openStatus = STATUS_BAD_DESCRIPTION;
    const std::string status = environment("HALVEX_SIM_OPEN");
    if (!status.empty() && machine_.openStatus == 0)
        machine_.openStatus = static_cast<uint32_t>(strtoul(status.c_str(), nullptr, 0));
    logPath_ = environment("HALVEX_SIM_LOG");
    statePath_ = environment("HALVEX_SIM_STATE", &present);
    if (!present)
        statePath_ = defaultStatePath;
    else if (statePath_ == "none")
        statePath_.clear();
    registers();
}

// The state file is the boards, shared by every process as hardware is:
// registers are read from it again before each access, so that a clock
// another process wrote is seen. A state from other boards, or a damaged one,
// is ignored: the boards keep the values they have (at first, their initial
// ones).
SimMachine& SimDriver::registers() {
    if (!statePath_.empty())
        machine_.loadState(files_.readSmall(statePath_), layout_);
    return machine_;
}

// Appends the last call to the log.
uint32_t SimDriver::logged(uint32_t result) {
    if (!logPath_.empty() && !machine_.calls.empty())
        files_.appendLine(logPath_,
                          std::to_string(files_.processId()) + " " + SimMachine::formatCall(machine_.calls.back()));
    machine_.calls.clear();
    return result;
}

// After every write that changes a register.
uint32_t SimDriver::saved(uint32_t result) {
    if (!statePath_.empty() && !files_.replace(statePath_, machine_.saveState(layout_)))
        failures_.push_back("cannot write " + statePath_);
    return logged(result);
}

uint32_t SimDriver::open() { return logged(machine_.open()); }
uint8_t SimDriver::pciBusCount() { return static_cast<uint8_t>(logged(machine_.pciBusCount())); }
uint16_t SimDriver::pciReadWord(uint32_t a, uint32_t o) {
    return static_cast<uint16_t>(logged(machine_.pciReadWord(a, o)));
}
uint32_t SimDriver::pciReadDword(uint32_t a, uint32_t o) { return logged(registers().pciReadDword(a, o)); }
uint32_t SimDriver::pciWriteDword(uint32_t a, uint32_t o, uint32_t v) {
    return saved(registers().pciWriteDword(a, o, v));
}
uint32_t SimDriver::memReadDword(uint32_t p) { return logged(registers().memReadDword(p)); }
uint32_t SimDriver::memWriteDword(uint32_t p, uint32_t v) { return saved(registers().memWriteDword(p, v)); }

std::vector<std::string> SimDriver::takeFailures() {
    std::vector<std::string> taken;
    taken.swap(failures_);
    return taken;
}
