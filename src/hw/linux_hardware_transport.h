#pragma once
// The hardware of the machine the program runs on, reached through Linux's
// own interfaces instead of a driver of ours: port instructions after iopl(3),
// physical memory through /dev/mem, MSRs through the msr driver's device files
// (/dev/cpu/N/msr, module "msr"). Needs root.

#include <memory>
#include <string>

#include "hw/transport.h"
#include "support/os_handle.h"

namespace lirrin {

// Where the kernel's device files are. Tests point them at files of their own.
struct TLinuxDevices {
  std::string Memory = "/dev/mem";
  std::string CpuDirectory = "/dev/cpu";
};

class TLinuxHardwareTransport final : public TTransport {
 public:
  // Takes over `memory`, an open read-write descriptor of the physical
  // memory device. Port requests need the I/O privilege the factory below
  // acquires for the process.
  TLinuxHardwareTransport(TOsHandle memory, std::string cpuDirectory);

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
  u32 ProcessorCount() override;
  bool SetAffinity(u64 mask) override;

 private:
  std::string MsrDevice() const;

  TOsHandle Memory;
  std::string CpuDirectory;
};

// Opens the machine's hardware, or returns nullptr and sets `reason` to one
// line saying why it cannot be reached (not root, no physical memory device,
// port access refused).
std::shared_ptr<TTransport> OpenLinuxHardwareTransport(std::string& reason, const TLinuxDevices& devices = {});

}  // namespace lirrin
