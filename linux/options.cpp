#include "linux/options.h"

#include <cstring>

#include "apply/whole_number.h"
#include "board/pll.h"
#include "halvex_version.h"
#include "sim/posix_files.h"

const char PROGRAM[] = "halvex";

const char USAGE[] =
    "Usage: halvex [--sysfs DIR | --simulate] [list] [--board N]\n"
    "       halvex [--sysfs DIR | --simulate] set MHZ [--board N]\n"
    "       halvex [--sysfs DIR | --simulate] apply [--board N]\n";

namespace {

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

OptionsOutcome done(int status, const std::string& text, bool isError) {
    OptionsOutcome outcome;
    outcome.status = status;
    outcome.text = text;
    outcome.isError = isError;
    return outcome;
}

OptionsOutcome usageError(const std::string& problem) {
    return done(EXIT_USAGE, std::string(PROGRAM) + ": " + problem + "\n" + USAGE, true);
}

// Whether argv[*i] is the option `name` (or `shortName`), as "--name VALUE" or
// "--name=VALUE"; `value` is then its value, nullptr when it has none.
bool isOption(int argc, const char* const* argv, int* i, const char* name, const char* shortName,
              const char** value) {
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

}  // namespace

OptionsOutcome parseOptions(int argc, const char* const* argv, Options* options) {
    bool sawCommand = false, sawSysfs = false, sawSimulate = false, sawBoard = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-h" || word == "--help")
            return done(EXIT_DONE, std::string(USAGE) + HELP, false);
        if (word == "-V" || word == "--version")
            return done(EXIT_DONE, std::string(PROGRAM) + " " + HALVEX_VERSION_TEXT + "\n", false);
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
    return OptionsOutcome();
}

// The service is enabled on install, so no clock is no error: it just writes
// nothing.
OptionsOutcome readSettings(const char* clock, const char* board, Options* options) {
    if (!clock || !*clock)
        return done(EXIT_DONE, std::string(PROGRAM) + ": no clock set (CLOCK is empty or unset), nothing written\n",
                    false);
    if (!parseClock(clock, &options->request.mhz))
        return done(EXIT_USAGE, std::string(PROGRAM) + ": CLOCK is " + NOT_A_CLOCK + ": '" + clock + "'\n", true);
    if (options->request.board == ALL_BOARDS && board && *board &&
        !parseBoardNumber(board, &options->request.board))
        return done(EXIT_USAGE, std::string(PROGRAM) + ": BOARD is not a board number: '" + board + "'\n", true);
    return OptionsOutcome();
}
