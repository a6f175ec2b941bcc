// The graphics PLL of a VSA-100 chip. pllControl holds N in bits 15..8, M in
// bits 7..2 and K in bits 1..0; the output is REF × (N + 2) / ((M + 2) × 2^K).
#pragma once

#include <cstdint>

// The clock range, as numbers and as the text messages give it ("50 to 220").
#define HALVEX_MIN_CLOCK 50
#define HALVEX_MAX_CLOCK 220
#define HALVEX_TEXT_OF(number) #number
#define HALVEX_TEXT(number) HALVEX_TEXT_OF(number)
#define CLOCK_RANGE_TEXT HALVEX_TEXT(HALVEX_MIN_CLOCK) " to " HALVEX_TEXT(HALVEX_MAX_CLOCK)

constexpr unsigned MIN_CLOCK_MHZ = HALVEX_MIN_CLOCK;
constexpr unsigned MAX_CLOCK_MHZ = HALVEX_MAX_CLOCK;
constexpr unsigned DEFAULT_CLOCK_MHZ = 166;
constexpr unsigned PLL_TABLE_SIZE = MAX_CLOCK_MHZ - MIN_CLOCK_MHZ + 1;

constexpr double PLL_REFERENCE_MHZ = 14.31818;

// The setting written for each whole MHz, indexed by MHz - MIN_CLOCK_MHZ.
extern const uint32_t PllTable[PLL_TABLE_SIZE];

// The frequency a pllControl value produces; bits 16..31 are ignored.
double pllFrequencyMHz(uint32_t pllControl);
