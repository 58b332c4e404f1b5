// The driver transport's Windows calls: DeviceIoControl on the loader's
// device handle, the processor's port instructions for the 95/98/Me family,
// and the process affinity.
#include <windows.h>

#include <cstring>

#include "hw/driver_transport.h"

namespace lirrin {

namespace {

class TWin32DeviceCall final : public TDeviceCall {
 public:
  explicit TWin32DeviceCall(std::intptr_t device) : Device(reinterpret_cast<HANDLE>(device)) {}

  bool Control(u32 code, void* buffer, u32 size) override {
    if (Device == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    if (DeviceIoControl(Device, code, buffer, size, buffer, size, &returned, nullptr) != FALSE) return true;
    // The driver's refusals end as access denied; the device itself was
    // opened long before, so nothing else fails a request that way.
    if (GetLastError() == ERROR_ACCESS_DENIED) ReportRefusal(code, "the driver's policy (reason in its debug log)");
    return false;
  }

 private:
  HANDLE Device;  // the loader's; not owned
};

// The 95/98/Me family lets a program execute IN and OUT itself, and the
// legacy driver's windows are addresses of the shared arena that every
// process sees.
class TWin32DirectAccess final : public TDirectAccess {
 public:
  u32 In(u16 port, TAccessWidth width) override {
    u32 value = 0;
    if (width == 1) {
      u8 byte;
      asm volatile("inb %w1, %b0" : "=a"(byte) : "Nd"(port));
      value = byte;
    } else if (width == 2) {
      u16 word;
      asm volatile("inw %w1, %w0" : "=a"(word) : "Nd"(port));
      value = word;
    } else {
      asm volatile("inl %w1, %0" : "=a"(value) : "Nd"(port));
    }
    return value;
  }

  void Out(u16 port, TAccessWidth width, u32 value) override {
    if (width == 1) {
      asm volatile("outb %b0, %w1" : : "a"(static_cast<u8>(value)), "Nd"(port));
    } else if (width == 2) {
      asm volatile("outw %w0, %w1" : : "a"(static_cast<u16>(value)), "Nd"(port));
    } else {
      asm volatile("outl %0, %w1" : : "a"(value), "Nd"(port));
    }
  }

  void CopyFromWindow(u32 pointer, void* buffer, u32 length, u32 unit) override {
    const auto* window = reinterpret_cast<const volatile u8*>(static_cast<std::uintptr_t>(pointer));
    auto* out = static_cast<u8*>(buffer);
    const u32 step = StepOf(unit);
    for (u32 i = 0; i + step <= length; i += step) {
      u32 value = 0;
      if (step == 4) value = *reinterpret_cast<const volatile u32*>(window + i);
      if (step == 2) value = *reinterpret_cast<const volatile u16*>(window + i);
      if (step == 1) value = window[i];
      std::memcpy(out + i, &value, step);
    }
  }

  void CopyToWindow(u32 pointer, const void* buffer, u32 length, u32 unit) override {
    auto* window = reinterpret_cast<volatile u8*>(static_cast<std::uintptr_t>(pointer));
    const auto* in = static_cast<const u8*>(buffer);
    const u32 step = StepOf(unit);
    for (u32 i = 0; i + step <= length; i += step) {
      u32 value = 0;
      std::memcpy(&value, in + i, step);
      if (step == 4) *reinterpret_cast<volatile u32*>(window + i) = value;
      if (step == 2) *reinterpret_cast<volatile u16*>(window + i) = static_cast<u16>(value);
      if (step == 1) window[i] = static_cast<u8>(value);
    }
  }

 private:
  // Device memory is touched in accesses of the unit's width, lowest first.
  static u32 StepOf(u32 unit) { return unit == kMemUnitDword ? 4 : unit == kMemUnitWord ? 2 : 1; }
};

}  // namespace

std::unique_ptr<TDeviceCall> MakeWin32DeviceCall(std::intptr_t device) {
  return std::make_unique<TWin32DeviceCall>(device);
}

std::unique_ptr<TDirectAccess> MakeWin32DirectAccess() { return std::make_unique<TWin32DirectAccess>(); }

bool SetWin32ProcessAffinity(u64 mask) {
  return SetProcessAffinityMask(GetCurrentProcess(), static_cast<DWORD_PTR>(mask)) != FALSE;
}

}  // namespace lirrin
