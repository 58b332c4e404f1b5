#include "fake_machine.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include "machine.h"
}

TFakeMachine gMachine;

namespace {

uint32_t Cut(uint32_t value, unsigned width) { return width == 4 ? value : value & ((1u << (8 * width)) - 1); }

bool Lookup(const auto& registers, auto index, uint64_t* value) {
  const auto found = registers.find(index);
  if (found == registers.end()) return false;
  *value = found->second;
  return true;
}

bool InUserSpace(uint64_t address, uint32_t length) {
  return address >= gMachine.UserBase && address - gMachine.UserBase <= gMachine.User.size() &&
         length <= gMachine.User.size() - (address - gMachine.UserBase);
}

}  // namespace

extern "C" {

bool MachinePortIn(uint16_t port, unsigned width, uint32_t* value) {
  const auto found = gMachine.PortValues.find(port);
  *value = Cut(found == gMachine.PortValues.end() ? gMachine.PortDefault : found->second, width);
  gMachine.PortLog.push_back({false, port, width, *value});
  return true;
}

bool MachinePortOut(uint16_t port, unsigned width, uint32_t value) {
  gMachine.PortLog.push_back({true, port, width, value});
  return true;
}

bool MachineReadMsr(uint32_t index, uint64_t* value) { return Lookup(gMachine.Msrs, index, value); }

bool MachineWriteMsr(uint32_t index, uint64_t value) {
  if (!gMachine.Msrs.contains(index)) return false;
  gMachine.Msrs[index] = value;
  gMachine.MsrWrites.emplace_back(index, value);
  return true;
}

bool MachineReadTsc(uint64_t* value) {
  *value = gMachine.Tsc;
  return true;
}

bool MachineReadPmc(uint32_t index, uint64_t* value) { return Lookup(gMachine.Pmcs, index, value); }

bool MachineReadCr(unsigned index, uint64_t* value) { return Lookup(gMachine.Crs, index, value); }

bool MachineWriteCr(unsigned index, uint64_t value) {
  if (!gMachine.Crs.contains(index)) return false;
  gMachine.Crs[index] = value;
  gMachine.CrWrites.emplace_back(index, value);
  return true;
}

void* MachineMapPhysical(uint64_t address, uint32_t length) {
  if (address < gMachine.PhysicalBase || address - gMachine.PhysicalBase > gMachine.Physical.size() ||
      length > gMachine.Physical.size() - (address - gMachine.PhysicalBase)) {
    return nullptr;
  }
  ++gMachine.Mappings;
  ++gMachine.OpenMappings;
  return gMachine.PhysicalAt(address);
}

void MachineUnmapPhysical(void*, uint32_t) { --gMachine.OpenMappings; }

uint32_t MachineReadMapped(const volatile void* at, unsigned width) {
  const auto* byte = static_cast<const volatile uint8_t*>(at);
  gMachine.MappedLog.push_back({static_cast<uint64_t>(byte - gMachine.Physical.data()), width, false});
  uint32_t value = 0;
  std::memcpy(&value, const_cast<const uint8_t*>(byte), width);
  return value;
}

void MachineWriteMapped(volatile void* at, unsigned width, uint32_t value) {
  auto* byte = static_cast<volatile uint8_t*>(at);
  gMachine.MappedLog.push_back({static_cast<uint64_t>(byte - gMachine.Physical.data()), width, true});
  std::memcpy(const_cast<uint8_t*>(byte), &value, width);
}

bool MachineTouchesRam(uint64_t address, uint64_t length) {
  if (!gMachine.RamKnown) return true;
  for (const auto& [base, size] : gMachine.RamRanges) {
    if (address < base + size && base < address + length) return true;
  }
  return false;
}

void* MachineAllocate(uint32_t length) {
  ++gMachine.OpenAllocations;
  return std::malloc(length);
}

void MachineFree(void* block) {
  --gMachine.OpenAllocations;
  std::free(block);
}

uint64_t MachineUserLimit(void) { return gMachine.UserLimit; }

bool MachineCopyFromUser(void* to, uint64_t from, uint32_t length) {
  if (!InUserSpace(from, length)) return false;
  std::memcpy(to, gMachine.UserAt(from), length);
  return true;
}

bool MachineCopyToUser(uint64_t to, const void* from, uint32_t length) {
  if (!InUserSpace(to, length)) return false;
  std::memcpy(gMachine.UserAt(to), from, length);
  return true;
}

}  // extern "C"
