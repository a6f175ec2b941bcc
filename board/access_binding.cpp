// Binds the driver operations to the access method selected at run time.
#include "board/driver.h"
#include "board/access.h"

namespace {
const DriverAccess* g_access = nullptr;
}

void selectDriverAccess(const DriverAccess* access) { g_access = access; }

extern "C" {
uint32_t DrvOpen(void) { return g_access->open(); }
uint8_t DrvPciBusCount(void) { return g_access->pciBusCount(); }
uint16_t DrvPciReadWord(uint32_t a, uint32_t o) { return g_access->pciReadWord(a, o); }
uint32_t DrvPciReadDword(uint32_t a, uint32_t o) { return g_access->pciReadDword(a, o); }
uint32_t DrvPciWriteDword(uint32_t a, uint32_t o, uint32_t v) { return g_access->pciWriteDword(a, o, v); }
uint32_t DrvMemReadDword(uint32_t p) { return g_access->memReadDword(p); }
uint32_t DrvMemWriteDword(uint32_t p, uint32_t v) { return g_access->memWriteDword(p, v); }
}
