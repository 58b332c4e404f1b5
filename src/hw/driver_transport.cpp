#include "hw/driver_transport.h"

#include <algorithm>
#include <cstring>

namespace lirrin {

namespace {

constexpr u32 kFamilyLegacy = 16;

u32 WidthMask(TAccessWidth width) {
  return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
}

void PutU16(u8* at, u16 value) { std::memcpy(at, &value, sizeof value); }
void PutU32(u8* at, u32 value) { std::memcpy(at, &value, sizeof value); }
void PutU64(u8* at, u64 value) { std::memcpy(at, &value, sizeof value); }
u32 GetU32(const u8* at) {
  u32 value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
u64 GetU64(const u8* at) {
  u64 value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Only the bytes of the access width go into the value field; the others
// keep what the previous request left there.
void PutValue(u8* field, TAccessWidth width, u32 value) { std::memcpy(field, &value, width); }
u32 GetValue(const u8* field, TAccessWidth width) { return GetU32(field) & WidthMask(width); }

u32 PortCode(bool write, TAccessWidth width) {
  if (width == 1) return write ? kWritePort8 : kReadPort8;
  if (width == 2) return write ? kWritePort16 : kReadPort16;
  return write ? kWritePort32 : kReadPort32;
}

u32 ConfigCode(bool write, TAccessWidth width) {
  if (width == 1) return write ? kWriteConfig8 : kReadConfig8;
  if (width == 2) return write ? kWriteConfig16 : kReadConfig16;
  return write ? kWriteConfig32 : kReadConfig32;
}

TRefusalReporter& RefusalReporter() {
  static TRefusalReporter reporter;
  return reporter;
}

}  // namespace

void SetRefusalReporter(TRefusalReporter reporter) { RefusalReporter() = std::move(reporter); }

void ReportRefusal(u32 code, std::string_view reason) {
  if (RefusalReporter()) RefusalReporter()(code, reason);
}

TDriverTransport::TDriverTransport(std::unique_ptr<TDeviceCall> device, std::unique_ptr<TDirectAccess> direct,
                                   u32 family, u32 processorCount)
    : Device(std::move(device)),
      Direct(std::move(direct)),
      Mode(family == kFamilyLegacy && Direct ? TMode::Direct
           : family > kFamilyLegacy          ? TMode::Driver
                                             : TMode::None),
      Processors(processorCount) {}

bool TDriverTransport::Control(u32 code, void* buffer, u32 size) {
  return Mode != TMode::None && Device && Device->Control(code, buffer, size);
}

bool TDriverTransport::ReadPort(u16 port, TAccessWidth width, u32& value) {
  if (Mode == TMode::Direct) {
    value = Direct->In(port, width) & WidthMask(width);
    return true;
  }
  if (Mode == TMode::None) return false;
  PutU32(PortRequest.data() + kPortNumberField, port);
  const bool ok = Control(PortCode(false, width), PortRequest.data(), kPortRequestSize);
  value = GetValue(PortRequest.data() + kPortValueField, width);
  return ok;
}

bool TDriverTransport::WritePort(u16 port, TAccessWidth width, u32 value) {
  if (Mode == TMode::Direct) {
    Direct->Out(port, width, value & WidthMask(width));
    return true;
  }
  PutU32(PortRequest.data() + kPortNumberField, port);
  PutValue(PortRequest.data() + kPortValueField, width, value);
  return Control(PortCode(true, width), PortRequest.data(), kPortRequestSize);
}

bool TDriverTransport::ReadPciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32& value) {
  if (Mode == TMode::Direct) {
    LegacyConfigAddressValue = LegacyConfigAddress(bus, device, function, offset);
    LegacyDataPort = static_cast<u16>(kConfigDataPort + (offset & 3));
    Direct->Out(kConfigAddressPort, 4, LegacyConfigAddressValue);
    value = Direct->In(LegacyDataPort, width) & WidthMask(width);
    return true;
  }
  if (Mode == TMode::None) return false;
  ConfigRequest[kConfigBusField] = bus;
  ConfigRequest[kConfigDeviceField] = device;
  ConfigRequest[kConfigFunctionField] = function;
  PutU16(ConfigRequest.data() + kConfigOffsetField, offset);
  const bool ok = Control(ConfigCode(false, width), ConfigRequest.data(), kConfigRequestSize);
  value = GetValue(ConfigRequest.data() + kConfigValueField, width);
  return ok;
}

bool TDriverTransport::WritePciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value) {
  if (Mode == TMode::Direct) {
    LegacyConfigAddressValue = LegacyConfigAddress(bus, device, function, offset);
    LegacyDataPort = static_cast<u16>(kConfigDataPort + (offset & 3));
    Direct->Out(kConfigAddressPort, 4, LegacyConfigAddressValue);
    Direct->Out(LegacyDataPort, width, value & WidthMask(width));
    return true;
  }
  ConfigRequest[kConfigBusField] = bus;
  ConfigRequest[kConfigDeviceField] = device;
  ConfigRequest[kConfigFunctionField] = function;
  PutU16(ConfigRequest.data() + kConfigOffsetField, offset);
  PutValue(ConfigRequest.data() + kConfigValueField, width, value);
  return Control(ConfigCode(true, width), ConfigRequest.data(), kConfigRequestSize);
}

// The driver copies between the physical range and the program's buffer
// itself, in the calling thread's context; the data do not travel in the
// request. A 32-bit program's pointer fills the low half of the address.
bool TDriverTransport::SendMemoryRequest(u32 code, u64 address, const void* buffer, u32 length, u32 unit) {
  PutU64(MemoryRequest.data() + kMemoryAddressField, address);
  PutU32(MemoryRequest.data() + kMemoryLengthField, length);
  PutU32(MemoryRequest.data() + kMemoryUnitField, unit);
  PutU64(MemoryRequest.data() + kMemoryDataField, static_cast<u64>(reinterpret_cast<std::uintptr_t>(buffer)));
  return Control(code, MemoryRequest.data(), kMemoryRequestSize);
}

// One 256-byte window at a time: map, copy what falls inside it, unmap.
bool TDriverTransport::WindowCopy(u64 address, void* readInto, const void* writeFrom, u32 length, u32 unit) {
  u32 done = 0;
  while (done < length) {
    const u64 at = address + done;
    const u32 offset = static_cast<u32>(at & (kMemoryWindow - 1));
    PutU32(WindowRequest.data(), static_cast<u32>(at - offset));
    if (!Control(kIoctlMapWindow, WindowRequest.data(), kWindowRequestSize)) return false;
    const u32 pointer = GetU32(WindowRequest.data());
    if (pointer == 0) return false;
    const u32 chunk = std::min(kMemoryWindow - offset, length - done);
    if (readInto != nullptr) {
      Direct->CopyFromWindow(pointer + offset, static_cast<u8*>(readInto) + done, chunk, unit);
    } else {
      Direct->CopyToWindow(pointer + offset, static_cast<const u8*>(writeFrom) + done, chunk, unit);
    }
    PutU32(WindowRequest.data(), pointer);
    Control(kIoctlUnmapWindow, WindowRequest.data(), kWindowRequestSize);
    done += chunk;
  }
  return true;
}

bool TDriverTransport::ReadMemory(u64 address, void* buffer, u32 length, u32 unit) {
  if (Mode == TMode::Direct) return WindowCopy(address, buffer, nullptr, length, unit);
  return SendMemoryRequest(kReadMemory, address, buffer, length, unit);
}

bool TDriverTransport::WriteMemory(u64 address, const void* buffer, u32 length, u32 unit) {
  if (Mode == TMode::Direct) return WindowCopy(address, nullptr, buffer, length, unit);
  return SendMemoryRequest(kWriteMemory, address, buffer, length, unit);
}

bool TDriverTransport::ReadMsr(u32 index, u64& value) {
  PutU32(RegisterRequest.data() + kRegisterEcxField, index);
  if (!Control(kReadMsr, RegisterRequest.data(), kRegisterRequestSize)) return false;
  value = (static_cast<u64>(GetU32(RegisterRequest.data() + kRegisterEdxField)) << 32) | GetU32(RegisterRequest.data() + kRegisterEaxField);
  return true;
}

bool TDriverTransport::WriteMsr(u32 index, u64 value) {
  PutU32(RegisterRequest.data() + kRegisterEcxField, index);
  PutU32(RegisterRequest.data() + kRegisterEaxField, static_cast<u32>(value));
  PutU32(RegisterRequest.data() + kRegisterEdxField, static_cast<u32>(value >> 32));
  return Control(kWriteMsr, RegisterRequest.data(), kRegisterRequestSize);
}

bool TDriverTransport::SendIndexedRequest(u32 code, u32 index, u64& value) {
  PutU32(IndexedRequest.data() + kIndexField, index);
  if (!Control(code, IndexedRequest.data(), kIndexedRequestSize)) return false;
  value = GetU64(IndexedRequest.data() + kIndexedValueField);
  return true;
}

bool TDriverTransport::ReadCr(u32 index, u64& value) { return SendIndexedRequest(kReadCr, index, value); }

bool TDriverTransport::WriteCr(u32 index, u64 value) {
  PutU32(IndexedRequest.data() + kIndexField, index);
  PutU64(IndexedRequest.data() + kIndexedValueField, value);
  return Control(kWriteCr, IndexedRequest.data(), kIndexedRequestSize);
}

bool TDriverTransport::ReadTsc(u64& value) {
  if (!Control(kReadTsc, CounterRequest.data(), kCounterRequestSize)) return false;
  value = GetU64(CounterRequest.data() + kCounterValueField);
  return true;
}

bool TDriverTransport::ReadPmc(u32 counter, u64& value) { return SendIndexedRequest(kReadPmc, counter, value); }

}  // namespace lirrin
