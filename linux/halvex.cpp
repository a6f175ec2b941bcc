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

#include "apply/apply_clock.h"
#include "apply/whole_number.h"
#include "board/access.h"
#include "board/board_list.h"
#include "board/pll.h"
#include "halvex_version.h"
#include "linux/sysfs_access.h"
#include "sim/posix_files.h"

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
    "  set MHZ         write the clock MHZ (" CLOCK_RANGE_TEXT ") into every chip of every\n"
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

const char NOT_A_CLOCK[] = "not a clock from " CLOCK_RANGE_TEXT " MHz";

struct Options {
    bool apply = false;
    ApplyRequest request;  // LIST_ONLY unless set or apply
    const BoardAccess* access = &SYSFS_ACCESS;
    // The method's own parameter, as --sysfs gives it; no name: none.
    const char* parameter = nullptr;
    std::string parameterValue;
};

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
            options->access = simulatedAccess(&POSIX_SIM_FILES);
            continue;
        }
        const char* value;
        if (isOption(argc, argv, &i, "--sysfs", nullptr, &value)) {
            if (!value || !*value)
                return usageError("--sysfs needs a folder");
            if (sawSysfs)
                return usageError("--sysfs given twice");
            sawSysfs = true;
            options->parameter = SYSFS_PATH_PARAMETER;
            options->parameterValue = value;
            continue;
        }
        if (isOption(argc, argv, &i, "--board", "-b", &value)) {
            if (sawBoard)
                return usageError("--board given twice");
            sawBoard = true;
            if (!value || !parseBoardNumber(value, &options->request.board))
                return usageError(std::string("not a board number: '") + (value ? value : "") + "'");
            continue;
        }
        if (word.size() > 1 && word[0] == '-')
            return usageError("unknown option '" + word + "'");
        if (!sawCommand && (word == "list" || word == "set" || word == "apply")) {
            sawCommand = true;
            options->apply = word == "apply";
            if (word == "set") {
                if (i + 1 >= argc)
                    return usageError("set needs a clock in MHz");
                if (!parseClock(argv[++i], &options->request.mhz))
                    return usageError(std::string(NOT_A_CLOCK) + ": '" + argv[i] + "'");
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
    if (!parseClock(clock, &options->request.mhz)) {
        fprintf(stderr, "%s: CLOCK is %s: '%s'\n", PROGRAM, NOT_A_CLOCK, clock);
        return EXIT_USAGE;
    }
    const char* board = getenv("BOARD");
    if (options->request.board == ALL_BOARDS && board && *board && !parseBoardNumber(board, &options->request.board)) {
        fprintf(stderr, "%s: BOARD is not a board number: '%s'\n", PROGRAM, board);
        return EXIT_USAGE;
    }
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

// A failure the access method kept, told; false when there was none.
bool complainOfFailures(const BoardAccess& access) {
    const std::string failure = access.takeFailure();
    if (!failure.empty())
        fprintf(stderr, "%s: %s\n", PROGRAM, failure.c_str());
    return !failure.empty();
}

// The warnings of the method's open, then a failure of detection.
bool detected(void* context) {
    const BoardAccess& access = *static_cast<const BoardAccess*>(context);
    for (const std::string& warning : access.takeWarnings())
        fprintf(stderr, "%s: warning: %s\n", PROGRAM, warning.c_str());
    return !complainOfFailures(access);
}

// Prints board `number`'s line; false (with the reason on the line and on
// stderr) when its clock could not be read.
bool printBoard(const BoardList& boards, unsigned number, const BoardAccess& access) {
    const unsigned index = number - 1;
    const unsigned chips = boards.chipCountAt(index);
    const uint32_t address = boards.pciAddressAt(index);
    // The readout writes the command register: a board that cannot be read is
    // found out before that, as for a write, and left untouched.
    std::string reason = access.boardProblem(address, 1, false);
    ClockReading reading = {BoardReason::Usable, 0.0};
    if (reason.empty()) {
        reading = boards.readClock(index);
        reason = access.takeFailure();
        if (reason.empty() && reading.reason != BoardReason::Usable)
            reason = boardReasonText(reading.reason);
    }
    printf("%u  %s  %u chip%s  ", number, addressText(address).c_str(), chips, chips == 1 ? "" : "s");
    if (!reason.empty()) {
        reason = "cannot read the clock: " + reason;
        printf("%s\n", reason.c_str());
        complain(number, address, reason);
        return false;
    }
    // Cut toward zero, as the window shows it.
    printf("%u MHz  (%.2f MHz)\n", static_cast<unsigned>(reading.mhz), reading.mhz);
    return true;
}

const char REFUSED[] = "refused, nothing written: ";

// Before a write, the method's own check of everything that can be known in
// advance: a board failing it gets no write at all, its configuration space
// included. A listing is checked as it prints.
bool checkBoard(void* context, const BoardList& boards, unsigned number) {
    const BoardAccess& access = *static_cast<const BoardAccess*>(context);
    const unsigned index = number - 1;
    const std::string problem = access.boardProblem(boards.pciAddressAt(index), boards.chipCountAt(index), true);
    if (!problem.empty())
        complain(number, boards.pciAddressAt(index), REFUSED + problem);
    return problem.empty();
}

// After the write (or its refusal by the board code), the board is listed.
bool reportWrite(void* context, const BoardList& boards, unsigned number, BoardReason reason) {
    const BoardAccess& access = *static_cast<const BoardAccess*>(context);
    const uint32_t address = boards.pciAddressAt(number - 1);
    const std::string failure = access.takeFailure();
    if (!failure.empty()) {
        complain(number, address, failure);
        return false;
    }
    if (reason != BoardReason::Usable) {
        complain(number, address, REFUSED + std::string(boardReasonText(reason)));
        return false;
    }
    return printBoard(boards, number, access);
}

bool reportListed(void* context, const BoardList& boards, unsigned number, BoardReason) {
    return printBoard(boards, number, *static_cast<const BoardAccess*>(context));
}

int run(const Options& options) {
    const BoardAccess& access = *options.access;
    if (options.parameter && !access.setParameter(options.parameter, options.parameterValue)) {
        fprintf(stderr, "%s: the %s method has no parameter %s\n", PROGRAM, access.name, options.parameter);
        return EXIT_USAGE;
    }
    selectBoardAccess(&access);
    const bool writes = options.request.mhz != LIST_ONLY;
    ApplyHooks hooks;
    hooks.context = const_cast<BoardAccess*>(&access);
    hooks.detected = detected;
    hooks.check = writes ? checkBoard : nullptr;
    hooks.report = writes ? reportWrite : reportListed;
    BoardList boards;
    const ApplyOutcome outcome = applyClock(boards, options.request, hooks);
    switch (outcome.status) {
    case ApplyStatus::Done:
        return EXIT_DONE;
    case ApplyStatus::NoDriver:
        if (!complainOfFailures(access))
            fprintf(stderr, "%s: the %s driver did not open\n", PROGRAM, access.name);
        return EXIT_UNREACHABLE;
    case ApplyStatus::NoBoard:
        fprintf(stderr, "%s: no VSA-100 board found\n", PROGRAM);
        return EXIT_NO_BOARD;
    case ApplyStatus::NoSuchBoard:
        fprintf(stderr, "%s: no board %u: %u found\n%s", PROGRAM, options.request.board, outcome.boardCount, USAGE);
        return EXIT_USAGE;
    case ApplyStatus::Stopped:
    case ApplyStatus::Refused:
        break;
    }
    return EXIT_UNREACHABLE;
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
