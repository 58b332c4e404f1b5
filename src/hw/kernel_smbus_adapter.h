#pragma once
// SMBus words through the kernel's own SMBus driver. While a kernel driver
// (i2c-i801, i2c-piix4, ...) owns the chipset's SMBus controller, a second
// master driving the same registers corrupts its transactions. The driver
// offers the bus as an I2C adapter instead: a child i2c-N of the controller's
// PCI function in sysfs, and, with the i2c-dev module, the device /dev/i2c-N,
// on which the I2C_SMBUS request runs one word transfer serialised with the
// kernel's own users of the bus. No port access or root is needed, only
// permission on the device.

#include <optional>
#include <string>
#include <vector>

#include "hw/linux_hardware_transport.h"
#include "support/os_handle.h"

namespace lirrin {

// The SMBus controller a kernel driver owns.
struct TKernelSMBusOwner {
  std::string Driver;    // the driver of the adapters' parent: "i801_smbus", "isch_smbus"
  std::string Function;  // "0000:00:1f.3"
  // Where the adapters are, under the function's sysfs directory: the
  // function itself (empty), or the platform device its driver made for the
  // SMBus host ("isch_smbus.1": lpc_sch on SCH boards).
  std::string Host;

  std::string Text() const { return Driver + " at " + Function; }
};

// The first SMBus controller (an SMBus-class function, or an ISA bridge that
// carries an I2C adapter itself or through a platform device of its
// driver's) that a kernel driver owns, in the order of the PCI functions'
// names; nothing when the kernel drives none.
std::optional<TKernelSMBusOwner> KernelOwnedSMBusController(const TLinuxDevices& devices = {});

// An I2C adapter as `i2cdetect -l` lists it.
struct TKernelAdapterEntry {
  std::string Name;   // "i2c-0"
  std::string Title;  // "SMBus I801 adapter at 0580"
};
// Every adapter the kernel shows, by number.
std::vector<TKernelAdapterEntry> KernelI2cAdapters(const TLinuxDevices& devices = {});

// The kernel drivers bound to clients on `adapter` ("i2c-0") at the 7-bit
// addresses [first, last], as "0x50 at24"; a client without a driver is
// named "(no driver)".
std::vector<std::string> KernelI2cClients(const std::string& adapter, u8 first, u8 last,
                                          const TLinuxDevices& devices = {});

// One line for a failed I2C_SMBUS word transfer from its errno, in the words
// the raw engine uses where they mean the same ("no acknowledge").
std::string TransferFailureText(int error);

class TKernelSMBusAdapter {
 public:
  // Finds the owner's adapter, opens its device and checks that it offers
  // word transfers. A controller with several ports (SB800 and later: one
  // adapter per port, "SMBus PIIX4 adapter port 2 at 0b00") is reached at
  // port 0, where the board's devices sit, whatever number the kernel gave
  // it; otherwise the lowest-numbered adapter is the controller's own (a
  // mux's come after it). False and a one-line Problem() saying what is
  // missing and what to do.
  bool Open(const TKernelSMBusOwner& owner, const TLinuxDevices& devices = {});

  // `address` is the 8-bit slave address, as for the engine; the kernel
  // takes the 7-bit one. False and a one-line Problem(); a transaction the
  // bus rule forbids (smbus_rule.h) is refused before the device is used.
  bool ReadWord(u8 address, u8 command, u16& word);
  bool WriteWord(u8 address, u8 command, u16 word);

  const std::string& Problem() const { return ProblemText; }
  // "i2c-0" once found.
  const std::string& AdapterName() const { return Adapter; }
  // What the driver calls it: "SMBus I801 adapter at 0580".
  const std::string& AdapterTitle() const { return Title; }

 private:
  bool Allowed(u8 address, bool writesData);
  bool SelectSlave(u8 address);
  bool Transfer(u8 readWrite, u8 command, u16& word);

  TOsHandle Device;
  std::string Adapter;
  std::string Title;
  std::string AdapterDirectory;  // sysfs, for the driver of a claimed address
  std::string ProblemText;
};

}  // namespace lirrin
