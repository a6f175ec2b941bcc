// The VSA-100 boards found on the PCI buses, in the order found, and the clock
// operations on them. Boards are addressed by their index in the list.
#pragma once

#include <cstdint>

struct BoardRecord {
    uint32_t chipCount;   // 1, 2 or 4
    uint32_t pciAddress;  // (bus << 8) | (device << 3), function 0
};

class BoardList {
public:
    BoardList() = default;
    ~BoardList();
    BoardList(const BoardList&) = delete;
    BoardList& operator=(const BoardList&) = delete;

    // Scans every PCI bus and appends one record per board; true when the list
    // then holds at least one. If memory runs out, the scan stops and the
    // boards found so far stay listed.
    bool detect();
    // How many boards the list holds.
    unsigned count() const { return count_; }
    // The chip count of board `index`; 0 past the end of the list.
    unsigned chipCountAt(unsigned index) const;
    // Where board `index` sits, (bus << 8) | (device << 3); 0 past the end.
    uint32_t pciAddressAt(unsigned index) const;
    // The current clock of the board's first chip in MHz; 0.0 for an index
    // past the end or a board whose registers cannot be reached.
    double readClockMHz(unsigned index) const;
    // Programs `mhz` (MIN_CLOCK_MHZ..MAX_CLOCK_MHZ) into every chip of the
    // board; false, with no hardware touched, when refused.
    bool writeClock(unsigned mhz, unsigned index) const;
    void clear();

private:
    const BoardRecord* at(unsigned index) const;
    bool append(BoardRecord* record);
    bool scanBus(unsigned bus);

    BoardRecord** records_ = nullptr;
    unsigned count_ = 0;
    unsigned capacity_ = 0;
};

extern BoardList g_boards;
