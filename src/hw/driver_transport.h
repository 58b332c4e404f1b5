#pragma once
// The transport of the Windows programs: the requests of the program's own
// kernel I/O driver ("\\.\NvkDrv101") on the NT family, and on the
// 95/98/Me family the program's own port instructions with physical memory
// reached through 256-byte windows that the legacy driver maps.
//
// Every request is one synchronous device-control call in which one buffer
// serves as input and output with the same length. The buffers live in the
// object and are reused by every request of their kind: a write fills only
// the bytes of its width, and a port or configuration read whose request
// failed gives whatever the buffer held (the I/O layer does not examine
// those outcomes).

#include <array>
#include <cstdint>
#include <memory>

#include "hw/transport.h"

namespace lirrin {

// Request codes: device type 22h, any access, buffered, function A00h + n;
// code = 222800h + 4 * n.
enum : u32 {
  kIoctlReadMemory = 0x222808,
  kIoctlWriteMemory = 0x22280C,
  kIoctlReadPort8 = 0x222810,
  kIoctlWritePort8 = 0x222814,
  kIoctlReadPort16 = 0x222818,
  kIoctlWritePort16 = 0x22281C,
  kIoctlReadPort32 = 0x222820,
  kIoctlWritePort32 = 0x222824,
  kIoctlReadConfig8 = 0x222830,
  kIoctlWriteConfig8 = 0x222834,
  kIoctlReadConfig16 = 0x222838,
  kIoctlWriteConfig16 = 0x22283C,
  kIoctlReadConfig32 = 0x222840,
  kIoctlWriteConfig32 = 0x222844,
  kIoctlReadMsr = 0x222848,
  kIoctlWriteMsr = 0x22284C,
  kIoctlReadTsc = 0x222864,
  kIoctlReadPmc = 0x222868,
  kIoctlReadCr = 0x22286C,
  kIoctlWriteCr = 0x222870,
  // The legacy driver's memory windows.
  kIoctlMapWindow = 0x222800,
  kIoctlUnmapWindow = 0x222804,
};

// Request buffer sizes.
enum : u32 {
  kPortRequestSize = 8,     // u32 port, u32 value
  kConfigRequestSize = 12,  // u8 bus, device, function, unused; u16 offset, unused; u32 value
  kRegisterRequestSize = 16,  // CpuRegisters: Eax, Ebx, Ecx, Edx
  kCounterRequestSize = 8,  // u64
  kIndexedRequestSize = 16,  // u32 index, u32 unused, u64 value
  kMemoryRequestSize = 24,  // u64 address, u32 length, u32 unit, u64 buffer address
  kWindowRequestSize = 4,   // u32 physical address in, u32 pointer out (legacy)
};

// Size of one memory window of the legacy driver.
constexpr u32 kMemoryWindow = 256;

// The one platform call of the driver: a device-control request on the
// open device.
class TDeviceCall {
 public:
  virtual ~TDeviceCall() = default;
  virtual bool Control(u32 code, void* buffer, u32 size) = 0;
};

// The program's own hardware access on the 95/98/Me family, where user code
// may execute port instructions, and copies through a window that the legacy
// driver mapped (a 32-bit pointer into the system's shared arena).
class TDirectAccess {
 public:
  virtual ~TDirectAccess() = default;
  virtual u32 In(u16 port, TAccessWidth width) = 0;
  virtual void Out(u16 port, TAccessWidth width, u32 value) = 0;
  virtual void CopyFromWindow(u32 pointer, void* buffer, u32 length, u32 unit) = 0;
  virtual void CopyToWindow(u32 pointer, const void* buffer, u32 length, u32 unit) = 0;
};

class TDriverTransport : public TTransport {
 public:
  // `family` is the OS family word (mask 0xFFFF): 16 selects direct mode,
  // anything above driver mode; on an unclassified system every request
  // fails. `direct` is needed only for direct mode.
  TDriverTransport(std::unique_ptr<TDeviceCall> device, std::unique_ptr<TDirectAccess> direct, u32 family,
                   u32 processorCount);

  bool DirectMode() const { return Mode == TMode::Direct; }

  bool ReadPort(u16 port, TAccessWidth width, u32& value) override;
  bool WritePort(u16 port, TAccessWidth width, u32 value) override;
  bool ReadPciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32& value) override;
  bool WritePciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value) override;
  bool ReadMemory(u64 address, void* buffer, u32 length, u32 unit) override;
  bool WriteMemory(u64 address, const void* buffer, u32 length, u32 unit) override;
  bool ReadMsr(u32 index, u64& value) override;
  bool WriteMsr(u32 index, u64 value) override;
  bool ReadCr(u32 index, u64& value) override;
  bool WriteCr(u32 index, u64 value) override;
  bool ReadTsc(u64& value) override;
  bool ReadPmc(u32 counter, u64& value) override;
  u32 ProcessorCount() override { return Processors; }
  // The affinity is the platform's (the Windows transport overrides this).
  bool SetAffinity(u64) override { return false; }

 private:
  enum class TMode { None, Direct, Driver };

  bool Control(u32 code, void* buffer, u32 size);
  bool SendMemoryRequest(u32 code, u64 address, const void* buffer, u32 length, u32 unit);
  bool WindowCopy(u64 address, void* readInto, const void* writeFrom, u32 length, u32 unit);
  bool SendIndexedRequest(u32 code, u32 index, u64& value);

  std::unique_ptr<TDeviceCall> Device;
  std::unique_ptr<TDirectAccess> Direct;
  TMode Mode;
  u32 Processors;
  // Scratch of direct configuration access.
  u32 LegacyConfigAddressValue = 0;
  u16 LegacyDataPort = 0;
  // The request buffers, reused by every request of their kind.
  std::array<u8, kPortRequestSize> PortRequest{};
  std::array<u8, kConfigRequestSize> ConfigRequest{};
  std::array<u8, kRegisterRequestSize> RegisterRequest{};
  std::array<u8, kCounterRequestSize> CounterRequest{};
  std::array<u8, kIndexedRequestSize> IndexedRequest{};
  std::array<u8, kMemoryRequestSize> MemoryRequest{};
  std::array<u8, kWindowRequestSize> WindowRequest{};
};

}  // namespace lirrin

namespace lirrin {

// The Windows calls (driver_transport_win.cpp): DeviceIoControl on a device
// handle that stays the caller's, the processor's own port instructions,
// and the process affinity.
std::unique_ptr<TDeviceCall> MakeWin32DeviceCall(std::intptr_t device);
std::unique_ptr<TDirectAccess> MakeWin32DirectAccess();
bool SetWin32ProcessAffinity(u64 mask);

}  // namespace lirrin
