#include "hw/driver_model.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "hw/driver_transport.h"
#include "machine.h"
#include "request.h"

namespace lirrin {

namespace {

// A physical range "mapped" for the driver. The driver reads a mapping
// once, unit by unit from the lowest address at one width: the first read
// takes the whole range in one memory request of that width, which
// reaches each unit exactly as those accesses would. Writes go to the
// machine one by one.
struct TMapping {
  std::vector<u8> Shadow;
  u64 Physical;
  bool Writable;
  bool Read = false;
};

// The machine behind the driver's C side, while a model transport lives.
struct TModelMachine {
  std::shared_ptr<TTransport> Machine;
  TDriverModelOptions Options;
  std::vector<std::unique_ptr<TMapping>> Mappings;
  // A mapped access the machine refused: the range could not have been
  // mapped, so the request fails (checked before any copy to the caller).
  bool MappedAccessFailed = false;
  TPolicyState Policy{};
};

TModelMachine* gModel = nullptr;

TModelMachine& Model() { return *gModel; }

TMapping& MappingOf(const volatile void* at, u64& offset) {
  const auto* byte = static_cast<const volatile u8*>(at);
  for (const auto& mapping : Model().Mappings) {
    const u8* first = mapping->Shadow.data();
    if (byte >= first && byte < first + mapping->Shadow.size()) {
      offset = static_cast<u64>(byte - first);
      return *mapping;
    }
  }
  throw std::logic_error("access outside every mapping");
}

constexpr u32 UnitCode(unsigned width) { return width == 1 ? kMemUnitByte : width == 2 ? kMemUnitWord : kMemUnitDword; }

class TModelDevice final : public TDeviceCall {
 public:
  bool Control(u32 code, void* buffer, u32 size) override {
    Model().MappedAccessFailed = false;
    TDeviceRequest request{code, static_cast<u8*>(buffer), size, size, 0};
    const TProcessorMode mode = sizeof(void*) == 8 ? kMode64 : kMode32;
    return ServeRequest(&request, mode, &Model().Policy) == NVK_STATUS_SUCCESS && !Model().MappedAccessFailed;
  }
};

// The driver transport over the model device, which owns the model.
class TDriverModelTransport final : public TDriverTransport {
 public:
  TDriverModelTransport(std::shared_ptr<TTransport> machine, TDriverModelOptions options)
      : TDriverTransport(std::make_unique<TModelDevice>(), nullptr, kFamilyNt, machine->ProcessorCount()),
        Machine{std::move(machine), std::move(options), {}, false, {}} {
    if (gModel != nullptr) throw std::logic_error("one driver model at a time");
    gModel = &Machine;
  }
  ~TDriverModelTransport() override { gModel = nullptr; }

  bool SetAffinity(u64 mask) override { return Machine.Machine->SetAffinity(mask); }

 private:
  // Any NT family word: the transport then sends every request to the driver.
  static constexpr u32 kFamilyNt = 32;
  TModelMachine Machine;
};

}  // namespace

std::shared_ptr<TTransport> MakeDriverModelTransport(std::shared_ptr<TTransport> machine,
                                                     TDriverModelOptions options) {
  return std::make_shared<TDriverModelTransport>(std::move(machine), std::move(options));
}

}  // namespace lirrin

using lirrin::Model;

extern "C" {

bool MachinePortIn(uint16_t port, unsigned width, uint32_t* value) {
  return Model().Machine->ReadPort(port, width, *value);
}

bool MachinePortOut(uint16_t port, unsigned width, uint32_t value) {
  return Model().Machine->WritePort(port, width, value);
}

bool MachineConfigAccess(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, unsigned width, bool write,
                         uint32_t* value) {
  auto& machine = *Model().Machine;
  return write ? machine.WritePciConfig(bus, device, function, offset, width, *value)
               : machine.ReadPciConfig(bus, device, function, offset, width, *value);
}

bool MachineReadMsr(uint32_t index, uint64_t* value) { return Model().Machine->ReadMsr(index, *value); }
bool MachineReadTsc(uint64_t* value) { return Model().Machine->ReadTsc(*value); }
bool MachineReadPmc(uint32_t index, uint64_t* value) { return Model().Machine->ReadPmc(index, *value); }
bool MachineReadCr(unsigned index, uint64_t* value) { return Model().Machine->ReadCr(index, *value); }

void* MachineMapPhysical(uint64_t address, uint32_t length, bool writable) {
  auto mapping = std::make_unique<lirrin::TMapping>();
  mapping->Shadow.resize(length);
  mapping->Physical = address;
  mapping->Writable = writable;
  void* at = mapping->Shadow.data();
  Model().Mappings.push_back(std::move(mapping));
  return at;
}

void MachineUnmapPhysical(void* at, uint32_t) {
  auto& mappings = Model().Mappings;
  std::erase_if(mappings, [at](const auto& mapping) { return mapping->Shadow.data() == at; });
}

uint32_t MachineReadMapped(const volatile void* at, unsigned width) {
  lirrin::u64 offset = 0;
  lirrin::TMapping& mapping = lirrin::MappingOf(at, offset);
  if (!mapping.Read) {
    mapping.Read = true;
    const auto length = static_cast<lirrin::u32>(mapping.Shadow.size());
    if (!Model().Machine->ReadMemory(mapping.Physical, mapping.Shadow.data(), length, lirrin::UnitCode(width))) {
      Model().MappedAccessFailed = true;
    }
  }
  uint32_t value = 0;
  std::memcpy(&value, mapping.Shadow.data() + offset, width);
  return value;
}

void MachineWriteMapped(volatile void* at, unsigned width, uint32_t value) {
  lirrin::u64 offset = 0;
  lirrin::TMapping& mapping = lirrin::MappingOf(at, offset);
  // The kernel faults on a store through a read-only mapping.
  if (!mapping.Writable) throw std::logic_error("write through a read-only mapping");
  if (!Model().Machine->WriteMemory(mapping.Physical + offset, &value, width, lirrin::UnitCode(width))) {
    Model().MappedAccessFailed = true;
  }
}

bool MachineTouchesRam(uint64_t address, uint64_t length) {
  const auto& ram = Model().Options.SystemRam;
  if (ram.empty()) return true;
  for (const auto& [base, size] : ram) {
    if (address < base + size && base < address + length) return true;
  }
  return false;
}

void* MachineAllocate(uint32_t length) { return std::malloc(length == 0 ? 1 : length); }
void MachineFree(void* block) { std::free(block); }

uint64_t MachineUserLimit(void) { return UINTPTR_MAX; }

bool MachineCopyFromUser(void* to, uint64_t from, uint32_t length) {
  std::memcpy(to, reinterpret_cast<const void*>(static_cast<uintptr_t>(from)), length);
  return true;
}

// A memory read's data reach the caller only if every mapped access worked.
bool MachineCopyToUser(uint64_t to, const void* from, uint32_t length) {
  if (Model().MappedAccessFailed) return false;
  std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(to)), from, length);
  return true;
}

void MachineLogRefusal(uint32_t code, const char* reason) { lirrin::ReportRefusal(code, reason); }

}  // extern "C"
