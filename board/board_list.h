// The VSA-100 boards found on the PCI buses, in the order found, and the clock
// operations on them. Boards are addressed by their index in the list.
#pragma once

#include <cstdint>

struct BoardRecord {
    uint32_t chipCount;   // 1, 2 or 4
    uint32_t pciAddress;  // (bus << 8) | (device << 3), function 0
};

// Why the board code refuses to read or write a board. A refused board is
// left exactly as it was: nothing is written to it, its command register
// included.
enum class BoardReason : uint8_t {
    Usable,           // nothing stands in the way
    NoSuchBoard,      // the index lies past the end of the list
    ClockOutOfRange,  // not MIN_CLOCK_MHZ..MAX_CLOCK_MHZ
    BarUnassigned,    // BAR0 reads 0: the firmware gave the board no address
    BarNotMemory,     // BAR0 decodes I/O ports: its value is a port number
    WindowsPast4GiB,  // the chips' register windows run past what 32 bits address
};

// What the reason says to a user, in lower case with no full stop: "BAR0 is
// not assigned".
const char* boardReasonText(BoardReason reason);

// A readout of board `index`'s clock, with nothing read or written when it is
// not Usable.
struct ClockReading {
    BoardReason reason;
    double mhz;  // 0.0 unless reason is Usable
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

    // Why board `index` cannot be written with `mhz`, Usable when it can: the
    // check writeClock makes before anything is written. Reads BAR0 only.
    BoardReason check(unsigned mhz, unsigned index) const;
    // The current clock of the board's first chip in MHz; 0.0 for an index
    // past the end or a board whose registers cannot be reached.
    double readClockMHz(unsigned index) const;
    // readClockMHz with the reason of a refusal.
    ClockReading readClock(unsigned index) const;
    // Programs `mhz` (MIN_CLOCK_MHZ..MAX_CLOCK_MHZ) into every chip of the
    // board; false, with no hardware touched, when refused.
    bool writeClock(unsigned mhz, unsigned index) const;
    // writeClock with the reason of a refusal: Usable when written.
    BoardReason programClock(unsigned mhz, unsigned index) const;
    void clear();

private:
    const BoardRecord* at(unsigned index) const;
    BoardReason registerBase(const BoardRecord* record, unsigned chips, uint32_t* base) const;
    BoardReason examine(unsigned mhz, unsigned index, uint32_t* base) const;
    bool append(BoardRecord* record);
    bool scanBus(unsigned bus);

    BoardRecord** records_ = nullptr;
    unsigned count_ = 0;
    unsigned capacity_ = 0;
};

extern BoardList g_boards;
