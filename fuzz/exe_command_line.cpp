// Halvex.exe's command line, as WinMain hands it over: the input up to its
// first NUL byte.
#include <cstring>

#include "board/pll.h"
#include "command/command_line.h"
#include "command/outcome.h"
#include "fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const CommandRequest request = parseCommandLine(line.c_str());
    switch (request.action) {
    case CommandAction::ApplyClock:
        FUZZ_CHECK(request.mhz >= MIN_CLOCK_MHZ && request.mhz <= MAX_CLOCK_MHZ, line);
        break;
    case CommandAction::BadCommandLine: {
        FUZZ_CHECK(request.problem != nullptr, line);
        FUZZ_CHECK(memchr(request.word, '\0', sizeof request.word) != nullptr, line);
        // The message box's text: the problem with the word, and the usage.
        CommandMessage message;
        describeRequest(request, &message);
        FUZZ_CHECK(message.exitCode == EXIT_BAD_COMMAND_LINE && message.error, line);
        FUZZ_CHECK(message.length > 0 && message.length < MESSAGE_SIZE, line);
        FUZZ_CHECK(strlen(message.text) == static_cast<size_t>(message.length), line);
        break;
    }
    case CommandAction::OpenWindow:
    case CommandAction::ShowUsage:
        FUZZ_CHECK(request.mhz == 0 && request.board == ALL_BOARDS, line);
        break;
    }
    return 0;
}
