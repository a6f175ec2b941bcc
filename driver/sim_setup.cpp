#include "driver/sim_setup.h"

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

SimSetup setUpSimMachine(SimMachine* machine, const std::string& defaultStatePath) {
    SimSetup setup;
    bool present;
    setup.layout = environment("HALVEX_SIM_BOARDS", &present);
    if (!present)
        setup.layout = DEFAULT_BOARDS;
    if (!SimMachine::parseBoards(setup.layout, &machine->boards))
        machine->openStatus = STATUS_BAD_DESCRIPTION;
    const std::string status = environment("HALVEX_SIM_OPEN");
    if (!status.empty() && machine->openStatus == 0)
        machine->openStatus = static_cast<uint32_t>(strtoul(status.c_str(), nullptr, 0));
    setup.logPath = environment("HALVEX_SIM_LOG");
    setup.statePath = environment("HALVEX_SIM_STATE", &present);
    if (!present)
        setup.statePath = defaultStatePath;
    else if (setup.statePath == "none")
        setup.statePath.clear();
    return setup;
}
