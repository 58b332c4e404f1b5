#pragma once
// The primitive requests that the I/O layer sends to the machine. One call is
// one request (one driver I/O control on Windows). Each transport is one way
// of reaching a machine: the kernel driver, Linux's own device files, or the
// simulated board.

#include <cstddef>

#include "support/types.h"

namespace lirrin {

// Width of a port or configuration access in bytes: 1, 2 or 4.
using TAccessWidth = unsigned;

constexpr bool AccessWidthValid(TAccessWidth width) { return width == 1 || width == 2 || width == 4; }

// Unit code of a memory request: accesses of 1, 2 or 4 bytes.
enum : u32 {
  kMemUnitByte = 0,
  kMemUnitWord = 1,
  kMemUnitDword = 2,
};

class TTransport {
 public:
  virtual ~TTransport() = default;

  // Port I/O. A failed read leaves `value` untouched.
  virtual bool ReadPort(u16 port, TAccessWidth width, u32& value) = 0;
  virtual bool WritePort(u16 port, TAccessWidth width, u32 value) = 0;

  // Configuration mechanism #1: the transport forms the address written to
  // 0CF8h (register bits 8..11 in address bits 24..27) and accesses the data
  // port 0CFCh + (offset & 3).
  virtual bool ReadPciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32& value) = 0;
  virtual bool WritePciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value) = 0;

  // Physical memory in accesses of the unit's width, lowest address first.
  // A range that cannot be mapped fails the whole request and copies nothing.
  virtual bool ReadMemory(u64 address, void* buffer, u32 length, u32 unit) = 0;
  virtual bool WriteMemory(u64 address, const void* buffer, u32 length, u32 unit) = 0;

  virtual bool ReadMsr(u32 index, u64& value) = 0;
  virtual bool WriteMsr(u32 index, u64 value) = 0;
  // Control registers: 0, 2, 3, 4, 8 readable; 0, 3, 4, 8 writable.
  virtual bool ReadCr(u32 index, u64& value) = 0;
  virtual bool WriteCr(u32 index, u64 value) = 0;
  virtual bool ReadTsc(u64& value) = 0;
  virtual bool ReadPmc(u32 counter, u64& value) = 0;

  // The processors the system reports, and the process's affinity.
  virtual u32 ProcessorCount() = 0;
  virtual bool SetAffinity(u64 mask) = 0;
};

// The transport of a machine that cannot be reached (no driver open): every
// request fails.
class TUnavailableTransport final : public TTransport {
 public:
  bool ReadPort(u16, TAccessWidth, u32&) override { return false; }
  bool WritePort(u16, TAccessWidth, u32) override { return false; }
  bool ReadPciConfig(u8, u8, u8, u16, TAccessWidth, u32&) override { return false; }
  bool WritePciConfig(u8, u8, u8, u16, TAccessWidth, u32) override { return false; }
  bool ReadMemory(u64, void*, u32, u32) override { return false; }
  bool WriteMemory(u64, const void*, u32, u32) override { return false; }
  bool ReadMsr(u32, u64&) override { return false; }
  bool WriteMsr(u32, u64) override { return false; }
  bool ReadCr(u32, u64&) override { return false; }
  bool WriteCr(u32, u64) override { return false; }
  bool ReadTsc(u64&) override { return false; }
  bool ReadPmc(u32, u64&) override { return false; }
  u32 ProcessorCount() override { return 1; }
  bool SetAffinity(u64) override { return false; }
};

// The legacy configuration address of mechanism #1 for one access.
constexpr u32 LegacyConfigAddress(u8 bus, u8 device, u8 function, u16 offset) {
  return 0x80000000u | (static_cast<u32>((offset >> 8) & 0x0F) << 24) | (static_cast<u32>(bus) << 16) |
         (static_cast<u32>(device & 0x1F) << 11) | (static_cast<u32>(function & 0x07) << 8) | (offset & 0xFCu);
}

constexpr u16 kConfigAddressPort = 0x0CF8;
constexpr u16 kConfigDataPort = 0x0CFC;

}  // namespace lirrin
