// The Linux command's command line and the service's settings. The input's
// NUL-parted fields are the words after the program's name; a field that
// starts with the byte 0x1E ends them, the rest of it is CLOCK and the field
// after it BOARD (unset when there is none).
#include <cstring>

#include "board/pll.h"
#include "board/vsa100.h"
#include "fuzz/check.h"
#include "linux/options.h"

namespace {

constexpr char SETTINGS_MARK = '\x1e';

bool startsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> fields = nulFields(data, size);
    std::vector<const char*> argv = {PROGRAM};
    size_t i = 0;
    for (; i < fields.size() && (fields[i].empty() || fields[i][0] != SETTINGS_MARK); ++i)
        argv.push_back(fields[i].c_str());
    const bool hasSettings = i < fields.size();
    const std::string clock = hasSettings ? fields[i].substr(1) : "";
    const char* board = hasSettings && i + 1 < fields.size() ? fields[i + 1].c_str() : nullptr;
    argv.push_back(nullptr);

    Options options;
    OptionsOutcome outcome = parseOptions(static_cast<int>(argv.size() - 1), argv.data(), &options);
    if (outcome.goesOn() && options.apply)
        outcome = readSettings(hasSettings ? clock.c_str() : nullptr, board, &options);
    const std::string words = std::string(reinterpret_cast<const char*>(data), size);
    if (outcome.goesOn()) {
        const unsigned mhz = options.request.mhz;
        FUZZ_CHECK(mhz == LIST_ONLY || (mhz >= MIN_CLOCK_MHZ && mhz <= MAX_CLOCK_MHZ), words);
        FUZZ_CHECK(!options.apply || mhz != LIST_ONLY, words);
        FUZZ_CHECK(options.request.board <= vsa100::MAX_BOARD_COUNT, words);
        FUZZ_CHECK(options.access != nullptr, words);
        FUZZ_CHECK(!options.parameter || !options.parameterValue.empty(), words);
        FUZZ_CHECK(outcome.text.empty(), words);
        return 0;
    }
    FUZZ_CHECK(outcome.status == EXIT_DONE || outcome.status == EXIT_USAGE, words);
    FUZZ_CHECK(!outcome.text.empty() && outcome.text.back() == '\n', words);
    FUZZ_CHECK(outcome.isError == (outcome.status == EXIT_USAGE), words);
    if (outcome.isError)
        FUZZ_CHECK(startsWith(outcome.text, std::string(PROGRAM) + ": "), outcome.text);
    return 0;
}
