#include <cstdlib>
#include <set>

#include "sim_fixture.h"

// Allocation failure on demand: the test arms a countdown and the allocation
// that brings it to zero fails. Linked with --wrap=malloc/realloc.
static int g_allocationsUntilFailure = -1;

static bool allocationFails() { return g_allocationsUntilFailure >= 0 && g_allocationsUntilFailure-- == 0; }

extern "C" void* __real_malloc(size_t size);
extern "C" void* __real_realloc(void* block, size_t size);
extern "C" void* __wrap_malloc(size_t size) { return allocationFails() ? nullptr : __real_malloc(size); }
extern "C" void* __wrap_realloc(void* block, size_t size) {
    return allocationFails() ? nullptr : __real_realloc(block, size);
}

namespace {

using Detection = SimTest;

// Buses whose device 0 vendor identifier was read, in order.
std::vector<unsigned> scannedBuses() {
    std::vector<unsigned> buses;
    for (const DrvCall& call : g_machine.calls)
        if (call.op == DrvOp::PciReadWord && call.args[1] == 0x00 && (call.args[0] & 0xFF) == 0)
            buses.push_back(call.args[0] >> 8);
    return buses;
}

std::vector<unsigned> chipCounts(const BoardList& boards) {
    std::vector<unsigned> counts;
    for (unsigned i = 0; boards.chipCountAt(i) != 0; ++i)
        counts.push_back(boards.chipCountAt(i));
    return counts;
}

TEST_F(Detection, NoBusesMeansNoConfigurationReads) {
    g_machine.busCounts = {0};
    g_machine.addBoard(0, 0, 0x0004, 0xE0000000, 0xE721);
    EXPECT_FALSE(boards_.detect());
    EXPECT_EQ(g_machine.calls, std::vector<DrvCall>{busCount(0)});
    EXPECT_EQ(boards_.chipCountAt(0), 0u);
}

TEST_F(Detection, BusCountIsAskedAgainAfterEveryBus) {
    struct Case {
        std::vector<uint32_t> counts;
        unsigned lastBus;
    };
    const Case cases[] = {
        {{2, 1}, 0},     // shrinks after bus 0: stop
        {{1, 3}, 2},     // grows after bus 0: buses 0, 1, 2
        {{255}, 254},    // the largest count the driver can give
        {{0x1FF, 1}, 0}  // only the low 8 bits are a count (0xFF, then 1)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.counts[0]);
        g_machine = SimMachine();
        g_machine.busCounts = c.counts;
        BoardList boards;
        EXPECT_FALSE(boards.detect());
        std::vector<unsigned> expected;
        for (unsigned bus = 0; bus <= c.lastBus; ++bus)
            expected.push_back(bus);
        EXPECT_EQ(scannedBuses(), expected);
        EXPECT_EQ(countCalls(DrvOp::PciBusCount), c.lastBus + 2u);
        EXPECT_EQ(countCalls(DrvOp::PciReadWord), 2u * 32 * (c.lastBus + 1));
    }
}

TEST_F(Detection, ReadsEachSlotAndTheSubsystemOfEachBoard) {
    g_machine.addBoard(0, 1, 0x0002, 0xE0000000, 0xE721);
    ASSERT_TRUE(boards_.detect());
    const std::vector<DrvCall> start(g_machine.calls.begin(), g_machine.calls.begin() + 6);
    EXPECT_EQ(start, (std::vector<DrvCall>{busCount(1), readWord(0x000, 0x00, 0xFFFF), readWord(0x000, 0x02, 0xFFFF),
                                           readWord(0x008, 0x00, 0x121A), readWord(0x008, 0x02, 0x0009),
                                           readWord(0x008, 0x2E, 0x0002)}));
    // Two reads per slot, one per board found, and the count before and after.
    EXPECT_EQ(g_machine.calls.size(), 2u * 32 + 1 + 2);
    EXPECT_EQ(g_machine.calls.back(), busCount(1));
}

TEST_F(Detection, ListsBoardsByBusThenDevice) {
    g_machine.addBoard(1, 0, 0x0001, 0xD0000000, 0xE721);  // 4 chips
    g_machine.addBoard(0, 7, 0x0002, 0xE0000000, 0xE721);  // 2 chips
    g_machine.addBoard(0, 3, 0x0004, 0xE8000000, 0xE721);  // 1 chip
    ASSERT_TRUE(boards_.detect());
    EXPECT_EQ(chipCounts(boards_), (std::vector<unsigned>{1, 2, 4}));
    EXPECT_EQ(boards_.chipCountAt(3), 0u);
    EXPECT_EQ(boards_.chipCountAt(~0u), 0u);
    const uint32_t addresses[] = {boards_.pciAddressAt(0), boards_.pciAddressAt(1), boards_.pciAddressAt(2),
                                  boards_.pciAddressAt(3)};
    EXPECT_EQ(std::vector<uint32_t>(addresses, addresses + 4), (std::vector<uint32_t>{0x018, 0x038, 0x100, 0}));
}

TEST_F(Detection, ChipCountFollowsSubsystemIdentifier) {
    const struct {
        uint16_t subsystem;
        unsigned chips;
    } cases[] = {{0x0001, 4}, {0x0002, 2}, {0x0003, 2}, {0x0009, 2},
                 {0x0000, 1}, {0x0004, 1}, {0x0005, 1}, {0xFFFF, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subsystem);
        g_machine = SimMachine();
        g_machine.addBoard(0, 0, c.subsystem, 0xE0000000, 0xE721);
        BoardList boards;
        ASSERT_TRUE(boards.detect());
        EXPECT_EQ(boards.chipCountAt(0), c.chips);
    }
}

TEST_F(Detection, SkipsOtherDevices) {
    g_machine.addBoard(0, 2, 0x0004, 0xE0000000, 0xE721).deviceId = 0x0005;  // 3dfx, not a VSA-100
    g_machine.addBoard(0, 4, 0x0004, 0xE0000000, 0xE721).vendorId = 0x10DE;  // device 0x0009 of another vendor
    EXPECT_FALSE(boards_.detect());
    EXPECT_EQ(countCalls(DrvOp::PciReadWord), 2u * 32);  // no subsystem read
}

TEST_F(Detection, AppendsToWhatIsListed) {
    g_machine.addBoard(0, 0, 0x0004, 0xE0000000, 0xE721);
    ASSERT_TRUE(boards_.detect());
    ASSERT_TRUE(boards_.detect());
    EXPECT_EQ(chipCounts(boards_), (std::vector<unsigned>{1, 1}));
    boards_.clear();
    EXPECT_EQ(boards_.chipCountAt(0), 0u);
}

// Six boards allocate in this order: record 1, the array (4 slots), records
// 2 to 4, record 5, the array's growth to 8, record 6. Whatever fails, the boards listed
// before it stay and the scan ends there; the sanitizer checks nothing leaks.
TEST_F(Detection, OutOfMemoryKeepsTheBoardsFoundSoFar) {
    const struct {
        int failingAllocation;
        unsigned listed;
    } cases[] = {{0, 0}, {1, 0}, {2, 1}, {5, 4}, {6, 4}, {7, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failingAllocation);
        g_machine = SimMachine();
        for (unsigned device = 0; device < 6; ++device)
            g_machine.addBoard(0, device, 0x0004, 0xE0000000 + device * 0x1000000, 0xE721);
        BoardList boards;
        g_allocationsUntilFailure = c.failingAllocation;
        const bool found = boards.detect();
        g_allocationsUntilFailure = -1;
        EXPECT_EQ(found, c.listed > 0);
        EXPECT_EQ(chipCounts(boards).size(), c.listed);
        EXPECT_EQ(g_machine.calls.back().op, DrvOp::PciReadWord);  // stopped mid-scan, no further bus
    }
}

}  // namespace
