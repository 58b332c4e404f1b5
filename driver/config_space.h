#ifndef NVK_DRIVER_CONFIG_SPACE_H
#define NVK_DRIVER_CONFIG_SPACE_H
/*
 * PCI configuration space for the request handling: through the firmware's
 * memory-mapped window where it gives one, through the kernel's own
 * configuration access otherwise.
 */

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A register's name as mechanism #1's address dword (register bits 8..11
 * in address bits 24..27): one number per register, which the policy keys
 * what it remembers by. */
uint32_t ConfigAddress(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset);

/*
 * The firmware's memory-mapped configuration window (from its MCFG table):
 * Base is bus 0's, and buses FirstBus..LastBus decode there; none while
 * Base is 0. An access through it is one memory access, which no other
 * processor's configuration cycle can split.
 */
typedef struct {
  uint64_t Base;
  uint8_t FirstBus;
  uint8_t LastBus;
} TConfigWindow;

/* One access of `width` bytes; device 0..31, function 0..7, offset
 * 0..0FFFh, aligned to the width. Through `window` where it covers the bus
 * and can be mapped, through the kernel's configuration access otherwise. */
bool ConfigRead(const TConfigWindow* window, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                unsigned width, uint32_t* value);
bool ConfigWrite(const TConfigWindow* window, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                 unsigned width, uint32_t value);

#ifdef __cplusplus
}
#endif

#endif
