// A whole sysfs tree: the input laid out as a small tree in a folder of its
// own, then the sysfs method's detection, readout and set run on it as the
// halvex command runs them. After every step the tree is compared with what
// it held before: only a VSA-100 board's command register (bytes 4 to 7 of
// its `config`) and its chips' register windows in BAR0's file may change,
// only in a step for that board, and not at all for a board refused.
//
// The input is a list of records, each a type byte, a NUL-ended path below
// the tree, and what the type needs:
//   'd'  a folder
//   'f'  a file: its size (u32, little-endian), a count of pieces (u8), each
//        an offset (u32), a length (u16) and that many bytes; the rest is zero
//   'p'  a named pipe
//   'l'  a symbolic link: its NUL-ended target, a relative path that stays
//        inside the tree
// Paths never leave the tree (no "..", no leading "/"); folders above a path
// are made as needed.
//
// HALVEX_FUZZ_TREE=DIR only lays an input out in DIR, to look at it.
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <map>

#include "board/access.h"
#include "board/board_list.h"
#include "board/driver.h"
#include "board/pll.h"
#include "board/vsa100.h"
#include "fuzz/check.h"
#include "linux/sysfs_access.h"

namespace {

constexpr uint32_t MAX_FILE_SIZE = 256u << 20;  // sparse: only what is written takes room
constexpr size_t MAX_COMPONENT = 64;
constexpr unsigned MAX_DEPTH = 4;
constexpr uint64_t CONFIG_COMMAND_START = 4, CONFIG_COMMAND_END = 8;

std::string g_base;  // holds the tree of the run, <base>/tree
std::string g_root;

struct Reader {
    const uint8_t* p;
    const uint8_t* end;
    bool take(void* to, size_t n) {
        if (size_t(end - p) < n)
            return false;
        memcpy(to, p, n);
        p += n;
        return true;
    }
    template <typename T>
    bool number(T* value) {
        uint8_t bytes[sizeof(T)];
        if (!take(bytes, sizeof bytes))
            return false;
        *value = 0;
        for (size_t i = sizeof bytes; i-- > 0;)
            *value = static_cast<T>(*value << 8 | bytes[i]);
        return true;
    }
    bool text(std::string* value) {
        const void* nul = memchr(p, '\0', size_t(end - p));
        if (!nul)
            return false;
        value->assign(reinterpret_cast<const char*>(p), static_cast<const uint8_t*>(nul) - p);
        p = static_cast<const uint8_t*>(nul) + 1;
        return true;
    }
};

// A relative path that cannot leave the folder it is taken from.
bool isSafePath(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return false;
    unsigned depth = 0;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string part = path.substr(start, slash - start);
        if (part.empty() || part == "." || part == ".." || part.size() > MAX_COMPONENT || ++depth > MAX_DEPTH)
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

void makeParents(const std::string& path) {
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir((g_root + "/" + path.substr(0, slash)).c_str(), 0755);
}

void makeFile(const std::string& where, Reader& in) {
    uint32_t size;
    uint8_t pieces;
    if (!in.number(&size) || !in.number(&pieces))
        return;
    size %= MAX_FILE_SIZE + 1;
    const int fd = open(where.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (ftruncate(fd, size) == 0) {
        for (unsigned i = 0; i < pieces; ++i) {
            uint32_t offset;
            uint16_t length;
            if (!in.number(&offset) || !in.number(&length) || size_t(in.end - in.p) < length)
                break;
            if (offset < size)
                (void)!pwrite(fd, in.p, std::min<uint64_t>(length, size - offset), offset);
            in.p += length;
        }
    }
    close(fd);
}

void layOut(const uint8_t* data, size_t size) {
    mkdir(g_root.c_str(), 0755);
    Reader in{data, data + size};
    uint8_t type;
    std::string path;
    while (in.number(&type) && in.text(&path)) {
        const bool safe = isSafePath(path);
        if (safe)
            makeParents(path);
        const std::string where = g_root + "/" + path;
        if (type == 'f') {
            if (safe)
                makeFile(where, in);
            else
                break;  // its payload cannot be skipped safely
        } else if (type == 'd' && safe) {
            mkdir(where.c_str(), 0755);
        } else if (type == 'p' && safe) {
            mkfifo(where.c_str(), 0644);
        } else if (type == 'l') {
            std::string target;
            if (!in.text(&target))
                break;
            if (safe && isSafePath(target))
                (void)!symlink(target.c_str(), where.c_str());
        }
    }
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void removeTree() { nftw(g_root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

// What a regular file holds where it holds anything: the pages of its data
// extents (a BAR file is large and sparse), the holes left out.
constexpr uint64_t PAGE = 4096;

struct FileState {
    uint64_t size = 0;
    std::map<uint64_t, std::string> pages;  // by offset, PAGE bytes each
};

// Every entry below the tree by its path, without following links: a file's
// state, else its type (and a link's target).
struct TreeState {
    std::map<std::string, FileState> files;
    std::map<std::string, std::string> others;
};

TreeState* g_snapshot = nullptr;

int recordEntry(const char* path, const struct stat* status, int, struct FTW*) {
    const std::string name = path + g_root.size();
    if (!S_ISREG(status->st_mode)) {
        char target[PATH_MAX] = "";
        if (S_ISLNK(status->st_mode))
            (void)!readlink(path, target, sizeof target - 1);
        g_snapshot->others[name] = std::to_string(status->st_mode & S_IFMT) + " " + target;
        return 0;
    }
    FileState& file = g_snapshot->files[name];
    file.size = static_cast<uint64_t>(status->st_size);
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    FUZZ_CHECK(fd >= 0, name);
    for (off_t data = lseek(fd, 0, SEEK_DATA); data >= 0; data = lseek(fd, data, SEEK_DATA)) {
        const off_t hole = lseek(fd, data, SEEK_HOLE);
        for (uint64_t page = uint64_t(data) / PAGE * PAGE; page < uint64_t(hole); page += PAGE) {
            std::string bytes(PAGE, '\0');
            FUZZ_CHECK(pread(fd, &bytes[0], PAGE, static_cast<off_t>(page)) >= 0, name);
            file.pages[page] = bytes;
        }
        data = hole;
    }
    close(fd);
    return 0;
}

TreeState snapshot() {
    TreeState state;
    g_snapshot = &state;
    nftw(g_root.c_str(), recordEntry, 16, FTW_PHYS);
    return state;
}

// The first and the last byte that differ between two states of a file;
// false when none does.
bool changedRange(const FileState& before, const FileState& after, uint64_t* first, uint64_t* last) {
    if (before.pages == after.pages)
        return false;
    static const std::string zeros(PAGE, '\0');
    bool changed = false;
    auto compare = [&](uint64_t page) {
        const auto a = before.pages.find(page), b = after.pages.find(page);
        const std::string& x = a == before.pages.end() ? zeros : a->second;
        const std::string& y = b == after.pages.end() ? zeros : b->second;
        if (x == y)
            return;
        for (uint64_t i = 0; i < PAGE; ++i)
            if (x[i] != y[i]) {
                *first = changed ? std::min(*first, page + i) : page + i;
                *last = changed ? std::max(*last, page + i) : page + i;
                changed = true;
            }
    };
    for (const auto& page : before.pages)
        compare(page.first);
    for (const auto& page : after.pages)
        compare(page.first);
    return changed;
}

// The path below the tree of what `path` (below the tree) stands for, links
// followed; "" when it is not there.
std::string resolved(const std::string& path) {
    char real[PATH_MAX];
    char base[PATH_MAX];
    if (!realpath((g_root + path).c_str(), real) || !realpath(g_root.c_str(), base))
        return "";
    const std::string text = real;
    return text.compare(0, strlen(base), base) == 0 ? text.substr(strlen(base)) : "";
}

std::string deviceFolder(uint32_t pciAddress) {
    char name[32];
    snprintf(name, sizeof name, "/devices/0000:%02x:%02x.%u", (pciAddress >> 8) & 0xFF, (pciAddress >> 3) & 0x1F,
             pciAddress & 7);
    return name;
}

// Checks a step's changes: none unless `written`; then only bytes 4 to 7 of
// the board's config and, where `windows` chips may be written, their
// windows in its BAR0 file.
void checkStep(const TreeState& before, const TreeState& after, uint32_t pciAddress, bool written, unsigned windows,
               const std::string& step) {
    const std::string folder = deviceFolder(pciAddress);
    const std::string config = written ? resolved(folder + "/config") : "";
    const std::string bar = written ? resolved(folder + "/resource0") : "";
    FUZZ_CHECK(before.others == after.others, step + ": entries other than files changed");
    FUZZ_CHECK(before.files.size() == after.files.size(), step + ": files made or removed");
    for (const auto& entry : before.files) {
        const auto other = after.files.find(entry.first);
        FUZZ_CHECK(other != after.files.end(), step + ": " + entry.first + " removed");
        FUZZ_CHECK(other->second.size == entry.second.size, step + ": " + entry.first + " changed its size");
        uint64_t first, last;
        if (!changedRange(entry.second, other->second, &first, &last))
            continue;
        const bool allowed =
            (entry.first == config && first >= CONFIG_COMMAND_START && last < CONFIG_COMMAND_END) ||
            (entry.first == bar && last < uint64_t(windows) * vsa100::CHIP_WINDOW_SIZE);
        FUZZ_CHECK(allowed, step + " of " + folder + ": " + entry.first + " written at " + std::to_string(first) +
                                 " to " + std::to_string(last));
    }
}

uint32_t wordAt(const TreeState& state, const std::string& file, uint64_t offset) {
    const auto found = state.files.find(file);
    if (found == state.files.end())
        return 0;
    const auto page = found->second.pages.find(offset / PAGE * PAGE);
    if (page == found->second.pages.end())
        return 0;
    uint32_t word;
    memcpy(&word, page->second.data() + offset % PAGE, sizeof word);  // the words lie within a page
    return word;
}

void run(unsigned mhz) {
    SYSFS_ACCESS.setParameter(SYSFS_PATH_PARAMETER, g_root);
    selectBoardAccess(&SYSFS_ACCESS);
    TreeState before = snapshot();
    if (DrvOpen() != 0) {
        FUZZ_CHECK(!SYSFS_ACCESS.takeFailure().empty(), "the driver failed with no reason");
        checkStep(before, snapshot(), 0, false, 0, "open");
        return;
    }
    SYSFS_ACCESS.takeWarnings();
    BoardList boards;
    boards.detect();
    TreeState after = snapshot();
    checkStep(before, after, 0, false, 0, "detection");
    if (!SYSFS_ACCESS.takeFailure().empty())
        return;  // the command ends here with the failure
    for (unsigned i = 0; i < boards.count(); ++i) {
        const uint32_t address = boards.pciAddressAt(i);
        const unsigned chips = boards.chipCountAt(i);
        // The readout, as list does it: checked first, then read.
        before = after;
        const bool readable = SYSFS_ACCESS.boardProblem(address, 1, false).empty();
        if (readable)
            boards.readClockMHz(i);
        SYSFS_ACCESS.takeFailure();
        after = snapshot();
        checkStep(before, after, address, readable, 0, "readout");
        // The write, as set does it.
        before = after;
        const bool writable = SYSFS_ACCESS.boardProblem(address, chips, true).empty();
        const bool written = writable && boards.writeClock(mhz, i);
        const std::string failure = SYSFS_ACCESS.takeFailure();
        after = snapshot();
        checkStep(before, after, address, writable, chips, "set");
        if (written && failure.empty()) {
            // Every chip holds the setting asked for.
            const std::string bar = resolved(deviceFolder(address) + "/resource0");
            for (unsigned chip = 0; chip < chips; ++chip)
                FUZZ_CHECK(wordAt(after, bar, uint64_t(chip) * vsa100::CHIP_WINDOW_SIZE + vsa100::REG_PLL_CONTROL) ==
                               PllTable[mhz - MIN_CLOCK_MHZ],
                           "chip " + std::to_string(chip) + " of " + deviceFolder(address) + " not written");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A memory file system where there is one: the trees are made and
    // removed thousands of times a second.
    char base[] = "/dev/shm/halvex-fuzz-XXXXXX";
    char fallback[] = "/tmp/halvex-fuzz-XXXXXX";
    const char* made = mkdtemp(base);
    if (!made)
        made = mkdtemp(fallback);
    FUZZ_CHECK(made != nullptr, "no temporary folder");
    g_base = made;
    g_root = g_base + "/tree";
    atexit([] { rmdir(g_base.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // HALVEX_FUZZ_TREE=DIR: lay the input out in DIR (new) and keep it there,
    // for `halvex --sysfs DIR` to be run on it; nothing else is done.
    if (const char* keep = getenv("HALVEX_FUZZ_TREE")) {
        g_root = keep;
        layOut(data, size);
        return 0;
    }
    removeTree();
    layOut(data, size);
    run(MIN_CLOCK_MHZ + static_cast<unsigned>(size % PLL_TABLE_SIZE));
    SYSFS_ACCESS.setParameter(SYSFS_PATH_PARAMETER, SYSFS_DEFAULT_ROOT);  // the tree's files closed, unmapped
    removeTree();
    return 0;
}
