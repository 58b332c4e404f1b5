#pragma once
// The transport of the Windows programs: the requests of the program's own
// kernel I/O driver ("\\.\NvkDrv101") on the NT family, and on the
// 95/98/Me family the program's own port instructions with physical memory
// reached through 256-byte windows that the legacy driver maps.
//
// Every request is one synchronous device-control call in which one buffer
// serves as input and output with the same length. The buffers live in the
// object and are reused by every request of their kind: a write fills only
// the bytes of its width, and since a failed request leaves its buffer as
// it was (request.h), a port or configuration read whose request failed
// gives whatever the buffer held (the I/O layer does not examine those
// outcomes).

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "hw/transport.h"
#include "request.h"

namespace lirrin {

// The legacy driver's memory windows (95/98/Me family). The NT driver's
// codes, buffer sizes and layouts are the driver's own contract, request.h.
enum : u32 {
  kIoctlMapWindow = 0x222800,
  kIoctlUnmapWindow = 0x222804,
  kWindowRequestSize = 4,  // u32 physical address in, u32 pointer out
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

// The driver refused a request under its policy (policy.h): whoever
// SetRefusalReporter named hears the request code and, where the program
// can know it, the reason. Process-wide; an empty reporter ignores them.
using TRefusalReporter = std::function<void(u32 code, std::string_view reason)>;
void SetRefusalReporter(TRefusalReporter reporter);
void ReportRefusal(u32 code, std::string_view reason);

// The Windows calls (driver_transport_win.cpp): DeviceIoControl on a device
// handle that stays the caller's, the processor's own port instructions,
// and the process affinity.
std::unique_ptr<TDeviceCall> MakeWin32DeviceCall(std::intptr_t device);
std::unique_ptr<TDirectAccess> MakeWin32DirectAccess();
bool SetWin32ProcessAffinity(u64 mask);

}  // namespace lirrin
