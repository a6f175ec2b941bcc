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
#include "board/access.h"
#include "board/board_list.h"
#include "linux/options.h"

namespace {

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
            fprintf(stderr, "%s: the %s access method did not open\n", PROGRAM, access.name);
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
