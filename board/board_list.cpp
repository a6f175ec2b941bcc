#include "board/board_list.h"

#include <cstdlib>

#include "board/driver.h"
#include "board/pll.h"
#include "board/vsa100.h"

using namespace vsa100;

BoardList g_boards;

namespace {

constexpr unsigned INITIAL_CAPACITY = 4;

const char* const REASON_TEXTS[] = {
    "usable",
    "no such board",
    "not a clock from " CLOCK_RANGE_TEXT " MHz",
    "BAR0 is not assigned",
    "BAR0 is not a memory BAR",
    "its chips' register windows lie past 4 GiB",
};

// Turns on I/O and memory decoding: a board the firmware left disabled does
// not answer at its BAR.
void enableDecoding(uint32_t pciAddress) {
    const uint32_t command = DrvPciReadDword(pciAddress, PCI_COMMAND);
    DrvPciWriteDword(pciAddress, PCI_COMMAND, command | COMMAND_IO_SPACE | COMMAND_MEMORY_SPACE);
}

}  // namespace

BoardList::~BoardList() { clear(); }

void BoardList::clear() {
    for (unsigned i = 0; i < count_; ++i)
        free(records_[i]);
    free(records_);
    records_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

const BoardRecord* BoardList::at(unsigned index) const { return index < count_ ? records_[index] : nullptr; }

bool BoardList::append(BoardRecord* record) {
    if (count_ == capacity_) {
        const unsigned capacity = capacity_ ? capacity_ * 2 : INITIAL_CAPACITY;
        void* grown = realloc(records_, capacity * sizeof *records_);
        if (!grown)
            return false;
        records_ = static_cast<BoardRecord**>(grown);
        capacity_ = capacity;
    }
    records_[count_++] = record;
    return true;
}

// Returns false when memory ran out and the scan must stop.
bool BoardList::scanBus(unsigned bus) {
    for (unsigned device = 0; device < DEVICES_PER_BUS; ++device) {
        const uint32_t address = pciAddress(bus, device);
        const uint16_t vendor = DrvPciReadWord(address, PCI_VENDOR_ID);
        const uint16_t deviceId = DrvPciReadWord(address, PCI_DEVICE_ID);
        if (vendor != VENDOR_3DFX || deviceId != DEVICE_VSA100)
            continue;
        auto* record = static_cast<BoardRecord*>(malloc(sizeof(BoardRecord)));
        if (!record)
            return false;
        record->pciAddress = address;
        record->chipCount = chipCountForSubsystem(DrvPciReadWord(address, PCI_SUBSYSTEM_ID));
        if (!append(record)) {
            free(record);
            return false;
        }
    }
    return true;
}

bool BoardList::detect() {
    // The driver's bus count is asked again after every bus rather than
    // kept: the scan goes on while the latest count lies above the bus.
    if (DrvPciBusCount() != 0) {
        unsigned bus = 0;
        do {
            if (!scanBus(bus))
                break;
            ++bus;
        } while (bus < DrvPciBusCount());
    }
    return count_ > 0;
}

unsigned BoardList::chipCountAt(unsigned index) const {
    const BoardRecord* record = at(index);
    return record ? record->chipCount : 0;
}

uint32_t BoardList::pciAddressAt(unsigned index) const {
    const BoardRecord* record = at(index);
    return record ? record->pciAddress : 0;
}

const char* boardReasonText(BoardReason reason) { return REASON_TEXTS[static_cast<unsigned>(reason)]; }

// Reads BAR0 into `base` and says whether the first `chips` register windows
// behind it can be reached. An unassigned BAR (0) or an I/O-space BAR, whose
// value is a port number, would aim the PLL access at RAM or at physical page
// 0; a board claiming more chips than its BAR0 leaves room for below 4 GiB
// would have the last windows wrap around to low physical memory (RAM). Read
// before anything is written, so that a board refused here is left exactly as
// it was: turning on decoding of an unassigned BAR would make the board answer
// at address 0.
BoardReason BoardList::registerBase(const BoardRecord* record, unsigned chips, uint32_t* base) const {
    if (!record)
        return BoardReason::NoSuchBoard;
    const uint32_t bar0 = DrvPciReadDword(record->pciAddress, PCI_BAR0);
    *base = bar0 & ~BAR_FLAG_MASK;
    if (bar0 & BAR_IO_SPACE)
        return BoardReason::BarNotMemory;
    if (*base == 0)
        return BoardReason::BarUnassigned;
    if (uint64_t(*base) + uint64_t(chips) * CHIP_WINDOW_SIZE > PHYSICAL_ADDRESS_LIMIT)
        return BoardReason::WindowsPast4GiB;
    return BoardReason::Usable;
}

// The checks of a write, in the order they cost: the clock and the index need
// no driver call.
BoardReason BoardList::examine(unsigned mhz, unsigned index, uint32_t* base) const {
    if (mhz < MIN_CLOCK_MHZ || mhz > MAX_CLOCK_MHZ)
        return BoardReason::ClockOutOfRange;
    const BoardRecord* record = at(index);
    return registerBase(record, record ? record->chipCount : 0, base);
}

BoardReason BoardList::check(unsigned mhz, unsigned index) const {
    uint32_t base;
    return examine(mhz, index, &base);
}

ClockReading BoardList::readClock(unsigned index) const {
    uint32_t base;
    // Chip 0's window lies below 4 GiB wherever a 32-bit BAR0 puts it.
    const BoardReason reason = registerBase(at(index), 1, &base);
    if (reason != BoardReason::Usable)
        return {reason, 0.0};
    enableDecoding(at(index)->pciAddress);
    // All chips of a board run from the same setting; chip 0 speaks for them.
    return {reason, pllFrequencyMHz(DrvMemReadDword(base + REG_PLL_CONTROL))};
}

double BoardList::readClockMHz(unsigned index) const { return readClock(index).mhz; }

BoardReason BoardList::programClock(unsigned mhz, unsigned index) const {
    uint32_t base;
    const BoardReason reason = examine(mhz, index, &base);
    if (reason != BoardReason::Usable)
        return reason;
    const BoardRecord* record = at(index);
    enableDecoding(record->pciAddress);
    const uint32_t value = PllTable[mhz - MIN_CLOCK_MHZ];
    for (uint32_t chip = 0; chip < record->chipCount; ++chip)
        DrvMemWriteDword(base + REG_PLL_CONTROL + chip * CHIP_WINDOW_SIZE, value);
    return reason;
}

bool BoardList::writeClock(unsigned mhz, unsigned index) const {
    return programClock(mhz, index) == BoardReason::Usable;
}
