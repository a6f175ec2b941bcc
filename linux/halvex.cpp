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

#include "board/board_list.h"
#include "board/driver.h"
#include "board/pll.h"
#include "board/access.h"
#include "linux/options.h"
#include "linux/sysfs_access.h"

namespace {

// What the board code's refusal of an unusable BAR0 means.
const char NO_MEMORY_ADDRESS[] = "BAR0 holds no usable memory address";

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
    OptionsOutcome outcome = parseOptions(argc, argv, &options);
    if (outcome.goesOn() && options.apply)
        outcome = readSettings(getenv("CLOCK"), getenv("BOARD"), &options);
    if (!outcome.goesOn()) {
        fputs(outcome.text.c_str(), outcome.isError ? stderr : stdout);
        return outcome.status;
    }
    const int result = run(options);
    if (fflush(stdout) != 0) {
        fprintf(stderr, "%s: cannot write the list: %s\n", PROGRAM, strerror(errno));
        return EXIT_UNREACHABLE;
    }
    return result;
}
