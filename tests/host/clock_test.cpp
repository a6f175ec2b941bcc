#include <cmath>

#include "sim_fixture.h"

namespace {

constexpr uint32_t BOARD = 0x100;      // bus 1, device 0
constexpr uint32_t BAR0 = 0xD8000008;  // prefetchable memory
constexpr uint32_t BASE = 0xD8000000;

class Clock : public SimTest {
protected:
    void addBoard(uint16_t subsystem, uint32_t pll, uint32_t bar0 = BAR0) {
        g_machine.busCounts = {2};
        g_machine.addBoard(1, 0, subsystem, bar0, pll);
        detectQuietly();
    }
};

TEST_F(Clock, DecodesPllControl) {
    const struct {
        uint32_t pll;
        double mhz;
        unsigned shown;
    } cases[] = {
        {0xE721, 166.807, 166},      // the default setting: truncated, not rounded
        {0x4405, 167.045, 167},      // the nearest M = 1, K = 1 setting to 166
        {0x1305, 50.114, 50},        // the lowest table setting
        {0x5A05, 219.545, 219},      // the highest
        {0x2A05, 105.000, 104},      // 104.99999: truncation shows 104
        {0x5605, 210.000, 209},      // 209.99997
        {0x0000, 14.318, 14},        // N = M = K = 0
        {0xFFFF, 7.076, 7},          // N = 255, M = 63, K = 3
        {0xABCDE721, 166.807, 166},  // bits 16..31 are not part of the setting
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pll);
        g_machine = SimMachine();
        BoardList boards;
        g_machine.addBoard(0, 0, 0x0004, BAR0, c.pll);
        ASSERT_TRUE(boards.detect());
        const double mhz = boards.readClockMHz(0);
        EXPECT_NEAR(mhz, c.mhz, 0.0005);
        EXPECT_EQ(static_cast<unsigned>(mhz), c.shown);
    }
}

TEST_F(Clock, ReadoutChecksBarThenEnablesDecodingThenReadsChipZero) {
    addBoard(0x0004, 0xE721);
    boards_.readClockMHz(0);
    boards_.readClockMHz(0);  // rewritten even though both bits are now set
    EXPECT_EQ(g_machine.calls, (std::vector<DrvCall>{
                                   readDword(BOARD, 0x10, BAR0),
                                   readDword(BOARD, 0x04, 0x02300000),
                                   writeDword(BOARD, 0x04, 0x02300003),
                                   memRead(BASE + 0x44, 0xE721),
                                   readDword(BOARD, 0x10, BAR0),
                                   readDword(BOARD, 0x04, 0x02300003),
                                   writeDword(BOARD, 0x04, 0x02300003),
                                   memRead(BASE + 0x44, 0xE721),
                               }));
}

TEST_F(Clock, BarFlagBitsDoNotMoveTheWindow) {
    for (uint32_t flags : {0x0u, 0x8u, 0xCu}) {
        SCOPED_TRACE(flags);
        g_machine = SimMachine();
        BoardList boards;
        g_machine.addBoard(0, 0, 0x0004, BASE | flags, 0x4405);
        ASSERT_TRUE(boards.detect());
        g_machine.calls.clear();
        EXPECT_EQ(static_cast<unsigned>(boards.readClockMHz(0)), 167u);
        EXPECT_EQ(g_machine.calls.back(), memRead(BASE + 0x44, 0x4405));
    }
}

TEST_F(Clock, ReadsOnlyTheFirstChipOfAFourChipBoard) {
    addBoard(0x0001, 0xE721);
    g_machine.boards[0].pllControl = {0x4405, 0x1305, 0x1305, 0x1305};
    EXPECT_EQ(static_cast<unsigned>(boards_.readClockMHz(0)), 167u);
    EXPECT_EQ(countCalls(DrvOp::MemReadDword), 1u);
}

TEST_F(Clock, WritesEveryChipInOrder) {
    const struct {
        uint16_t subsystem;
        unsigned chips;
    } cases[] = {{0x0004, 1}, {0x0002, 2}, {0x0001, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chips);
        g_machine = SimMachine();
        BoardList boards;
        g_machine.addBoard(0, 0, c.subsystem, BAR0, 0x3B05);
        ASSERT_TRUE(boards.detect());
        g_machine.calls.clear();
        EXPECT_TRUE(boards.writeClock(166, 0));
        std::vector<DrvCall> expected = {readDword(0, 0x10, BAR0), readDword(0, 0x04, 0x02300000),
                                         writeDword(0, 0x04, 0x02300003)};
        for (uint32_t chip = 0; chip < c.chips; ++chip)
            expected.push_back(memWrite(BASE + 0x44 + chip * 0x2000000, 0xE721));
        EXPECT_EQ(g_machine.calls, expected);
        EXPECT_EQ(g_machine.boards[0].pllControl, std::vector<uint32_t>(c.chips, 0xE721));
    }
}

TEST_F(Clock, WriteRefusesClocksOutsideTheRange) {
    addBoard(0x0004, 0xE721);
    const struct {
        unsigned mhz;
        bool accepted;
    } cases[] = {{0, false}, {49, false}, {50, true}, {166, true}, {220, true}, {221, false}, {0x10032, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mhz);
        g_machine.calls.clear();
        EXPECT_EQ(boards_.check(c.mhz, 0), c.accepted ? BoardReason::Usable : BoardReason::ClockOutOfRange);
        EXPECT_EQ(g_machine.calls.size(), c.accepted ? 1u : 0u);  // BAR0
        EXPECT_EQ(boards_.programClock(c.mhz, 0), c.accepted ? BoardReason::Usable : BoardReason::ClockOutOfRange);
        EXPECT_EQ(countCalls(DrvOp::MemWriteDword), c.accepted ? 1u : 0u);
        EXPECT_EQ(g_machine.calls.empty(), !c.accepted);
    }
}

TEST_F(Clock, BadIndexTouchesNoHardware) {
    BoardList empty;
    EXPECT_EQ(empty.readClockMHz(0), 0.0);
    EXPECT_FALSE(empty.writeClock(166, 0));
    addBoard(0x0004, 0xE721);
    EXPECT_EQ(boards_.readClockMHz(1), 0.0);
    EXPECT_EQ(boards_.readClock(1).reason, BoardReason::NoSuchBoard);
    EXPECT_FALSE(boards_.writeClock(166, 1));
    EXPECT_EQ(boards_.check(166, 1), BoardReason::NoSuchBoard);
    EXPECT_EQ(boards_.programClock(166, 1), BoardReason::NoSuchBoard);
    // The clock is looked at first.
    EXPECT_EQ(boards_.programClock(49, 1), BoardReason::ClockOutOfRange);
    EXPECT_FALSE(boards_.writeClock(100, ~0u));
    EXPECT_TRUE(g_machine.calls.empty());
}

// A BAR with no memory address behind it must never lead to a memory access:
// the write would land on physical page 0 or on whatever RAM or port number
// the value happens to name. Nor to a configuration write: decoding switched
// on for an unassigned BAR makes the board answer at address 0.
TEST_F(Clock, UnusableBarMeansOnlyTheBarIsRead) {
    const struct {
        uint32_t bar0;
        BoardReason reason;
    } cases[] = {
        {0x00000000, BoardReason::BarUnassigned}, {0x00000008, BoardReason::BarUnassigned},
        {0x0000E001, BoardReason::BarNotMemory},  {0xD8000001, BoardReason::BarNotMemory},
        {0xFFFFFFFF, BoardReason::BarNotMemory},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bar0);
        g_machine = SimMachine();
        BoardList boards;
        g_machine.addBoard(0, 0, 0x0002, c.bar0, 0xE721);
        ASSERT_TRUE(boards.detect());
        g_machine.calls.clear();
        EXPECT_EQ(boards.readClockMHz(0), 0.0);
        EXPECT_FALSE(boards.writeClock(166, 0));
        const ClockReading reading = boards.readClock(0);
        EXPECT_EQ(reading.reason, c.reason);
        EXPECT_EQ(reading.mhz, 0.0);
        EXPECT_EQ(boards.check(166, 0), c.reason);
        EXPECT_EQ(boards.programClock(166, 0), c.reason);
        EXPECT_EQ(g_machine.calls, std::vector<DrvCall>(5, readDword(0, 0x10, c.bar0)));
        EXPECT_EQ(g_machine.boards[0].command, 0x02300000u);
    }
}

// Chip c's window is BAR0 + c x 32 MiB in 32-bit arithmetic: a chip whose
// window would lie past 4 GiB wraps around to low memory, so the whole write is
// refused, the command register included. The readout reads chip 0 only and
// still works.
TEST_F(Clock, WriteRefusesChipWindowsPast4GiB) {
    const struct {
        uint16_t subsystem;
        uint32_t bar0;
        bool accepted;
    } cases[] = {
        {0x0001, 0xFC000000, false},  // chip 3 would land at 0x02000044
        {0x0001, 0xF8000008, true},   // the last window ends exactly at 4 GiB
        {0x0001, 0xFA000000, false},
        {0x0002, 0xFE000000, false},
        {0x0002, 0xFC000000, true},
        {0x0004, 0xFE000000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bar0);
        g_machine = SimMachine();
        BoardList boards;
        g_machine.addBoard(0, 0, c.subsystem, c.bar0, 0x3B05);
        ASSERT_TRUE(boards.detect());
        g_machine.calls.clear();
        EXPECT_EQ(boards.check(166, 0), c.accepted ? BoardReason::Usable : BoardReason::WindowsPast4GiB);
        EXPECT_EQ(boards.programClock(166, 0), c.accepted ? BoardReason::Usable : BoardReason::WindowsPast4GiB);
        EXPECT_EQ(countCalls(DrvOp::MemWriteDword), c.accepted ? g_machine.boards[0].pllControl.size() : 0u);
        EXPECT_EQ(countCalls(DrvOp::PciWriteDword), c.accepted ? 1u : 0u);
        EXPECT_EQ(boards.readClock(0).reason, BoardReason::Usable);
        EXPECT_EQ(static_cast<unsigned>(boards.readClockMHz(0)), c.accepted ? 166u : 145u);
    }
}

TEST_F(Clock, ReadoutAfterWriteShowsTheTableSetting) {
    addBoard(0x0002, 0xE721);
    const struct {
        unsigned written, shown;
    } cases[] = {{51, 50}, {105, 104}, {166, 166}, {167, 167}, {210, 209}, {220, 219}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        ASSERT_TRUE(boards_.writeClock(c.written, 0));
        EXPECT_EQ(static_cast<unsigned>(boards_.readClockMHz(0)), c.shown);
    }
}

}  // namespace
