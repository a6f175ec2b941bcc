// The seven operations of the driver library Halvex.dll, the program's only way
// to PCI configuration space and physical memory. The library exports them by
// ordinal only (1, 2, 4, 5, 8, 15, 18) with the stdcall convention; host builds
// link them to a simulated machine instead.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define DRVAPI __stdcall
#else
#define DRVAPI
#endif

extern "C" {
// 0 when the driver is loaded and ready.
uint32_t DRVAPI DrvOpen(void);
// Number of PCI buses to scan; only the low 8 bits of the register are meaningful.
uint8_t DRVAPI DrvPciBusCount(void);
uint16_t DRVAPI DrvPciReadWord(uint32_t pciAddress, uint32_t offset);
uint32_t DRVAPI DrvPciReadDword(uint32_t pciAddress, uint32_t offset);
// The result carries nothing; callers ignore it.
uint32_t DRVAPI DrvPciWriteDword(uint32_t pciAddress, uint32_t offset, uint32_t value);
uint32_t DRVAPI DrvMemReadDword(uint32_t physicalAddress);
// The result carries nothing; callers ignore it.
uint32_t DRVAPI DrvMemWriteDword(uint32_t physicalAddress, uint32_t value);
}
