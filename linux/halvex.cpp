// halvex: reads and sets the graphics clock of VSA-100 boards on Linux, through
// the same board code as the Windows program, over an access method picked at
// run time: the machine's own PCI devices through sysfs, or simulated boards.
//
// Exit status: 0 done; 1 the hardware could not be reached or a write was
// refused; 2 no board found; 64 a bad command line (nothing written).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "apply/whole_number.h"
#include "halvex_version.h"
#include "board/board_list.h"
#include "board/driver.h"
#include "board/pll.h"
#include "board/access.h"
#include "sim/sim_access.h"
#include "linux/sysfs_access.h"

namespace {

const char PROGRAM[] = "halvex";

enum ExitStatus { EXIT_DONE = 0, EXIT_UNREACHABLE = 1, EXIT_NO_BOARD = 2, EXIT_USAGE = 64 };

const char USAGE[] =
    "Usage: halvex [--sysfs DIR | --simulate] [list] [--board N]\n"
    "       halvex [--sysfs DIR | --simulate] set MHZ [--board N]\n"
    "       halvex [--sysfs DIR | --simulate] apply [--board N]\n";

const char HELP[] =
    "\n"
    "Reads and sets the graphics clock of 3dfx VSA-100 boards (1, 2 or 4 chips).\n"
    "\n"
    "Commands:\n"
    "  list            each board: number, PCI address, chips, clock (the default)\n"
    "  set MHZ         write the clock MHZ (50 to 220) into every chip of every\n"
    "                  board, then list the boards written\n"
    "  apply           set the clock in CLOCK, only on board BOARD if that is\n"
    "                  not empty: the settings halvex.service passes from\n"
    "                  /etc/default/halvex; with no CLOCK, write nothing\n"
    "\n"
    "Options:\n"
    "  -b, --board N   only board N, numbered from 1 as list shows them\n"
    "      --sysfs DIR the PCI devices under DIR/devices (default /sys/bus/pci)\n"
    "      --simulate  simulated boards (HALVEX_SIM_BOARDS, HALVEX_SIM_STATE)\n"
    "  -h, --help      show this help and exit\n"
    "  -V, --version   show the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 the hardware could not be reached or a write was\n"
    "refused, 2 no board found, 64 a bad command line or setting.\n"
    "Changing the clock may cause instability or damage the hardware.\n";

struct Options {
    bool set = false;
    bool apply = false;
    unsigned mhz = 0;
    unsigned board = 0;  // 0: every board
    const DriverAccess* access = &SYSFS_ACCESS;
    std::string sysfsRoot = SYSFS_DEFAULT_ROOT;
};

// What the board code's refusal of an unusable BAR0 means.
const char NO_MEMORY_ADDRESS[] = "BAR0 holds no usable memory address";
constexpr unsigned MAX_BOARD_NUMBER = 0xFFFF;

// A clock, from the command line or the settings: a whole number of MHz in
// the table's range.
bool parseClock(const char* text, unsigned* mhz) {
    return parseWholeNumber(text, MAX_CLOCK_MHZ, mhz) && *mhz >= MIN_CLOCK_MHZ;
}

// A board number as list shows them, from 1.
bool parseBoard(const char* text, unsigned* board) {
    return parseWholeNumber(text, MAX_BOARD_NUMBER, board) && *board != 0;
}

int usageError(const std::string& problem) {
    fprintf(stderr, "%s: %s\n%s", PROGRAM, problem.c_str(), USAGE);
    return EXIT_USAGE;
}

// Whether argv[*i] is the option `name` (or `shortName`), as "--name VALUE" or
// "--name=VALUE"; `value` is then its value, nullptr when it has none.
bool isOption(int argc, char** argv, int* i, const char* name, const char* shortName, const char** value) {
    const char* word = argv[*i];
    const size_t length = strlen(name);
    if (strncmp(word, name, length) == 0 && word[length] == '=') {
        *value = word + length + 1;
        return true;
    }
    if (strcmp(word, name) != 0 && !(shortName && strcmp(word, shortName) == 0))
        return false;
    *value = *i + 1 < argc ? argv[++*i] : nullptr;
    return true;
}

// Returns -1 when the command line is good, else the exit status.
int parseOptions(int argc, char** argv, Options* options) {
    bool sawCommand = false, sawSysfs = false, sawSimulate = false, sawBoard = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-h" || word == "--help") {
            printf("%s%s", USAGE, HELP);
            return EXIT_DONE;
        }
        if (word == "-V" || word == "--version") {
            printf("%s %s\n", PROGRAM, HALVEX_VERSION_TEXT);
            return EXIT_DONE;
        }
        if (word == "--simulate") {
            sawSimulate = true;
            options->access = &SIMULATED_ACCESS;
            continue;
        }
        const char* value;
        if (isOption(argc, argv, &i, "--sysfs", nullptr, &value)) {
            if (!value || !*value)
                return usageError("--sysfs needs a folder");
            if (sawSysfs)
                return usageError("--sysfs given twice");
            sawSysfs = true;
            options->sysfsRoot = value;
            continue;
        }
        if (isOption(argc, argv, &i, "--board", "-b", &value)) {
            if (sawBoard)
                return usageError("--board given twice");
            sawBoard = true;
            if (!value || !parseBoard(value, &options->board))
                return usageError(std::string("not a board number: '") + (value ? value : "") + "'");
            continue;
        }
        if (word.size() > 1 && word[0] == '-')
            return usageError("unknown option '" + word + "'");
        if (!sawCommand && (word == "list" || word == "set" || word == "apply")) {
            sawCommand = true;
            options->set = word == "set";
            options->apply = word == "apply";
            if (options->set) {
                if (i + 1 >= argc)
                    return usageError("set needs a clock in MHz");
                if (!parseClock(argv[++i], &options->mhz))
                    return usageError(std::string("not a clock from 50 to 220 MHz: '") + argv[i] + "'");
            }
            continue;
        }
        return usageError("unexpected '" + word + "'");
    }
    if (sawSysfs && sawSimulate)
        return usageError("--sysfs and --simulate exclude each other");
    return -1;
}

// `apply`: `set` with the clock and board the service reads from its settings
// file, which systemd hands over in the environment. The service is enabled
// on install, so no clock is no error: it just writes nothing. A --board on
// the command line wins over BOARD. Returns -1 to go on, else the exit status.
int readSettings(Options* options) {
    const char* clock = getenv("CLOCK");
    if (!clock || !*clock) {
        printf("%s: no clock set (CLOCK is empty or unset), nothing written\n", PROGRAM);
        return EXIT_DONE;
    }
    if (!parseClock(clock, &options->mhz)) {
        fprintf(stderr, "%s: CLOCK is not a clock from 50 to 220 MHz: '%s'\n", PROGRAM, clock);
        return EXIT_USAGE;
    }
    const char* board = getenv("BOARD");
    if (options->board == 0 && board && *board && !parseBoard(board, &options->board)) {
        fprintf(stderr, "%s: BOARD is not a board number: '%s'\n", PROGRAM, board);
        return EXIT_USAGE;
    }
    options->set = true;
    return -1;
}

std::string addressText(uint32_t pciAddress) {
    char text[16];
    snprintf(text, sizeof text, "0000:%02x:%02x.%u", (pciAddress >> 8) & 0xFF, (pciAddress >> 3) & 0x1F,
             pciAddress & 7);
    return text;
}

void complain(unsigned number, uint32_t pciAddress, const std::string& reason) {
    fprintf(stderr, "%s: board %u (%s): %s\n", PROGRAM, number, addressText(pciAddress).c_str(), reason.c_str());
}

// A failure the access method kept during detection, before any board.
bool complainOfFailures(const DriverAccess& access) {
    const std::string failure = access.takeFailure();
    if (!failure.empty())
        fprintf(stderr, "%s: %s\n", PROGRAM, failure.c_str());
    return !failure.empty();
}

// Prints board `number`'s line; false (with the reason on the line and on
// stderr) when its clock could not be read.
bool printBoard(const BoardList& boards, unsigned number, const DriverAccess& access) {
    const unsigned index = number - 1;
    const unsigned chips = boards.chipCountAt(index);
    const uint32_t address = boards.pciAddressAt(index);
    // The readout writes the command register: a board that cannot be read is
    // found out before that, as for a write, and left untouched.
    std::string reason = access.boardProblem(address, 1, false);
    double mhz = 0.0;
    if (reason.empty()) {
        mhz = boards.readClockMHz(index);
        reason = access.takeFailure();
        // No PLL setting decodes to 0 MHz: 0.0 means the board code refused.
        if (reason.empty() && mhz == 0.0)
            reason = NO_MEMORY_ADDRESS;
    }
    printf("%u  %s  %u chip%s  ", number, addressText(address).c_str(), chips, chips == 1 ? "" : "s");
    if (!reason.empty()) {
        reason = "cannot read the clock: " + reason;
        printf("%s\n", reason.c_str());
        complain(number, address, reason);
        return false;
    }
    // Cut toward zero, as the window shows it.
    printf("%u MHz  (%.2f MHz)\n", static_cast<unsigned>(mhz), mhz);
    return true;
}

// Writes the clock into board `number`, then lists it; false when refused or
// failed. A board that fails any check that can be made in advance gets no
// write at all, its configuration space included.
bool setBoard(const BoardList& boards, unsigned number, unsigned mhz, const DriverAccess& access) {
    const unsigned index = number - 1;
    const uint32_t address = boards.pciAddressAt(index);
    const std::string problem = access.boardProblem(address, boards.chipCountAt(index), true);
    if (!problem.empty()) {
        complain(number, address, "refused, nothing written: " + problem);
        return false;
    }
    const bool written = boards.writeClock(mhz, index);
    const std::string failure = access.takeFailure();
    if (!failure.empty()) {
        complain(number, address, failure);
        return false;
    }
    if (!written) {
        complain(number, address, std::string("refused, nothing written: ") + NO_MEMORY_ADDRESS);
        return false;
    }
    return printBoard(boards, number, access);
}

int run(const Options& options) {
    const DriverAccess& access = *options.access;
    selectDriverAccess(&access);
    sysfsSetRoot(options.sysfsRoot);
    if (DrvOpen() != 0) {
        if (!complainOfFailures(access))
            fprintf(stderr, "%s: the %s driver did not open\n", PROGRAM, access.name);
        return EXIT_UNREACHABLE;
    }
    if (&access == &SYSFS_ACCESS)
        for (const std::string& warning : sysfsUnaddressable())
            fprintf(stderr, "%s: warning: %s\n", PROGRAM, warning.c_str());

    BoardList boards;
    const bool found = boards.detect();
    if (complainOfFailures(access))
        return EXIT_UNREACHABLE;
    if (!found) {
        fprintf(stderr, "%s: no VSA-100 board found\n", PROGRAM);
        return EXIT_NO_BOARD;
    }
    const unsigned count = boards.count();
    if (options.board > count) {
        fprintf(stderr, "%s: no board %u: %u found\n%s", PROGRAM, options.board, count, USAGE);
        return EXIT_USAGE;
    }

    int status = EXIT_DONE;
    for (unsigned number = 1; number <= count; ++number) {
        if (options.board != 0 && number != options.board)
            continue;
        const bool ok =
            options.set ? setBoard(boards, number, options.mhz, access) : printBoard(boards, number, access);
        if (!ok)
            status = EXIT_UNREACHABLE;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int status = parseOptions(argc, argv, &options);
    if (status < 0 && options.apply)
        status = readSettings(&options);
    if (status >= 0)
        return status;
    const int result = run(options);
    if (fflush(stdout) != 0) {
        fprintf(stderr, "%s: cannot write the list: %s\n", PROGRAM, strerror(errno));
        return EXIT_UNREACHABLE;
    }
    return result;
}
