// A fresh simulated machine per test, and shorthand for the calls it records.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "board/board_list.h"
#include "sim/sim_machine.h"

extern SimMachine g_machine;

inline void PrintTo(const DrvCall& call, std::ostream* os) { *os << SimMachine::formatCall(call); }
inline void PrintTo(BoardReason reason, std::ostream* os) { *os << boardReasonText(reason); }

inline DrvCall busCount(uint32_t r) { return {DrvOp::PciBusCount, {0, 0, 0}, r}; }
inline DrvCall readWord(uint32_t a, uint32_t o, uint32_t r) { return {DrvOp::PciReadWord, {a, o, 0}, r}; }
inline DrvCall readDword(uint32_t a, uint32_t o, uint32_t r) { return {DrvOp::PciReadDword, {a, o, 0}, r}; }
inline DrvCall writeDword(uint32_t a, uint32_t o, uint32_t v) { return {DrvOp::PciWriteDword, {a, o, v}, 0}; }
inline DrvCall memRead(uint32_t p, uint32_t r) { return {DrvOp::MemReadDword, {p, 0, 0}, r}; }
inline DrvCall memWrite(uint32_t p, uint32_t v) { return {DrvOp::MemWriteDword, {p, v, 0}, 0}; }

inline size_t countCalls(DrvOp op) {
    size_t n = 0;
    for (const DrvCall& call : g_machine.calls)
        n += call.op == op;
    return n;
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { g_machine = SimMachine(); }

    // Detects the machine's boards into `boards_` and forgets the calls made.
    void detectQuietly() {
        ASSERT_TRUE(boards_.detect());
        g_machine.calls.clear();
    }

    BoardList boards_;
};
