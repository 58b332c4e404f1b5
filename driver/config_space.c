#include "config_space.h"

#include "machine.h"

enum { kConfigDataPort = 0xCFC };

uint32_t ConfigAddress(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset) {
  return 0x80000000u | (uint32_t)((offset >> 8) & 0xF) << 24 | (uint32_t)bus << 16 | (uint32_t)device << 11 |
         (uint32_t)function << 8 | (offset & 0xFCu);
}

static uint16_t DataPort(uint16_t offset) { return (uint16_t)(kConfigDataPort + (offset & 3)); }

bool ConfigRead(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, unsigned width, uint32_t* value) {
  return MachineConfigCycle(ConfigAddress(bus, device, function, offset), DataPort(offset), width, false, value);
}

bool ConfigWrite(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, unsigned width, uint32_t value) {
  return MachineConfigCycle(ConfigAddress(bus, device, function, offset), DataPort(offset), width, true, &value);
}
