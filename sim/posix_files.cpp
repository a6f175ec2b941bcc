#include "sim/posix_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

}  // namespace

const SimFiles POSIX_SIM_FILES = {readSmall, replace, appendLine, processId, defaultStatePath};
