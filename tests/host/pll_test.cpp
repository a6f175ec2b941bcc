#include <gtest/gtest.h>

#include <cmath>

#include "board/pll.h"

namespace {

// Every entry is the M = 1, K = 1 setting nearest the requested clock,
// computed here apart from the table; 166 MHz alone keeps the finer 0xE721.
TEST(PllTable, FollowsTheNearestSettingRule) {
    ASSERT_EQ(PLL_TABLE_SIZE, 171u);
    for (unsigned mhz = 50; mhz <= 220; ++mhz) {
        SCOPED_TRACE(mhz);
        const uint32_t n = static_cast<uint32_t>(std::lround(6.0 * mhz / 14.31818)) - 2;
        const uint32_t expected = mhz == 166 ? 0xE721 : (n << 8) | 0x05;
        EXPECT_EQ(PllTable[mhz - 50], expected);
    }
}

// Each setting lands within half a step (14.31818 / 6 / 2 MHz) of its clock.
TEST(PllTable, EverySettingIsCloseToItsClock) {
    for (unsigned mhz = 50; mhz <= 220; ++mhz)
        EXPECT_LT(std::fabs(pllFrequencyMHz(PllTable[mhz - 50]) - mhz), 14.31818 / 12) << mhz;
}

}  // namespace
