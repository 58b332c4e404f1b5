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

/* One access of `width` bytes; device 0..31, function 0..7, offset
 * 0..0FFFh, aligned to the width. */
bool ConfigRead(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, unsigned width, uint32_t* value);
bool ConfigWrite(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, unsigned width, uint32_t value);

#ifdef __cplusplus
}
#endif

#endif
