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
                            "0:0:4:x:0", "0:0:4:0:-1", "0:0:4:0:0;", "0:1:4:0:0;0:1:2:0:0",
                            // a bus the driver's 8-bit bus count cannot reach
                            "255:0:4:0xE0000000:0",
                            // white space or a sign before a number
                            "\n0:9:4:0xE0000000:0", "0: 9:4:0xE0000000:0", "0:9:4:+0xE0000000:0",
                            "0:9:4:0xE0000000: -1"}) {
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
    EXPECT_EQ(SimMachine::formatCall(machine.calls[4]),
              "DrvPciWriteDword 0x00000008 0x00000004 0xFFFF0002 = 0x00000000");
}

}  // namespace

namespace {

// Registers survive a save and load for the same boards; anything else in the
// text is ignored as a whole, leaving the boards as they were.
TEST(SimMachineState, RestoresOnlyWhatMatchesTheBoards) {
    const std::string layout = "0:9:4:0xE4000008:0xE721;1:0:2:0xD8000008:0x3B05";
    SimMachine machine;
    ASSERT_TRUE(SimMachine::parseBoards(layout, &machine.boards));
    machine.boards[0].command = 0x02300003;
    machine.boards[1].pllControl = {0x5205, 0x5205};
    const std::string saved = machine.saveState(layout);
    EXPECT_EQ(saved, "halvex-sim-state 1\nlayout " + layout +
                         "\nboard 0x48 0x2300003 0xE721\nboard 0x100 0x2300000 0x5205 0x5205\n");

    SimMachine fresh;
    SimMachine::parseBoards(layout, &fresh.boards);
    ASSERT_TRUE(fresh.loadState(saved, layout));
    EXPECT_EQ(fresh.saveState(layout), saved);

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = saved;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::string corrupt[] = {
        "",
        "garbage",
        saved.substr(0, saved.size() - 1),  // cut short
        saved.substr(0, saved.size() / 2),  // cut in the middle
        saved + "board 0x8 0x0 0x0\n",      // a board too many
        replaced("halvex-sim-state 1", "halvex-sim-state 2"),
        replaced("0x100 ", "0x108 "),          // another slot
        replaced("0x5205 0x5205", "0x5205"),   // a chip missing
        replaced("0x5205\n", "0x5205 0x1\n"),  // a chip too many
        replaced("0xE721\n", "0xE72Z\n"),
        replaced("0xE721\n", "0x1E7210000\n"),  // more than 32 bits
        replaced("board 0x48", "bored 0x48"),
        std::string("\0\0\xff", 3),
    };
    for (const std::string& text : corrupt) {
        SCOPED_TRACE(text);
        SimMachine machine2;
        SimMachine::parseBoards(layout, &machine2.boards);
        const std::string before = machine2.saveState(layout);
        EXPECT_FALSE(machine2.loadState(text, layout));
        EXPECT_EQ(machine2.saveState(layout), before);
    }
    SimMachine other;
    SimMachine::parseBoards(layout, &other.boards);
    EXPECT_FALSE(other.loadState(saved, "0:9:4:0xE4000008:0xE721"));  // made for other boards
}

}  // namespace
