#include "linux/sysfs_access.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "board/board_list.h"
#include "board/vsa100.h"
#include "linux/sysfs_text.h"

using namespace vsa100;

namespace {

constexpr uint32_t ABSENT = 0xFFFFFFFF;  // what nobody answering reads as
constexpr uint64_t RESOURCE_IO = 0x100;   // the kernel's IORESOURCE_IO flag
constexpr uint64_t RESOURCE_MEM = 0x200;  // the kernel's IORESOURCE_MEM flag
// IORESOURCE_UNSET: the kernel gave the BAR no address. It still shows its
// size from 0 (0x0 0x1ffffff for 32 MiB), and its resourceN file would map
// physical address 0.
constexpr uint64_t RESOURCE_UNSET = 0x20000000;
constexpr int NOT_OPENED = -2;
// A tree from elsewhere may hold a named pipe where a file should be: opened
// without waiting for a writer, it is then refused as no regular file.
constexpr int OPEN_FLAGS = O_CLOEXEC | O_NONBLOCK;

// The kernel shows a `resource` file as a 4 KiB page; the six BAR lines lie
// well within it.
constexpr size_t RESOURCE_TEXT_SIZE = 4096;

struct Bar : ResourceRange {
    bool isAssigned() const { return start != 0 && (flags & RESOURCE_UNSET) == 0; }
    bool isMemory() const { return isAssigned() && (flags & RESOURCE_MEM) != 0 && end > start; }
    uint64_t size() const { return end - start + 1; }
};

struct Mapping {
    bool tried = false;
    volatile uint8_t* base = nullptr;
    size_t length = 0;
    bool writable = false;
    std::string error;  // why it is not mapped, or not writable
};

// What is kept of a device beyond its identifiers: only boards need it, so
// it is made only for them (a tree has hundreds of other devices).
struct BoardFiles {
    int configWriteFd = NOT_OPENED;
    std::string configWriteError;
    bool resourceRead = false;
    std::string resourceError;
    Bar bars[BAR_COUNT];
    Mapping mappings[BAR_COUNT];
};

struct Device : PciName {
    std::string name;  // "dddd:bb:ss.f"
    std::string path;  // <root>/devices/<name>
    int configFd = NOT_OPENED;
    // Vendor in the low half, device in the high half; read once.
    bool identified = false;
    uint32_t identifiers = ABSENT;
    std::unique_ptr<BoardFiles> files;

    uint32_t pciAddress() const { return (bus << 8) | (slot << 3) | function; }
    BoardFiles& board() {
        if (!files)
            files = std::make_unique<BoardFiles>();
        return *files;
    }
};

struct Sysfs {
    std::string root;
    int devicesFd = -1;  // <root>/devices
    std::vector<std::unique_ptr<Device>> devices;
    std::map<uint32_t, Device*> addressable;  // domain 0, buses below 255
    std::vector<std::string> unaddressable;
    std::vector<std::string> failures;
    unsigned busCount = 0;

    // A board's files and mappings are opened once and kept for the run.
    explicit Sysfs(const std::string& tree) : root(tree) {}
    Sysfs(const Sysfs&) = delete;
    Sysfs& operator=(const Sysfs&) = delete;
    ~Sysfs() {
        for (auto& device : devices) {
            if (device->configFd >= 0)
                close(device->configFd);
            if (!device->files)
                continue;
            if (device->files->configWriteFd >= 0)
                close(device->files->configWriteFd);
            for (const Mapping& mapping : device->files->mappings)
                if (mapping.base)
                    munmap(const_cast<uint8_t*>(mapping.base), mapping.length);
        }
        if (devicesFd >= 0)
            close(devicesFd);
    }

    // "<what> <path>: <system error>", with what the user can do about it
    // where the cause can be told.
    std::string describe(const std::string& what, const std::string& path, int error,
                         const Device* device = nullptr) const {
        std::string text = what + " " + path + ": " + strerror(error);
        if ((error == EACCES || error == EPERM) && geteuid() != 0)
            return text + " (run as root)";
        const std::string mode = error == EPERM ? lockdownMode() : "";
        if (!mode.empty())
            return text + ": the kernel is locked down (" + mode +
                   "), which forbids writing a device's configuration space and mapping its memory, even for root";
        const std::string driver = error == EINVAL && device ? boundDriver(*device) : "";
        if (!driver.empty())
            return text + ": the kernel driver " + driver + " holds the board's registers; unbind it first (echo " +
                   device->name + " > /sys/bus/pci/drivers/" + driver + "/unbind) or boot with iomem=relaxed";
        return text;
    }

    void fail(const std::string& what, const std::string& path, int error, const Device* device = nullptr) {
        failures.push_back(describe(what, path, error, device));
    }

    // The lockdown mode the kernel enforces ("integrity", "confidentiality"),
    // "" when none: the machine's own, whatever tree is being looked at,
    // since it is the running kernel that refuses.
    static std::string lockdownMode() {
        char text[128] = "";
        FILE* file = fopen("/sys/kernel/security/lockdown", "re");
        if (!file)
            return "";
        const size_t got = fread(text, 1, sizeof text - 1, file);
        fclose(file);
        text[got] = '\0';
        const char* open = strchr(text, '[');
        const char* close = open ? strchr(open, ']') : nullptr;
        const std::string mode = close ? std::string(open + 1, close) : "";
        return mode == "none" ? "" : mode;
    }

    // The name of the kernel driver bound to the device, "" when none.
    static std::string boundDriver(const Device& device) {
        char target[256];
        const ssize_t length = readlink((device.path + "/driver").c_str(), target, sizeof target - 1);
        if (length <= 0)
            return "";
        target[length] = '\0';
        const char* slash = strrchr(target, '/');
        return slash ? slash + 1 : target;
    }

    // sysfs shows a device's config and BAR files as regular files. Anything
    // else in a tree from elsewhere (a device node such as /dev/mem behind a
    // link, a pipe) is refused before a byte of it is read or written: -1,
    // with `error` saying why. A regular file's size goes to `size`, where
    // one is asked for.
    static int keepRegular(int fd, const std::string& what, const std::string& path, std::string* error,
                           uint64_t* size = nullptr) {
        struct stat status;
        if (fd < 0)
            return fd;
        if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
            if (size)
                *size = static_cast<uint64_t>(status.st_size);
            return fd;
        }
        close(fd);
        *error = what + " " + path + ": not a regular file";
        return -1;
    }

    // Opened once for the run; NOT_OPENED never stays after the first try.
    int configFd(Device& device) {
        if (device.configFd == NOT_OPENED) {
            // Opened relative to the devices folder: one short path to walk.
            const std::string path = device.path + "/config";
            const int fd = openat(devicesFd, (device.name + "/config").c_str(), O_RDONLY | OPEN_FLAGS);
            if (fd < 0) {
                fail("cannot read", path, errno, &device);
                device.configFd = -1;
                return -1;
            }
            std::string error;
            device.configFd = keepRegular(fd, "cannot read", path, &error);
            if (device.configFd < 0)
                failures.push_back(error);
        }
        return device.configFd;
    }

    // Little-endian; all ones where the file gives nothing (no device, or
    // past what an unprivileged reader is shown).
    uint32_t readConfig(Device& device, uint32_t offset, unsigned bytes) {
        if (bytes == 2 && (offset == PCI_VENDOR_ID || offset == PCI_DEVICE_ID))
            return (identifiers(device) >> (8 * offset)) & 0xFFFF;
        const int fd = configFd(device);
        uint8_t buffer[4];
        if (fd < 0)
            return ABSENT;
        const ssize_t got = pread(fd, buffer, bytes, offset);
        if (got < 0)
            fail("cannot read", device.path + "/config", errno, &device);
        if (got != static_cast<ssize_t>(bytes))
            return ABSENT;
        uint32_t value = 0;
        for (unsigned i = 0; i < bytes; ++i)
            value |= uint32_t(buffer[i]) << (8 * i);
        return value;
    }

    // Detection asks for both identifier words of every device; they are
    // read-only, so one 4-byte read answers both.
    uint32_t identifiers(Device& device) {
        if (!device.identified) {
            device.identified = true;
            device.identifiers = readConfig(device, PCI_VENDOR_ID, 4);
            // Nothing more is read from any other device: its file is closed
            // at once rather than kept for the run.
            if (!isVsa100(device) && device.configFd >= 0) {
                close(device.configFd);
                device.configFd = NOT_OPENED;
            }
        }
        return device.identifiers;
    }

    // The descriptor that writes the device's configuration space, opened
    // once; -1 with configWriteError saying why when it cannot be.
    int configWriteFd(Device& device) {
        BoardFiles& files = device.board();
        if (files.configWriteFd == NOT_OPENED) {
            const std::string path = device.path + "/config";
            files.configWriteFd = ::open(path.c_str(), O_WRONLY | OPEN_FLAGS);
            if (files.configWriteFd < 0)
                files.configWriteError = describe("cannot write", path, errno, &device);
            else
                files.configWriteFd = keepRegular(files.configWriteFd, "cannot write", path, &files.configWriteError);
        }
        return files.configWriteFd;
    }

    bool writeConfig(Device& device, uint32_t offset, uint32_t value) {
        const int fd = configWriteFd(device);
        if (fd < 0) {
            failures.push_back(device.board().configWriteError);
            return false;
        }
        const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
        const ssize_t put = pwrite(fd, bytes, sizeof bytes, offset);
        if (put != static_cast<ssize_t>(sizeof bytes)) {
            fail("cannot write", device.path + "/config", put < 0 ? errno : EIO, &device);
            return false;
        }
        return true;
    }

    // The kernel's view of the BARs: "start end flags" per line, BAR0 first.
    // False, with resourceError saying why, when the file cannot be read.
    bool readResource(Device& device) {
        BoardFiles& files = device.board();
        if (files.resourceRead)
            return files.resourceError.empty();
        files.resourceRead = true;
        const std::string path = device.path + "/resource";
        std::string text(RESOURCE_TEXT_SIZE, '\0');
        const int fd = ::open(path.c_str(), O_RDONLY | OPEN_FLAGS);
        const ssize_t got = fd < 0 ? -1 : pread(fd, &text[0], text.size(), 0);
        const int error = errno;
        if (fd >= 0)
            close(fd);
        if (got < 0) {
            files.resourceError = describe("cannot read", path, error, &device);
            return false;
        }
        text.resize(static_cast<size_t>(got));
        ResourceRange ranges[BAR_COUNT];
        const std::string problem = parseResourceLines(text, ranges);
        if (!problem.empty()) {
            files.resourceError = "cannot read the BARs from " + path + ": " + problem;
            return false;
        }
        for (unsigned i = 0; i < BAR_COUNT; ++i)
            static_cast<ResourceRange&>(files.bars[i]) = ranges[i];
        return true;
    }

    bool isVsa100(Device& device) { return identifiers(device) == (uint32_t(DEVICE_VSA100) << 16 | VENDOR_3DFX); }

    Device* deviceAt(uint32_t pciAddress) {
        const auto found = addressable.find(pciAddress);
        return found == addressable.end() ? nullptr : found->second;
    }

    // The devices under `folder`, by name; false when it cannot be listed.
    bool listDevices(const std::string& folder) {
        devicesFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* directory = devicesFd < 0 ? nullptr : fdopendir(dup(devicesFd));
        if (!directory) {
            fail("cannot list", folder, errno);
            return false;
        }
        int error = 0;
        for (;;) {
            errno = 0;
            const dirent* entry = readdir(directory);
            if (!entry) {
                error = errno;
                break;
            }
            auto device = std::make_unique<Device>();
            if (!parsePciName(entry->d_name, device.get()))
                continue;
            device->name = entry->d_name;
            device->path = folder + "/" + device->name;
            devices.push_back(std::move(device));
        }
        closedir(directory);
        if (error != 0) {
            fail("cannot list", folder, error);
            return false;
        }
        // In address order, whatever order the folder lists them in.
        std::sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) { return a->name < b->name; });
        return true;
    }

    uint32_t open() {
        if (!listDevices(root + "/devices"))
            return 1;
        // Detection reads the addressable devices itself; the others are
        // looked at here only to say which boards it cannot reach.
        for (auto& device : devices) {
            if (device->domain == 0 && device->bus < MAX_BUS_COUNT) {
                addressable[device->pciAddress()] = device.get();
                if (device->bus + 1 > busCount)
                    busCount = device->bus + 1;
            } else if (isVsa100(*device)) {
                unaddressable.push_back(device->name + ": a VSA-100 board " +
                                        (device->domain ? "outside PCI domain 0000" : "on bus ff") +
                                        ", which halvex cannot address (it reaches boards in domain 0000 on buses"
                                        " 00 to fe); skipped");
            }
            if (device->domain == 0 && device->bus >= MAX_BUS_COUNT)
                busCount = MAX_BUS_COUNT;
        }
        return 0;
    }

    // The word at `physicalAddress` inside a memory BAR of a VSA-100 board,
    // mapped once for the run; nullptr (and a failure kept) otherwise. Only
    // the boards detection found are looked at: reading any other device
    // here could only add that device's failures to the board's.
    volatile uint32_t* word(uint32_t physicalAddress, bool forWrite, const char* operation) {
        for (const auto& entry : addressable) {
            Device* device = entry.second;
            if (!device->identified || !isVsa100(*device) || !readResource(*device))
                continue;
            for (unsigned i = 0; i < BAR_COUNT; ++i) {
                const Bar& bar = device->board().bars[i];
                if (!bar.isMemory() || physicalAddress < bar.start || uint64_t(physicalAddress) + 3 > bar.end)
                    continue;
                Mapping& mapping = map(*device, i);
                if (!mapping.base || (forWrite && !mapping.writable)) {
                    failures.push_back(mapping.error);
                    return nullptr;
                }
                const uint64_t offset = physicalAddress - bar.start;
                if (offset % 4 != 0)
                    break;
                return reinterpret_cast<volatile uint32_t*>(mapping.base + offset);
            }
        }
        char text[96];
        snprintf(text, sizeof text, "refused %s at 0x%08" PRIX32 ": not inside a memory BAR of a VSA-100 board",
                 operation, physicalAddress);
        failures.push_back(text);
        return nullptr;
    }

    // BAR `index`'s resource file mapped for the run, for writing where the
    // file lets us; a mapping with no base, or not writable, says why in
    // `error`.
    Mapping& map(Device& device, unsigned index) {
        Mapping& mapping = device.board().mappings[index];
        if (mapping.tried)
            return mapping;
        mapping.tried = true;
        const std::string path = device.path + "/resource" + std::to_string(index);
        mapping.writable = true;
        int fd = ::open(path.c_str(), O_RDWR | OPEN_FLAGS);
        const int writeError = errno;
        if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
            mapping.writable = false;
            fd = ::open(path.c_str(), O_RDONLY | OPEN_FLAGS);
        }
        if (fd < 0) {
            mapping.error = describe("cannot open", path, errno, &device);
            return mapping;
        }
        uint64_t fileSize = 0;
        fd = keepRegular(fd, "cannot map", path, &mapping.error, &fileSize);
        if (fd < 0)
            return mapping;
        const uint64_t size = device.board().bars[index].size();
        mapping.error = mappingProblem(fileSize, path, size);
        if (!mapping.error.empty()) {
            close(fd);
            return mapping;
        }
        void* base = mmap(nullptr, static_cast<size_t>(size), PROT_READ | (mapping.writable ? PROT_WRITE : 0),
                          MAP_SHARED, fd, 0);
        const int error = errno;
        close(fd);
        if (base == MAP_FAILED) {
            mapping.error = describe("cannot map", path, error, &device);
            return mapping;
        }
        mapping.base = static_cast<volatile uint8_t*>(base);
        mapping.length = static_cast<size_t>(size);
        if (!mapping.writable)
            mapping.error = describe("cannot write", path, writeError, &device);
        return mapping;
    }

    // Why the BAR file at `path`, `fileSize` bytes long, cannot be mapped
    // whole, "" when it can. The kernel sizes a BAR's file as the BAR; a file
    // shorter than that (a tree from elsewhere) would kill the process with
    // SIGBUS at the first access past its end.
    static std::string mappingProblem(uint64_t fileSize, const std::string& path, uint64_t size) {
        char text[128];
        if (size > SIZE_MAX) {
            snprintf(text, sizeof text, ": the BAR (%" PRIu64 " MiB) is larger than this program can map", size >> 20);
            return "cannot map " + path + text;
        }
        if (fileSize < size) {
            snprintf(text, sizeof text, ": the file holds %" PRIu64 " bytes, fewer than its BAR's %" PRIu64, fileSize,
                     size);
            return "cannot map " + path + text;
        }
        return "";
    }

    // The memory BAR of another board that `size` bytes from `start` run
    // into ("BAR0 of 0000:00:09.0"), "" when none does. The kernel never
    // places two BARs over each other; a tree that shows it leaves no way
    // to tell which board a physical address belongs to.
    std::string overlappingBar(const Device& device, uint64_t start, uint64_t size) {
        for (const auto& entry : addressable) {
            Device& other = *entry.second;
            if (&other == &device || !other.identified || !isVsa100(other) || !readResource(other))
                continue;
            for (unsigned i = 0; i < BAR_COUNT; ++i) {
                const Bar& theirs = other.board().bars[i];
                if (theirs.isMemory() && theirs.start < start + size && start <= theirs.end)
                    return "BAR" + std::to_string(i) + " of another VSA-100 board, " + other.name;
            }
        }
        return "";
    }

    // Whether BAR0 holds the chips' register windows where the board code
    // will look for them; "" if so, else why not.
    std::string windowsProblem(Device& device, unsigned chips) {
        if (!readResource(device))
            return device.board().resourceError;
        const Bar& bar = device.board().bars[0];
        const uint64_t needed = uint64_t(chips) * CHIP_WINDOW_SIZE;
        char text[160];
        // An I/O BAR is named as such, assigned or not.
        if (!bar.isAssigned() && (bar.flags & RESOURCE_IO) == 0)
            return boardReasonText(BoardReason::BarUnassigned);
        if (!bar.isMemory())
            return boardReasonText(BoardReason::BarNotMemory);
        if (bar.size() < needed) {
            snprintf(text, sizeof text,
                     "BAR0 (%" PRIu64 " MiB) is smaller than the register windows of its %u chips (%" PRIu64 " MiB)",
                     bar.size() >> 20, chips, needed >> 20);
            return text;
        }
        if (bar.start + needed > PHYSICAL_ADDRESS_LIMIT)
            return boardReasonText(BoardReason::WindowsPast4GiB);
        const std::string overlap = overlappingBar(device, bar.start, needed);
        if (!overlap.empty())
            return "BAR0 overlaps " + overlap;
        const uint32_t configured = readConfig(device, PCI_BAR0, 4) & ~BAR_FLAG_MASK;
        if (configured != bar.start) {
            snprintf(text, sizeof text, "BAR0 reads 0x%08" PRIX32 " but the kernel placed it at 0x%08" PRIX64,
                     configured, bar.start);
            return text;
        }
        return "";
    }

    // Everything that can be known before the first write to the board: its
    // windows, its configuration space open for writing, BAR0 mapped (and
    // for writing where `forWrite`). The kernel refuses the last two to a
    // user, under lockdown, and (the mapping) where a driver holds the board.
    std::string boardProblem(uint32_t pciAddress, unsigned chips, bool forWrite) {
        Device* device = deviceAt(pciAddress);
        if (!device)
            return "no such device";
        std::string problem = windowsProblem(*device, chips);
        if (!problem.empty())
            return problem;
        if (configWriteFd(*device) < 0)
            return device->board().configWriteError;
        const Mapping& mapping = map(*device, 0);
        if (!mapping.base || (forWrite && !mapping.writable))
            return mapping.error;
        return "";
    }
};

std::unique_ptr<Sysfs>& instance() {
    static std::unique_ptr<Sysfs> sysfs = std::make_unique<Sysfs>(SYSFS_DEFAULT_ROOT);
    return sysfs;
}

Sysfs& machine() { return *instance(); }

uint32_t sysfsOpen() { return machine().open(); }

uint8_t sysfsBusCount() { return static_cast<uint8_t>(machine().busCount); }

uint32_t readAt(uint32_t pciAddress, uint32_t offset, unsigned bytes) {
    Device* device = machine().deviceAt(pciAddress);
    return device ? machine().readConfig(*device, offset, bytes) : ABSENT >> (32 - 8 * bytes);
}

uint16_t sysfsReadWord(uint32_t pciAddress, uint32_t offset) {
    return static_cast<uint16_t>(readAt(pciAddress, offset, 2));
}

uint32_t sysfsReadDword(uint32_t pciAddress, uint32_t offset) { return readAt(pciAddress, offset, 4); }

uint32_t sysfsWriteDword(uint32_t pciAddress, uint32_t offset, uint32_t value) {
    Device* device = machine().deviceAt(pciAddress);
    if (!device) {
        char text[64];
        snprintf(text, sizeof text, "refused a configuration write to the empty slot %04" PRIX32, pciAddress);
        machine().failures.push_back(text);
        return 0;
    }
    machine().writeConfig(*device, offset, value);
    return 0;
}

uint32_t sysfsMemRead(uint32_t physicalAddress) {
    volatile uint32_t* word = machine().word(physicalAddress, false, "a read");
    return word ? *word : ABSENT;
}

uint32_t sysfsMemWrite(uint32_t physicalAddress, uint32_t value) {
    if (volatile uint32_t* word = machine().word(physicalAddress, true, "a write"))
        *word = value;
    return 0;
}

std::string sysfsBoardProblem(uint32_t pciAddress, unsigned chips, bool forWrite) {
    return machine().boardProblem(pciAddress, chips, forWrite);
}

bool sysfsSetParameter(const char* name, const std::string& value) {
    if (strcmp(name, SYSFS_PATH_PARAMETER) != 0)
        return false;
    // A new tree: whatever was found and opened in the one before is let go.
    instance() = std::make_unique<Sysfs>(value);
    return true;
}

std::string sysfsTakeFailure() { return takeFirstFailure(&machine().failures); }

std::vector<std::string> sysfsTakeWarnings() {
    std::vector<std::string> taken;
    taken.swap(machine().unaddressable);
    return taken;
}

}  // namespace

const BoardAccess SYSFS_ACCESS = {
    "sysfs",        sysfsOpen,         sysfsBusCount,     sysfsReadWord,   sysfsReadDword,
    sysfsWriteDword, sysfsMemRead,     sysfsMemWrite,     sysfsSetParameter, sysfsBoardProblem,
    sysfsTakeFailure, sysfsTakeWarnings,
};
