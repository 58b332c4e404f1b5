#ifndef NVK_DRIVER_CONFIG_SPACE_H
#define NVK_DRIVER_CONFIG_SPACE_H
/*
 * PCI configuration space through mechanism #1: the address dword goes to
 * port 0CF8h, the data travel through 0CFCh-0CFFh. Register bits 8..11
 * travel in address bits 24..27, the extended form that processors with
 * that feature enabled accept.
 */

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint32_t ConfigAddress(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset);

/*
 * The firmware's memory-mapped configuration window (from its MCFG table):
 * Base is bus 0's, and buses FirstBus..LastBus decode there; none while
 * Base is 0. An access through it is one memory access, which no other
 * processor's configuration cycle can split; the address and data pair of
 * mechanism #1 is serialised only against this driver's own cycles and
 * interrupts on this processor, not against the HAL's or another driver's
 * on another one.
 */
typedef struct {
  uint64_t Base;
  uint8_t FirstBus;
  uint8_t LastBus;
} TConfigWindow;

/* One access of `width` bytes; device 0..31, function 0..7, offset
 * 0..0FFFh, aligned to the width. Through `window` where it covers the bus
 * and can be mapped, through mechanism #1 otherwise. */
bool ConfigRead(const TConfigWindow* window, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                unsigned width, uint32_t* value);
bool ConfigWrite(const TConfigWindow* window, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                 unsigned width, uint32_t value);

#ifdef __cplusplus
}
#endif

#endif
