#include "fake_machine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" {
#include "config_space.h"
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

void* Opened(uint8_t* at, uint32_t length, bool writable) {
  ++gMachine.Mappings;
  gMachine.OpenMappings.push_back({at, length, writable});
  return at;
}

}  // namespace

extern "C" {

bool MachinePortIn(uint16_t port, unsigned width, uint32_t* value) {
  if (gMachine.FaultingPorts.contains(port)) return false;
  const auto found = gMachine.PortValues.find(port);
  *value = Cut(found == gMachine.PortValues.end() ? gMachine.PortDefault : found->second, width);
  gMachine.PortLog.push_back({false, port, width, *value});
  return true;
}

// Ports keep what is written to them, as a controller's address and data
// registers latch it; the bytes of a wide write land on their own ports too.
bool MachinePortOut(uint16_t port, unsigned width, uint32_t value) {
  if (gMachine.FaultingPorts.contains(port)) return false;
  gMachine.PortLog.push_back({true, port, width, value});
  gMachine.PortValues[port] = value;
  for (unsigned i = 1; i < width; ++i) gMachine.PortValues[static_cast<uint16_t>(port + i)] = (value >> (8 * i)) & 0xFF;
  return true;
}

// Each access is logged as the mechanism #1 cycle that would make it.
bool MachineConfigAccess(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, unsigned width, bool write,
                         uint32_t* value) {
  if (gMachine.ConfigFaults) return false;
  const uint32_t key = static_cast<uint32_t>(bus) << 8 | static_cast<uint32_t>(device) << 3 | function;
  const uint32_t address = ConfigAddress(bus, device, function, offset);
  const auto dataPort = static_cast<uint16_t>(0xCFC + (offset & 3));
  const auto found = gMachine.Config.find(key);
  if (write) {
    if (found != gMachine.Config.end()) std::memcpy(found->second.data() + offset, value, width);
  } else {
    uint32_t read = 0xFFFFFFFF;
    if (found != gMachine.Config.end()) std::memcpy(&read, found->second.data() + offset, 4);
    *value = Cut(read, width);
  }
  gMachine.ConfigLog.push_back({address, dataPort, width, write, *value});
  return true;
}

bool MachineReadMsr(uint32_t index, uint64_t* value) { return Lookup(gMachine.Msrs, index, value); }

bool MachineReadTsc(uint64_t* value) {
  *value = gMachine.Tsc;
  return true;
}

bool MachineReadPmc(uint32_t index, uint64_t* value) { return Lookup(gMachine.Pmcs, index, value); }

bool MachineReadCr(unsigned index, uint64_t* value) { return Lookup(gMachine.Crs, index, value); }

void* MachineMapPhysical(uint64_t address, uint32_t length, bool writable) {
  if (gMachine.EcamBase != 0 && address >= gMachine.EcamBase && address - gMachine.EcamBase < (1u << 28) &&
      (address & 0xFFF) + length <= 0x1000) {
    static std::array<uint8_t, 4096> absent;  // a function that is not there reads as all ones
    absent.fill(0xFF);
    const uint32_t key = static_cast<uint32_t>((address - gMachine.EcamBase) >> 12);
    const auto found = gMachine.Config.find(key);
    return Opened((found == gMachine.Config.end() ? absent.data() : found->second.data()) + (address & 0xFFF), length,
                  writable);
  }
  if (address < gMachine.PhysicalBase || address - gMachine.PhysicalBase > gMachine.Physical.size() ||
      length > gMachine.Physical.size() - (address - gMachine.PhysicalBase)) {
    return nullptr;
  }
  return Opened(gMachine.PhysicalAt(address), length, writable);
}

// Undone with the length it was made with, as MmUnmapIoSpace wants.
void MachineUnmapPhysical(void* at, uint32_t length) {
  auto& open = gMachine.OpenMappings;
  const auto found = std::find_if(open.begin(), open.end(),
                                  [&](const auto& mapping) { return mapping.At == at && mapping.Length == length; });
  if (found == open.end()) {
    ++gMachine.MappingMisuses;
    return;
  }
  open.erase(found);
}

// The configuration-window address of a pointer into a function's
// configuration space, or 0 when it points into physical memory.
static uint32_t WindowAddress(const volatile uint8_t* byte) {
  for (auto& [key, space] : gMachine.Config) {
    if (byte >= space.data() && byte < space.data() + space.size()) {
      return static_cast<uint32_t>(gMachine.EcamBase + (uint64_t{key} << 12) + (byte - space.data()));
    }
  }
  return 0;
}

uint32_t MachineReadMapped(const volatile void* at, unsigned width) {
  const auto* byte = static_cast<const volatile uint8_t*>(at);
  uint32_t value = 0;
  std::memcpy(&value, const_cast<const uint8_t*>(byte), width);
  if (const uint32_t window = WindowAddress(byte); window != 0) {
    gMachine.ConfigLog.push_back({window, 0, width, false, value});
  } else {
    gMachine.MappedLog.push_back({static_cast<uint64_t>(byte - gMachine.Physical.data()), width, false});
  }
  return value;
}

void MachineWriteMapped(volatile void* at, unsigned width, uint32_t value) {
  auto* byte = static_cast<volatile uint8_t*>(at);
  const auto& open = gMachine.OpenMappings;
  if (std::none_of(open.begin(), open.end(), [byte, width](const auto& mapping) {
        return mapping.Writable && byte >= mapping.At && byte + width <= mapping.At + mapping.Length;
      })) {
    ++gMachine.MappingMisuses;
    return;
  }
  if (const uint32_t window = WindowAddress(byte); window != 0) {
    gMachine.ConfigLog.push_back({window, 0, width, true, value});
  } else {
    gMachine.MappedLog.push_back({static_cast<uint64_t>(byte - gMachine.Physical.data()), width, true});
  }
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
  if (gMachine.AllocationFails) return nullptr;
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

void MachineLogRefusal(uint32_t code, const char* reason) { gMachine.Refusals.push_back({code, reason}); }

}  // extern "C"

namespace {
uint32_t FunctionKey(uint8_t bus, uint8_t device, uint8_t function) {
  return uint32_t{bus} << 8 | uint32_t{device} << 3 | function;
}
}  // namespace

void TFakeMachine::AddFunction(uint8_t bus, uint8_t device, uint8_t function, uint32_t id, uint32_t classCode,
                               bool multiFunction) {
  auto& space = Config[FunctionKey(bus, device, function)];
  space.fill(0);
  SetConfig(bus, device, function, 0x00, id);
  SetConfig(bus, device, function, 0x08, classCode << 8);
  SetConfig(bus, device, function, 0x0C, multiFunction ? 0x00800000 : 0);
}

void TFakeMachine::SetConfig(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, uint32_t value) {
  std::memcpy(Config.at(FunctionKey(bus, device, function)).data() + offset, &value, 4);
}

uint32_t TFakeMachine::ConfigDword(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset) const {
  uint32_t value;
  std::memcpy(&value, Config.at(FunctionKey(bus, device, function)).data() + offset, 4);
  return value;
}

void TFakeMachine::AddIch10(uint32_t rcba) {
  AddFunction(0, 0x1F, 0, 0x3A188086, 0x060100, true);
  SetConfig(0, 0x1F, 0, 0x40, kPmBase | 1);
  SetConfig(0, 0x1F, 0, 0xF0, rcba | 1);
  AddFunction(0, 0x1F, 3, 0x3A308086, 0x0C0500);
  SetConfig(0, 0x1F, 3, 0x04, 0x00000001);
  SetConfig(0, 0x1F, 3, 0x20, kSMBusBase | 1);
}

void TFakeMachine::AddFirmwareTables(uint64_t ecamBase, uint8_t lastBus) {
  const auto put = [this](uint64_t address, const void* bytes, size_t length) {
    std::memcpy(PhysicalAt(address), bytes, length);
  };
  const auto put32 = [&](uint64_t address, uint32_t value) { put(address, &value, 4); };
  uint8_t rsdp[20] = {'R', 'S', 'D', ' ', 'P', 'T', 'R', ' '};
  const uint32_t rsdt = 0xF0100, mcfg = 0xF0200;
  std::memcpy(rsdp + 16, &rsdt, 4);
  uint8_t sum = 0;
  for (uint8_t byte : rsdp) sum = static_cast<uint8_t>(sum + byte);
  rsdp[8] = static_cast<uint8_t>(-sum);  // the checksum byte
  put(0xF0000, rsdp, sizeof rsdp);
  put(rsdt, "RSDT", 4);
  put32(rsdt + 4, 40);
  put32(rsdt + 36, mcfg);
  put(mcfg, "MCFG", 4);
  put32(mcfg + 4, 60);
  std::memcpy(PhysicalAt(mcfg + 44), &ecamBase, 8);
  PhysicalAt(mcfg + 54)[0] = 0;
  PhysicalAt(mcfg + 55)[0] = lastBus;
}
