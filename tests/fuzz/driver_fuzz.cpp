// libFuzzer target: any sequence of device-control requests through the
// driver's decoding and policy, on a model of an ICH10 board. Besides not
// crashing, every request must keep the driver's promises: a failed one
// hands nothing back and leaves its buffer as it came, and whatever is
// served touches only the SMBus controller's ports, the registers the
// controller texts write, and no RAM.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../driver/fake_machine.h"

extern "C" {
#include "request.h"
}

namespace {

constexpr uint32_t kCodes[] = {kReadMemory,    kWriteMemory,   kReadPort8,     kWritePort8,   kReadPort16,
                               kWritePort16,   kReadPort32,    kWritePort32,   kReadConfig8,  kWriteConfig8,
                               kReadConfig16,  kWriteConfig16, kReadConfig32,  kWriteConfig32, kReadMsr,
                               kWriteMsr,      kReadTsc,       kReadPmc,       kReadCr,       kWriteCr};

constexpr uint32_t kRcba = 0x100000;

void Require(bool promise) {
  if (!promise) std::abort();
}

// The controller's ports, before and after Init gives it the default base.
bool SMBusPort(uint16_t port) {
  return (port >= 0x400 && port < 0x420) || (port >= 0xC00 && port < 0xC20) || port == 0x869 || port == 0x86A;
}

bool WritableConfig(uint32_t address) {
  const uint32_t smbus = 0x80000000u | 0x1Fu << 11 | 3u << 8;
  return address == smbus + 0x04 || address == smbus + 0x20 || address == smbus + 0x40;
}

void ResetMachine() {
  gMachine = TFakeMachine{};
  gMachine.AddFunction(0, 0, 0, 0x2E208086, 0x060000);
  gMachine.AddFunction(2, 0, 0, 0x816810EC, 0x020000);
  gMachine.AddIch10(kRcba);
  gMachine.Msrs = {{0x10, 5}, {0x19C, 1}, {0xC0000082, 0x1234}};
  gMachine.Crs = {{0, 0x80050033}, {2, 0x1000}, {3, 0x1AD000}, {4, 0x6F8}, {8, 0}};
  gMachine.Pmcs = {{0, 9}};
  gMachine.RamRanges = {{0x1000, 0x9E000}, {0x180000, 0x10000}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResetMachine();
  TPolicyState policy{};
  size_t at = 0;
  while (at + 2 <= size) {
    const uint32_t code = kCodes[data[at] % std::size(kCodes)];
    // Bit 7 of the second byte: point a memory request's data into the
    // process's block, where most real callers point it.
    const bool ownData = (data[at + 1] & 0x80) != 0;
    at += 2;
    std::vector<uint8_t> buffer(kMemoryRequestSize, 0);
    const size_t take = std::min(buffer.size(), size - at);
    std::memcpy(buffer.data(), data + at, take);
    at += take;
    const uint32_t length = code == kReadMemory || code == kWriteMemory ? kMemoryRequestSize
                            : code >= kReadMsr && code <= kWriteMsr    ? kRegisterRequestSize
                            : code == kReadTsc                         ? kCounterRequestSize
                            : code == kReadPmc || code == kReadCr || code == kWriteCr ? kIndexedRequestSize
                            : code >= kReadConfig8                     ? kConfigRequestSize
                                                                       : kPortRequestSize;
    buffer.resize(length);
    if (length == kMemoryRequestSize && ownData) {
      uint32_t span;
      std::memcpy(&span, buffer.data() + kMemoryLengthField, 4);
      span %= 0x2000;
      std::memcpy(buffer.data() + kMemoryLengthField, &span, 4);
      const uint64_t user = gMachine.UserBase + (buffer[kMemoryDataField] % 0x100) * 16;
      std::memcpy(buffer.data() + kMemoryDataField, &user, 8);
    }
    const std::vector<uint8_t> before = buffer;
    const size_t portsBefore = gMachine.PortLog.size(), configBefore = gMachine.ConfigLog.size();
    const size_t mappedBefore = gMachine.MappedLog.size();
    TDeviceRequest request{code, buffer.data(), length, length, 0xDEADBEEF};
    const uint32_t status = ServeRequest(&request, data[0] & 1 ? kMode32 : kMode64, &policy);

    if (status != NVK_STATUS_SUCCESS) {
      Require(request.Returned == 0);
      Require(buffer == before);
    }
    for (size_t i = portsBefore; i < gMachine.PortLog.size(); ++i) Require(SMBusPort(gMachine.PortLog[i].Port));
    for (size_t i = configBefore; i < gMachine.ConfigLog.size(); ++i) {
      const TConfigCycle& cycle = gMachine.ConfigLog[i];
      Require(!cycle.Write || WritableConfig(cycle.Address));
      Require(cycle.DataPort - 0xCFCu + cycle.Width <= 4);
    }
    for (size_t i = mappedBefore; i < gMachine.MappedLog.size(); ++i) {
      const auto& access = gMachine.MappedLog[i];
      const uint64_t address = gMachine.PhysicalBase + access.Offset;
      for (const auto& [base, span] : gMachine.RamRanges) Require(address < base || address >= base + span);
      Require(!access.Write || address == kRcba + 0x3418);
    }
  }
  Require(gMachine.OpenMappings == 0 && gMachine.OpenAllocations == 0);
  return 0;
}
