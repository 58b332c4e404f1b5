#ifndef NVK_DRIVER_POLICY_H
#define NVK_DRIVER_POLICY_H
/*
 * What the driver agrees to do. The program needs little of the machine:
 * it reads the firmware area and the firmware tables, finds and drives the
 * chipset's SMBus host controller through its I/O registers, and while it
 * drives one it switches the controller on and back through a handful of
 * configuration registers, one memory-mapped chipset register and two TCO
 * ports. Everything else a kernel I/O driver could do for its caller
 * (reset ports, SMI, the BIOS write-enable, RAM, MMIO of DMA-capable
 * devices, processor registers) is refused here, so that the driver is no
 * general path from an administrator into the kernel or the firmware.
 *
 * Where the allowed registers are depends on the board (an SMBus base in a
 * bridge register, a chipset's register block at an address in another
 * register), the driver reads those registers itself at the time of the
 * request; it never takes a range from the caller.
 *
 * The rules are the tables in policy.c, one row for each register block or
 * register that some controller's texts use; this file knows nothing of the
 * kernel and is tested on the host like request.c.
 */

#include <stdbool.h>
#include <stdint.h>

#include "config_space.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Why a request was refused; each has its own line in the debug log. */
typedef enum {
  kPolicyAllowed = 0,
  kRefusedProtectedPort,       /* a legacy platform port or the configuration mechanism's */
  kRefusedPortOutsideSMBus,    /* no SMBus controller of this board decodes it */
  kRefusedUnalignedConfig,     /* a configuration access that crosses its register */
  kRefusedConfigWrite,         /* a configuration register no controller text writes */
  kRefusedConfigValue,         /* moves a controller's base or turns on bus mastering */
  kRefusedManagedMemory,       /* RAM that Windows manages, read or write */
  kRefusedMemoryWrite,         /* device memory no controller text writes */
  kRefusedMemoryWriteBits,     /* changes bits of a chipset register beyond the SMBus ones */
  kRefusedMsrRead,             /* a model-specific register outside the harmless few */
  kRefusedMsrWrite,            /* the driver writes no model-specific register */
  kRefusedControlRegisterRead, /* CR2 and CR3 reveal the kernel's address space */
  kRefusedControlRegisterWrite, /* the driver writes no control register */
  kRefusedSMBusSlave,          /* a transaction the SMBus rule forbids (smbus_rule.h) */
  kRefusedWideStart,           /* a write wider than a byte over a controller's start register */
  kRefusedTcoValue,            /* a TCO control value other than the timer halt or the firmware's */
  kRefusedConfigBus,           /* a configuration write beyond bus 0 */
  kRefusedMemoryRead,          /* memory outside the firmware area and the tables it names */
  kPolicyVerdictEnd
} TPolicyVerdict;

/* The debug log's text for a verdict. */
const char* PolicyVerdictText(TPolicyVerdict verdict);

/*
 * What the policy keeps between requests; one state lives as long as the
 * driver, starting zeroed.
 *
 * Bases: the controller bases that the driver saw before the first write
 * that changed them. A controller text may move a base to its default and
 * later put back the one the firmware chose; nothing else may put a base
 * anywhere.
 *
 * Functions: the functions of bus 0 with their identity, so that a port
 * request does not walk the bus each time (an SMBus transaction is dozens
 * of port requests). A served write to configuration space or to device
 * memory may show or hide a function, so it makes the list stale; each
 * use checks the function's identity again.
 */
#define NVK_POLICY_REMEMBERED_BASES 16
#define NVK_POLICY_FUNCTIONS 256 /* every function bus 0 can have: none is ever left out */
#define NVK_POLICY_TCO_PORTS 4
#define NVK_POLICY_READABLE_RANGES 64

typedef struct {
  struct {
    uint32_t Register; /* bus, device, function and offset, as a configuration address */
    uint32_t Value;
  } Bases[NVK_POLICY_REMEMBERED_BASES];
  unsigned BaseCount;
  struct {
    uint8_t Device;
    uint8_t Function;
    uint32_t Id;
    uint16_t ClassCode;
  } Functions[NVK_POLICY_FUNCTIONS];
  unsigned FunctionCount;
  bool FunctionsKnown;
  /* TCO: the byte each TCO control port held before the driver's first
   * write to it, which Restore puts back. */
  struct {
    uint16_t Port;
    uint8_t Value;
  } Tco[NVK_POLICY_TCO_PORTS];
  unsigned TcoCount;
  /* Memory reads: the firmware area and what its structures name, found
   * by the driver's own walk at the first request; the MCFG table's
   * configuration window, through which configuration cycles then go. */
  struct {
    uint64_t First;
    uint64_t Length;
  } Readable[NVK_POLICY_READABLE_RANGES];
  unsigned ReadableCount;
  bool ReadableKnown;
  TConfigWindow Window;
} TPolicyState;

/* `value` is what a write would store (ignored for reads). */
TPolicyVerdict PolicyCheckPort(TPolicyState* state, uint16_t port, unsigned width, bool write, uint32_t value);
TPolicyVerdict PolicyCheckConfig(TPolicyState* state, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                                 unsigned width, bool write, uint32_t value);
/* `data` holds the bytes a write would store (ignored for reads). */
TPolicyVerdict PolicyCheckMemory(TPolicyState* state, uint64_t address, uint32_t length, unsigned unit, bool write,
                                 const uint8_t* data);
TPolicyVerdict PolicyCheckMsrRead(uint32_t index);
TPolicyVerdict PolicyCheckControlRegisterRead(uint32_t index);

#ifdef __cplusplus
}
#endif

#endif
