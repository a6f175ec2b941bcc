// Binds the driver operations to one simulated machine, `g_machine`, for
// programs that test the board and window code in-process.
#include "board/driver.h"
#include "sim/sim_machine.h"

SimMachine g_machine;

extern "C" {
uint32_t DRVAPI DrvOpen(void) { return g_machine.open(); }
uint8_t DRVAPI DrvPciBusCount(void) { return g_machine.pciBusCount(); }
uint16_t DRVAPI DrvPciReadWord(uint32_t a, uint32_t o) { return g_machine.pciReadWord(a, o); }
uint32_t DRVAPI DrvPciReadDword(uint32_t a, uint32_t o) { return g_machine.pciReadDword(a, o); }
uint32_t DRVAPI DrvPciWriteDword(uint32_t a, uint32_t o, uint32_t v) { return g_machine.pciWriteDword(a, o, v); }
uint32_t DRVAPI DrvMemReadDword(uint32_t p) { return g_machine.memReadDword(p); }
uint32_t DRVAPI DrvMemWriteDword(uint32_t p, uint32_t v) { return g_machine.memWriteDword(p, v); }
}
