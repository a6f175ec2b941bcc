#include "sim/sim_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "sim/sim_driver.h"

namespace {

std::string defaultStatePath() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    return std::string(runtime && *runtime ? runtime : "/tmp") + "/" + SIM_STATE_FILE_NAME;
}

std::string readSmall(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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

bool replace(const std::string& path, const std::string& text) {
    const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = writeAll(fd, text) && fsync(fd) == 0;
    close(fd);
    if (ok && rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    unlink(temporary.c_str());
    return false;
}

void appendLine(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        writeAll(fd, text + "\n");
        close(fd);
    }
}

unsigned long processId() { return static_cast<unsigned long>(getpid()); }

const SimFiles POSIX_FILES = {readSmall, replace, appendLine, processId};

SimDriver& driver() {
    static SimDriver instance(POSIX_FILES, defaultStatePath());
    return instance;
}

uint32_t simOpen() { return driver().open(); }
uint8_t simBusCount() { return driver().pciBusCount(); }
uint16_t simReadWord(uint32_t a, uint32_t o) { return driver().pciReadWord(a, o); }
uint32_t simReadDword(uint32_t a, uint32_t o) { return driver().pciReadDword(a, o); }
uint32_t simWriteDword(uint32_t a, uint32_t o, uint32_t v) { return driver().pciWriteDword(a, o, v); }
uint32_t simMemRead(uint32_t p) { return driver().memReadDword(p); }
uint32_t simMemWrite(uint32_t p, uint32_t v) { return driver().memWriteDword(p, v); }

// Each simulated chip decodes exactly its own window, always reachable; a
// BAR0 the board code cannot use is refused there, before any write.
std::string simBoardProblem(uint32_t, unsigned, bool) { return ""; }

std::string simTakeFailure() {
    const std::vector<std::string> failures = driver().takeFailures();
    return failures.empty() ? "" : failures.front();
}

}  // namespace

const DriverAccess SIMULATED_ACCESS = {
    "simulated",   simOpen,    simBusCount, simReadWord,     simReadDword,
    simWriteDword, simMemRead, simMemWrite, simBoardProblem, simTakeFailure,
};
