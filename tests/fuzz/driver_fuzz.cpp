// libFuzzer target: any sequence of device-control requests through the
// driver's decoding and policy, on a model of an ICH10 board. Besides not
// crashing, every request must keep the driver's promises: a failed one
// hands nothing back and leaves its buffer as it came, and whatever is
// served touches only the SMBus controller's ports while it decodes them,
// starts no transaction the SMBus rule forbids, writes only the registers
// and TCO values the controller texts write, and reads only the firmware
// area and the registers the texts read, never RAM.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
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

// What the controller texts need of this ICH10 board, taken from the
// chipset's documented registers, not from the driver's tables: the 32
// ports at the SMBus function's I/O BAR while its I/O decode is on, the
// TCO bytes at PMBASE + 69h and 6Ah (written 08h, then given back), and
// the three SMBus function registers and the Function Disable dword that
// Init and Restore write.
constexpr uint8_t kSMBusDevice = 0x1F, kSMBusFunction = 3;
constexpr uint32_t kFirmwareTcoByte = 0xFF;  // what the model's ports hold before any write

struct TSMBusDecode {
  bool On;
  uint16_t Base;
};

TSMBusDecode SMBusDecode() {
  const uint32_t command = gMachine.ConfigDword(0, kSMBusDevice, kSMBusFunction, 0x04);
  const uint32_t bar = gMachine.ConfigDword(0, kSMBusDevice, kSMBusFunction, 0x20);
  const bool present = (gMachine.ConfigDword(0, kSMBusDevice, kSMBusFunction, 0x00) & 0xFFFF) == 0x8086;
  return {present && (command & 1) != 0 && (bar & 1) != 0 && (bar & 0xFFE0) != 0, static_cast<uint16_t>(bar & 0xFFE0)};
}

bool TcoPort(uint16_t port) { return port == TFakeMachine::kPmBase + 0x69 || port == TFakeMachine::kPmBase + 0x6A; }

// The SMBus rule, from the bus's shared slaves: data goes to the amplifier
// (7-bit 25h) only; the general call and a DDR4 module's page and
// write-protect addresses (30h-37h) see no transaction at all.
bool SlaveAllowed(uint8_t slave, bool sendsData) {
  if (slave == 0 || (slave >= 0x30 && slave <= 0x37)) return false;
  return !sendsData || slave == 0x25;
}

// The host interface as the ICH's silicon sees the port writes: the slave
// address register (base + 4) keeps the last byte written to it, and a
// write of the host control register (base + 2) with START (40h) starts a
// transaction to that slave, reading when the address's bit 0 is set
// unless the protocol is a process call (10h, 1Ch), which writes first.
class THostModel {
 public:
  void Served(const TPortAccess& access, const TSMBusDecode& decode) {
    if (!access.Out) return;
    const uint32_t first = access.Port, last = first + access.Width - 1u;
    for (uint32_t port = first; port <= last; ++port) {
      const uint8_t byte = static_cast<uint8_t>(access.Value >> (8 * (port - first)));
      if (port == decode.Base + 4u) Latched[decode.Base] = byte;
      if (port == decode.Base + 2u) {
        Require(access.Width == 1);  // no write sets the address and starts at once
        if ((byte & 0x40) == 0) continue;
        const auto latched = Latched.find(decode.Base);
        const uint8_t address = latched == Latched.end() ? 0xFF : latched->second;
        const uint8_t protocol = byte & 0x1C;
        const bool sendsData = (address & 1) == 0 || protocol == 0x10 || protocol == 0x1C;
        Require(SlaveAllowed(address >> 1, sendsData));
      }
    }
  }

 private:
  std::map<uint16_t, uint8_t> Latched;
};

bool WritableConfig(uint32_t address) {
  const uint32_t smbus = 0x80000000u | uint32_t{kSMBusDevice} << 11 | uint32_t{kSMBusFunction} << 8;
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
  THostModel host;
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
    // Only the decoded window's ports and the TCO bytes are touched; the
    // decode is judged as it stands now (a port request changes no
    // configuration register).
    const TSMBusDecode decode = SMBusDecode();
    for (size_t i = portsBefore; i < gMachine.PortLog.size(); ++i) {
      const TPortAccess& access = gMachine.PortLog[i];
      if (TcoPort(access.Port)) {
        Require(access.Width == 1);
        Require(!access.Out || access.Value == 0x08 || access.Value == kFirmwareTcoByte);
        continue;
      }
      Require(decode.On && access.Port >= decode.Base && access.Port + access.Width <= decode.Base + 32u);
      host.Served(access, decode);
    }
    for (size_t i = configBefore; i < gMachine.ConfigLog.size(); ++i) {
      const TConfigCycle& cycle = gMachine.ConfigLog[i];
      Require(!cycle.Write || WritableConfig(cycle.Address));
      Require(cycle.DataPort - 0xCFCu + cycle.Width <= 4);
    }
    for (size_t i = mappedBefore; i < gMachine.MappedLog.size(); ++i) {
      const auto& access = gMachine.MappedLog[i];
      const uint64_t address = gMachine.PhysicalBase + access.Offset;
      for (const auto& [base, span] : gMachine.RamRanges) Require(address < base || address >= base + span);
      // This board's firmware leaves no tables: reads stay in the firmware
      // area or on the Function Disable dword the texts read and write.
      const bool functionDisable = address >= kRcba + 0x3418 && address + access.Width <= kRcba + 0x341C;
      Require(functionDisable || (!access.Write && address >= 0xE0000 && address + access.Width <= 0x100000));
    }
  }
  Require(gMachine.OpenMappings.empty() && gMachine.MappingMisuses == 0 && gMachine.OpenAllocations == 0);
  return 0;
}
