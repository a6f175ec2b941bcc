// The board code's seven operations, sent to the access table selected at run
// time. With the stdcall convention and exported by ordinal, these are the
// stand-in Halvex.dll's exports too.
#include "board/access.h"
#include "board/driver.h"

namespace {
const BoardAccess* g_access = nullptr;
}

void selectBoardAccess(const BoardAccess* access) { g_access = access; }

extern "C" {
uint32_t DRVAPI DrvOpen(void) { return g_access->open(); }
uint8_t DRVAPI DrvPciBusCount(void) { return g_access->busCount(); }
uint16_t DRVAPI DrvPciReadWord(uint32_t a, uint32_t o) { return g_access->configReadWord(a, o); }
uint32_t DRVAPI DrvPciReadDword(uint32_t a, uint32_t o) { return g_access->configReadDword(a, o); }
uint32_t DRVAPI DrvPciWriteDword(uint32_t a, uint32_t o, uint32_t v) { return g_access->configWriteDword(a, o, v); }
uint32_t DRVAPI DrvMemReadDword(uint32_t p) { return g_access->memoryReadDword(p); }
uint32_t DRVAPI DrvMemWriteDword(uint32_t p, uint32_t v) { return g_access->memoryWriteDword(p, v); }
}
