#include "driver/sim_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "driver/sim_setup.h"

namespace {

std::string defaultStatePath() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    return std::string(runtime && *runtime ? runtime : "/tmp") + "/" + SIM_STATE_FILE_NAME;
}

std::string readSmallFile(const std::string& path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    text.resize(SIM_MAX_STATE_SIZE);
    const ssize_t got = read(fd, &text[0], text.size());
    close(fd);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

struct Simulated {
    SimMachine machine;
    SimSetup setup;
    std::vector<std::string> failures;

    Simulated() : setup(setUpSimMachine(&machine, defaultStatePath())) { loadState(); }

    // As in the stand-in library: the state file is the boards, read again
    // before each register access; a damaged or foreign one is ignored.
    void loadState() {
        if (!setup.statePath.empty())
            machine.loadState(readSmallFile(setup.statePath), setup.layout);
    }

    // Written beside the target and renamed over it, so a reader sees the
    // old state or the new one, never half of one.
    void saveState() {
        if (setup.statePath.empty())
            return;
        const std::string temporary = setup.statePath + "." + std::to_string(getpid()) + ".tmp";
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool ok = fd >= 0 && writeAll(fd, machine.saveState(setup.layout)) && fsync(fd) == 0;
        const int error = errno;
        if (fd >= 0)
            close(fd);
        ok = ok && rename(temporary.c_str(), setup.statePath.c_str()) == 0;
        if (!ok) {
            failures.push_back("cannot write " + setup.statePath + ": " + strerror(error ? error : errno));
            unlink(temporary.c_str());
        }
    }

    // One line per call, appended whole, so several processes share a log.
    void log() {
        if (!setup.logPath.empty() && !machine.calls.empty()) {
            const std::string line =
                std::to_string(getpid()) + " " + SimMachine::formatCall(machine.calls.back()) + "\n";
            const int fd = open(setup.logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) {
                writeAll(fd, line);
                close(fd);
            }
        }
        machine.calls.clear();
    }
};

Simulated& simulated() {
    static Simulated instance;
    return instance;
}

SimMachine& registers() {
    simulated().loadState();
    return simulated().machine;
}

template <typename T>
T logged(T result) {
    simulated().log();
    return result;
}

uint32_t saved(uint32_t result) {
    simulated().saveState();
    return logged(result);
}

uint32_t simOpen() { return logged(simulated().machine.open()); }
uint8_t simBusCount() { return logged(simulated().machine.pciBusCount()); }
uint16_t simReadWord(uint32_t a, uint32_t o) { return logged(simulated().machine.pciReadWord(a, o)); }
uint32_t simReadDword(uint32_t a, uint32_t o) { return logged(registers().pciReadDword(a, o)); }
uint32_t simWriteDword(uint32_t a, uint32_t o, uint32_t v) { return saved(registers().pciWriteDword(a, o, v)); }
uint32_t simMemRead(uint32_t p) { return logged(registers().memReadDword(p)); }
uint32_t simMemWrite(uint32_t p, uint32_t v) { return saved(registers().memWriteDword(p, v)); }

// Each simulated chip decodes exactly its own window: they always fit.
std::string simWindowsProblem(uint32_t, unsigned) { return ""; }

std::string simTakeFailure() {
    std::vector<std::string>& failures = simulated().failures;
    const std::string first = failures.empty() ? "" : failures.front();
    failures.clear();
    return first;
}

}  // namespace

const DriverAccess SIMULATED_ACCESS = {
    "simulated",   simOpen,    simBusCount, simReadWord,       simReadDword,
    simWriteDword, simMemRead, simMemWrite, simWindowsProblem, simTakeFailure,
};
