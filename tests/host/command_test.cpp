// Halvex.exe's command line, and the windowless apply over the simulated
// machine: every write it makes, and what it refuses before writing anything.
#include <cstring>

#include "apply/apply_clock.h"
#include "command/command_line.h"
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

    ApplyOutcome run(const char* line) {
        const CommandRequest request = parseCommandLine(line);
        EXPECT_EQ(request.action, A::ApplyClock);
        return applyClock(boards_, request);
    }

    std::vector<DrvCall> memoryWrites() const {
        std::vector<DrvCall> writes;
        for (const DrvCall& call : g_machine.calls)
            if (call.op == DrvOp::MemWriteDword)
                writes.push_back(call);
        return writes;
    }
};

TEST_F(Apply, WritesEveryBoardInListOrderAsApplyDoes) {
    addBoards();
    const ApplyOutcome outcome = run("/clock:183");
    EXPECT_EQ(outcome.status, APPLY_DONE);
    EXPECT_EQ(outcome.boardCount, 3u);
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
    EXPECT_EQ(run("/clock:166 /board:3").status, APPLY_DONE);
    EXPECT_EQ(memoryWrites(), (std::vector<DrvCall>{memWrite(0xC0000044, 0xE721), memWrite(0xC2000044, 0xE721)}));
    EXPECT_EQ(countCalls(DrvOp::PciWriteDword), 1u);
}

TEST_F(Apply, RefusalsAndFailuresWriteNothingMore) {
    const struct {
        const char* line;
        const char* boards;  // as for the stand-in library; "" keeps the three
        uint32_t openStatus;
        ApplyStatus status;
        unsigned firstRefused, refusedCount, memoryWrites, configWrites;
    } cases[] = {
        {"/clock:183", "", 5, APPLY_NO_DRIVER, 0, 0, 0, 0},
        {"/clock:183", "none", 0, APPLY_NO_BOARD, 0, 0, 0, 0},
        {"/clock:183 /board:4", "", 0, APPLY_BAD_COMMAND_LINE, 0, 0, 0, 0},
        // Board 1 has no BAR0, board 2 would wrap past 4 GiB: both refused
        // with nothing written, their command registers included; board 3
        // still written.
        {"/clock:183", "0:4:0x0004:0:0xE721;1:0:0x0001:0xFC000000:0x3B05;2:0:2:0xC0000000:0x4405", 0, APPLY_REFUSED, 1,
         2, 2, 1},
        {"/clock:183 /board:2", "0:4:0x0004:0:0xE721;1:0:0x0001:0xFC000000:0x3B05", 0, APPLY_REFUSED, 2, 1, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        g_machine = SimMachine();
        BoardList boards;
        if (*c.boards)
            ASSERT_TRUE(SimMachine::parseBoards(c.boards, &g_machine.boards));
        else
            addBoards();
        g_machine.openStatus = c.openStatus;
        const ApplyOutcome outcome = applyClock(boards, parseCommandLine(c.line));
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.firstRefused, c.firstRefused);
        EXPECT_EQ(outcome.refusedCount, c.refusedCount);
        EXPECT_EQ(countCalls(DrvOp::MemWriteDword), c.memoryWrites);
        EXPECT_EQ(countCalls(DrvOp::PciWriteDword), c.configWrites);
    }
}

}  // namespace
