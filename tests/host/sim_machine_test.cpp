#include "sim_fixture.h"

namespace {

TEST(SimMachine, ParsesBoardDescriptions) {
    std::vector<SimBoard> boards;
    ASSERT_TRUE(SimMachine::parseBoards("0:9:0x0004:0xE4000008:0xE721;1:0:2:0xD8000000:15109", &boards));
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(boards[0].pciAddress(), 0x048u);
    EXPECT_EQ(boards[0].bar0, 0xE4000008u);
    EXPECT_EQ(boards[0].pllControl, std::vector<uint32_t>{0xE721});
    EXPECT_EQ(boards[1].pciAddress(), 0x100u);
    EXPECT_EQ(boards[1].pllControl, (std::vector<uint32_t>{0x3B05, 0x3B05}));

    for (const char* empty : {"", "none"}) {
        boards.resize(1);
        EXPECT_TRUE(SimMachine::parseBoards(empty, &boards));
        EXPECT_TRUE(boards.empty());
    }
    for (const char* bad : {"0:9:4:0xE0000000", "0:9:4:0xE0000000:1:2", "256:0:4:0:0", "0:32:4:0:0", "0:0:0x10000:0:0",
                            "0:0:4:x:0", "0:0:4:0:-1", "0:0:4:0:0;", "0:1:4:0:0;0:1:2:0:0"}) {
        SCOPED_TRACE(bad);
        boards.resize(1);
        EXPECT_FALSE(SimMachine::parseBoards(bad, &boards));
        EXPECT_EQ(boards.size(), 1u);  // untouched on error
    }
}

TEST(SimMachine, BehavesLikeTheBus) {
    SimMachine machine;
    machine.addBoard(0, 1, 0x0002, 0xE0000008, 0xE721);
    EXPECT_EQ(machine.pciReadWord(0x000, 0x00), 0xFFFF);  // empty slot
    EXPECT_EQ(machine.pciReadDword(0x000, 0x10), 0xFFFFFFFFu);
    EXPECT_EQ(machine.pciReadWord(0x008, 0x2E), 0x0002);
    // The chips answer only once memory decoding is on.
    EXPECT_EQ(machine.memReadDword(0xE0000044), 0xFFFFFFFFu);
    machine.pciWriteDword(0x008, 0x04, 0xFFFF0002);
    EXPECT_EQ(machine.pciReadDword(0x008, 0x04), 0x02300002u);  // the status half is the device's
    EXPECT_EQ(machine.memReadDword(0xE2000044), 0xE721u);       // chip 1
    machine.memWriteDword(0xE2000044, 0x4405);
    machine.memWriteDword(0xE4000044, 0x1305);  // past the last chip: nobody answers
    machine.memWriteDword(0xE0000040, 0x1305);
    EXPECT_EQ(machine.boards[0].pllControl, (std::vector<uint32_t>{0xE721, 0x4405}));
    EXPECT_EQ(machine.calls.size(), 10u);
    EXPECT_EQ(SimMachine::formatCall(machine.calls[4]), "DrvPciWriteDword 0x00000008 0x00000004 0xFFFF0002 = 0x00000000");
}

}  // namespace
