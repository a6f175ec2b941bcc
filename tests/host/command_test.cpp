// Halvex.exe's command line, and the windowless apply over the simulated
// machine: every write it makes, and what it refuses before writing anything.
#include <algorithm>
#include <cstring>
#include <string>

#include "apply/apply_clock.h"
#include "command/command_line.h"
#include "command/outcome.h"
#include "sim_fixture.h"

namespace {

using A = CommandAction;

TEST(CommandLine, ReadsEverySwitchForm) {
    const struct {
        const char* line;
        A action;
        unsigned mhz, board;
        bool quiet;
    } cases[] = {
        {nullptr, A::OpenWindow, 0, 0, false},
        {"", A::OpenWindow, 0, 0, false},
        {"  \t ", A::OpenWindow, 0, 0, false},
        {"/clock:183", A::ApplyClock, 183, ALL_BOARDS, false},
        {"-CLOCK:50", A::ApplyClock, 50, ALL_BOARDS, false},
        {"/Clock 220", A::ApplyClock, 220, ALL_BOARDS, false},
        {"/clock:0183", A::ApplyClock, 183, ALL_BOARDS, false},
        {"\"/clock:183\"", A::ApplyClock, 183, ALL_BOARDS, false},
        {"/clock \"166\" /board \"2\"", A::ApplyClock, 166, 2, false},
        {"/board:2 /clock:166 /quiet", A::ApplyClock, 166, 2, true},
        {"-quiet -board:1 -clock:100", A::ApplyClock, 100, 1, true},
        {"/?", A::ShowUsage, 0, 0, false},
        {"/clock:183 -?", A::ShowUsage, 0, 0, false},
        {"/bogus /? /quiet", A::ShowUsage, 0, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "(null)");
        const CommandRequest request = parseCommandLine(c.line);
        EXPECT_EQ(request.action, c.action) << (request.problem ? request.problem : "");
        EXPECT_EQ(request.mhz, c.mhz);
        EXPECT_EQ(request.board, c.board);
        EXPECT_EQ(request.quiet, c.quiet);
    }
}

TEST(CommandLine, RefusesBadLinesAndSaysWhy) {
    const struct {
        const char* line;
        const char* problem;
        const char* word;
        bool quiet;
    } cases[] = {
        {"/clock:183x", "Not a clock from 50 to 220 MHz: \"%s\"", "183x", false},
        {"/clock:-1", "Not a clock from 50 to 220 MHz: \"%s\"", "-1", false},
        {"/clock:4294967346", "Not a clock from 50 to 220 MHz: \"%s\"", "4294967346", false},
        {"/clock:", "Not a clock from 50 to 220 MHz: \"%s\"", "", false},
        {"/clock:49", "Not a clock from 50 to 220 MHz: \"%s\"", "49", false},
        {"/clock:221", "Not a clock from 50 to 220 MHz: \"%s\"", "221", false},
        {"/clock:+183", "Not a clock from 50 to 220 MHz: \"%s\"", "+183", false},
        {"/clock", "%s needs a number", "/clock", false},
        {"/clock /quiet", "Not a clock from 50 to 220 MHz: \"%s\"", "/quiet", true},
        {"/clock:183 /board:0", "Not a board number: \"%s\"", "0", false},
        {"/clock:183 /board:4294967297", "Not a board number: \"%s\"", "4294967297", false},
        {"/board:1", "%s needs /clock", "/board", false},
        {"/quiet", "%s needs /clock", "/quiet", true},
        {"/clock:183 /clock:184", "Switch given twice: %s", "/clock:184", false},
        {"/clock:183 /quiet -QUIET", "Switch given twice: %s", "-QUIET", true},
        {"/clock:183 /board 1 /board 2", "Switch given twice: %s", "/board", false},
        {"/clock:183 /clockx", "Unknown switch: %s", "/clockx", false},
        {"/clock:183 /quiet:yes", "Unknown switch: %s", "/quiet:yes", false},
        {"/clock:183 183", "Unexpected word: %s", "183", false},
        {"clock:183", "Unexpected word: %s", "clock:183", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const CommandRequest request = parseCommandLine(c.line);
        ASSERT_EQ(request.action, A::BadCommandLine);
        EXPECT_STREQ(request.problem, c.problem);
        EXPECT_STREQ(request.word, c.word);
        EXPECT_EQ(request.quiet, c.quiet);
    }
}

// A word longer than the parser keeps is refused, never cut into a good one.
TEST(CommandLine, OverlongWordIsRefusedNotCut) {
    const std::string padded = "/clock:" + std::string(COMMAND_WORD_SIZE, '0') + "183";
    const std::string separate = "/clock " + std::string(COMMAND_WORD_SIZE, '0') + "183";
    for (const std::string& line : {padded, separate, "/clock:183 /" + std::string(200, 'q')}) {
        const CommandRequest request = parseCommandLine(line.c_str());
        EXPECT_EQ(request.action, A::BadCommandLine);
        EXPECT_STREQ(request.problem, "Word too long: %s...");
        EXPECT_LT(strlen(request.word), size_t(COMMAND_WORD_SIZE));
    }
}

class Apply : public SimTest {
protected:
    // Boards 1, 2, 3 in list order: 1 chip, 4 chips, 2 chips.
    void addBoards() {
        g_machine.addBoard(0, 4, 0x0004, 0xE0000000, 0xE721);
        g_machine.addBoard(2, 0, 0x0001, 0xD0000008, 0x3B05);
        g_machine.addBoard(2, 5, 0x0002, 0xC0000000, 0x4405);
    }

    // Halvex.exe's command line carried out as run_command does, with no box.
    CommandMessage run(const char* line) {
        const CommandRequest request = parseCommandLine(line);
        CommandMessage message;
        if (request.action != A::ApplyClock) {
            describeRequest(request, &message);
            return message;
        }
        ApplyRequest apply;
        apply.mhz = request.mhz;
        apply.board = request.board;
        outcome_ = applyClock(boards_, apply, refusalHooks(&message));
        describeOutcome(request, outcome_, &message);
        return message;
    }

    std::vector<DrvCall> memoryWrites() const {
        std::vector<DrvCall> writes;
        for (const DrvCall& call : g_machine.calls)
            if (call.op == DrvOp::MemWriteDword)
                writes.push_back(call);
        return writes;
    }

    ApplyOutcome outcome_;
};

TEST_F(Apply, WritesEveryBoardInListOrderAsApplyDoes) {
    addBoards();
    const CommandMessage message = run("/clock:183");
    EXPECT_EQ(message.exitCode, EXIT_DONE);
    EXPECT_STREQ(message.text, "");
    EXPECT_EQ(outcome_.boardCount, 3u);
    EXPECT_EQ(memoryWrites(), (std::vector<DrvCall>{
                                  memWrite(0xE0000044, 0x4B05),
                                  memWrite(0xD0000044, 0x4B05),
                                  memWrite(0xD2000044, 0x4B05),
                                  memWrite(0xD4000044, 0x4B05),
                                  memWrite(0xD6000044, 0x4B05),
                                  memWrite(0xC0000044, 0x4B05),
                                  memWrite(0xC2000044, 0x4B05),
                              }));
    // Detection as at start-up (3 buses: 3 + 2 per slot + 1 per board), then
    // 3 + chips per board, and no readout.
    EXPECT_EQ(g_machine.calls.size(), 1 + (3 + 1) + 2 * 32 * 3 + 3 + (3 + 1) + (3 + 4) + (3 + 2));
    EXPECT_EQ(countCalls(DrvOp::MemReadDword), 0u);
}

TEST_F(Apply, WritesOnlyTheBoardAskedFor) {
    addBoards();
    EXPECT_EQ(run("/clock:166 /board:3").exitCode, EXIT_DONE);
    EXPECT_EQ(memoryWrites(), (std::vector<DrvCall>{memWrite(0xC0000044, 0xE721), memWrite(0xC2000044, 0xE721)}));
    EXPECT_EQ(countCalls(DrvOp::PciWriteDword), 1u);
}

// Every outcome with its exact message, and every call made after detection:
// a refused board gets its BAR0 read and nothing else.
TEST_F(Apply, EachOutcomeTellsItsReason) {
    const char* usage = "\n\nUsage: Halvex.exe /clock:MHZ [/board:N] [/quiet]\n";
    const uint32_t b1 = 0x0020, b2 = 0x0100, b3 = 0x0200;  // bus 0 device 4, bus 1, bus 2
    const struct {
        const char* line;
        const char* boards;  // as for the stand-in library
        uint32_t openStatus;
        int exitCode;
        std::string message;
        std::vector<DrvCall> calls;  // past detection
    } cases[] = {
        {"/clock:183", "", 5, EXIT_NO_DRIVER, "Unable to load driver!", {}},
        {"/clock:183", "none", 0, EXIT_NO_BOARD, "Unable to detect VSA100 hardware!", {}},
        {"/clock:183 /board:4", "0:4:4:0xE0000000:0xE721;1:0:1:0xD0000000:0xE721;2:0:2:0xC0000000:0xE721", 0,
         EXIT_BAD_COMMAND_LINE, std::string("There is no board 4: 3 found.") + usage, {}},
        {"/clock:49", "", 0, EXIT_BAD_COMMAND_LINE, std::string("Not a clock from 50 to 220 MHz: \"49\"") + usage,
         {}},
        {"/clock:183 /board:0", "", 0, EXIT_BAD_COMMAND_LINE, std::string("Not a board number: \"0\"") + usage, {}},
        {"/clock:183 /quiet:x", "", 0, EXIT_BAD_COMMAND_LINE, std::string("Unknown switch: /quiet:x") + usage, {}},
        {"/clock:183", "0:4:4:0:0xE721", 0, EXIT_REFUSED,
         "Unable to set the clock of board 1: BAR0 is not assigned.", {readDword(b1, 0x10, 0)}},
        {"/clock:183", "0:4:4:0xE001:0xE721", 0, EXIT_REFUSED,
         "Unable to set the clock of board 1: BAR0 is not a memory BAR.", {readDword(b1, 0x10, 0xE001)}},
        // Each refused board named with its reason; board 3 still written.
        {"/clock:183", "0:4:4:0:0xE721;1:0:1:0xFC000000:0x3B05;2:0:2:0xC0000000:0x4405", 0, EXIT_REFUSED,
         "Unable to set the clock of board 1: BAR0 is not assigned.\n"
         "Unable to set the clock of board 2: its chips' register windows lie past 4 GiB.",
         {readDword(b1, 0x10, 0), readDword(b2, 0x10, 0xFC000000), readDword(b3, 0x10, 0xC0000000),
          readDword(b3, 0x04, 0x02300000), writeDword(b3, 0x04, 0x02300003), memWrite(0xC0000044, 0x4B05),
          memWrite(0xC2000044, 0x4B05)}},
        {"/clock:183 /board:2", "0:4:4:0:0xE721;1:0:1:0xFC000000:0x3B05", 0, EXIT_REFUSED,
         "Unable to set the clock of board 2: its chips' register windows lie past 4 GiB.",
         {readDword(b2, 0x10, 0xFC000000)}},
        {"/?", "", 0, EXIT_DONE, "Usage: Halvex.exe /clock:MHZ [/board:N] [/quiet]\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.line) + " on " + c.boards);
        g_machine = SimMachine();
        boards_.clear();
        ASSERT_TRUE(SimMachine::parseBoards(c.boards, &g_machine.boards));
        g_machine.openStatus = c.openStatus;
        const CommandMessage message = run(c.line);
        EXPECT_EQ(message.exitCode, c.exitCode);
        EXPECT_EQ(std::string(message.text).substr(0, c.message.size()), c.message);
        if (c.exitCode != EXIT_BAD_COMMAND_LINE && c.exitCode != EXIT_DONE) {
            EXPECT_EQ(message.text, c.message);
        }
        EXPECT_EQ(message.error, c.exitCode != EXIT_DONE);
        std::vector<DrvCall> past;
        for (const DrvCall& call : g_machine.calls)
            if (call.op != DrvOp::Open && call.op != DrvOp::PciBusCount && call.op != DrvOp::PciReadWord)
                past.push_back(call);
        EXPECT_EQ(past, c.calls);
    }
}

// More refusals than a message box holds: as many lines as fit, then how many
// more there were.
TEST_F(Apply, ManyRefusalsFitTheMessage) {
    for (unsigned device = 0; device < 32; ++device)
        g_machine.addBoard(0, device, 0x0004, 0, 0xE721);
    const CommandMessage message = run("/clock:183");
    EXPECT_EQ(message.exitCode, EXIT_REFUSED);
    const std::string text = message.text;
    EXPECT_LT(text.size(), size_t(MESSAGE_SIZE));
    const size_t lines = std::count(text.begin(), text.end(), '\n');
    const std::string last = text.substr(text.rfind('\n') + 1);
    EXPECT_EQ(last, std::to_string(32 - lines) + " more boards refused it too.");
    EXPECT_EQ(text.rfind("Unable to set the clock of board 1: BAR0 is not assigned.\n", 0), 0u);
    EXPECT_NE(text.find("\nUnable to set the clock of board " + std::to_string(lines) + ": BAR0 is not assigned.\n"),
              std::string::npos);
}

}  // namespace
