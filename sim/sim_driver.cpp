#include "sim/sim_driver.h"

#include <cstdlib>

#include "sim/sim_machine.h"

namespace {

const char DEFAULT_BOARDS[] = "0:9:0x0004:0xE4000008:0xE721;1:0:0x0002:0xD8000008:0x3B05";
constexpr uint32_t STATUS_BAD_DESCRIPTION = 0xC0000001;

std::string environment(const char* name, bool* present = nullptr) {
    const char* value = getenv(name);
    if (present)
        *present = value != nullptr;
    return value ? value : "";
}

// The machine the environment describes, and the files behind it.
struct Environment {
    explicit Environment(const SimFiles* platformFiles);

    const SimFiles* files;
    SimMachine machine;
    std::string layout;     // the board description, which tags the state
    std::string logPath;    // "" for none
    std::string statePath;  // "" for none
};

const SimFiles* g_files = nullptr;

Environment& environmentMachine() {
    static Environment instance(g_files);
    return instance;
}

// The state file is the boards, shared by every process as hardware is:
// registers are read from it again before each access, so that a clock
// another process wrote is seen. A state from other boards, or a damaged one,
// is ignored: the boards keep the values they have (at first, their initial
// ones).
void refresh(SimMachine& machine) {
    const Environment& e = environmentMachine();
    if (!e.statePath.empty())
        machine.loadState(e.files->readSmall(e.statePath), e.layout);
}

// After every write the state is saved, whether or not a register changed;
// every call goes to the log.
void recorded(SimMachine& machine, bool wrote) {
    const Environment& e = environmentMachine();
    if (wrote && !e.statePath.empty() && !e.files->replace(e.statePath, machine.saveState(e.layout)))
        machine.failures.push_back("cannot write " + e.statePath);
    if (!e.logPath.empty())
        e.files->appendLine(e.logPath,
                            std::to_string(e.files->processId()) + " " + SimMachine::formatCall(machine.calls.back()));
    machine.calls.clear();
}

const SimKeeper KEEPER = {refresh, recorded};

Environment::Environment(const SimFiles* platformFiles) : files(platformFiles) {
    bool present;
    layout = environment("HALVEX_SIM_BOARDS", &present);
    if (!present)
        layout = DEFAULT_BOARDS;
    if (!SimMachine::parseBoards(layout, &machine.boards))
        machine.openStatus = STATUS_BAD_DESCRIPTION;
    const std::string status = environment("HALVEX_SIM_OPEN");
    if (!status.empty() && machine.openStatus == 0)
        machine.openStatus = static_cast<uint32_t>(strtoul(status.c_str(), nullptr, 0));
    logPath = environment("HALVEX_SIM_LOG");
    statePath = environment("HALVEX_SIM_STATE", &present);
    if (!present)
        statePath = files->defaultStatePath();
    else if (statePath == "none")
        statePath.clear();
    if (!statePath.empty())
        machine.loadState(files->readSmall(statePath), layout);
    machine.keeper = &KEEPER;
}

SimMachine& machine() { return environmentMachine().machine; }

}  // namespace

const BoardAccess* simulatedAccess(const SimFiles* files) {
    g_files = files;
    return simMachineAccess(machine);
}
