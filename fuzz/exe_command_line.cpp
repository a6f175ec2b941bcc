// Halvex.exe's command line, as WinMain hands it over: the input up to its
// first NUL byte.
#include <cstring>

#include "board/pll.h"
#include "command/command_line.h"
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
        // The message box formats the problem with the word into a buffer of
        // twice a word's size: one %s and nothing else to format.
        const char* format = strchr(request.problem, '%');
        FUZZ_CHECK(format && format[1] == 's' && !strchr(format + 2, '%'), request.problem);
        char text[COMMAND_WORD_SIZE * 2];
        const int length = snprintf(text, sizeof text, request.problem, request.word);
        FUZZ_CHECK(length > 0 && static_cast<size_t>(length) < sizeof text, line);
        break;
    }
    case CommandAction::OpenWindow:
    case CommandAction::ShowUsage:
        FUZZ_CHECK(request.mhz == 0 && request.board == ALL_BOARDS, line);
        break;
    }
    return 0;
}
