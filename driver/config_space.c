#include "config_space.h"

#include <stddef.h>

#include "machine.h"

uint32_t ConfigAddress(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset) {
  return 0x80000000u | (uint32_t)((offset >> 8) & 0xF) << 24 | (uint32_t)bus << 16 | (uint32_t)device << 11 |
         (uint32_t)function << 8 | (offset & 0xFCu);
}

/* The access through the window; false when it does not cover the bus or
 * cannot be mapped. */
static bool WindowAccess(const TConfigWindow* window, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                         unsigned width, bool write, uint32_t* value) {
  if (window == NULL || window->Base == 0 || bus < window->FirstBus || bus > window->LastBus) return false;
  const uint64_t address =
      window->Base + ((uint64_t)bus << 20 | (uint64_t)device << 15 | (uint64_t)function << 12 | offset);
  volatile void* mapping = MachineMapPhysical(address, width, write);
  if (mapping == NULL) return false;
  if (write) {
    MachineWriteMapped(mapping, width, *value);
  } else {
    *value = MachineReadMapped(mapping, width);
  }
  MachineUnmapPhysical((void*)mapping, width);
  return true;
}

bool ConfigRead(const TConfigWindow* window, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                unsigned width, uint32_t* value) {
  return WindowAccess(window, bus, device, function, offset, width, false, value) ||
         MachineConfigAccess(bus, device, function, offset, width, false, value);
}

bool ConfigWrite(const TConfigWindow* window, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                 unsigned width, uint32_t value) {
  return WindowAccess(window, bus, device, function, offset, width, true, &value) ||
         MachineConfigAccess(bus, device, function, offset, width, true, &value);
}
