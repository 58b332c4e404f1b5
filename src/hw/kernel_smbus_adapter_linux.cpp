#include "hw/kernel_smbus_adapter.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "smbus_rule.h"

namespace lirrin {

namespace {

std::vector<std::string> DirectoryEntries(const std::string& directory) {
  std::vector<std::string> names;
  DIR* entries = opendir(directory.c_str());
  if (entries == nullptr) return names;
  while (const dirent* entry = readdir(entries)) names.emplace_back(entry->d_name);
  closedir(entries);
  std::sort(names.begin(), names.end());
  return names;
}

// The number of an adapter entry "i2c-N"; -1 for any other name.
int AdapterNumber(const std::string& name) {
  if (!name.starts_with("i2c-") || name.size() == 4) return -1;
  const std::string digits = name.substr(4);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6) return -1;
  return std::atoi(digits.c_str());
}

bool HoldsAnAdapter(const std::vector<std::string>& entries) {
  return std::any_of(entries.begin(), entries.end(), [](const std::string& entry) { return AdapterNumber(entry) >= 0; });
}

// The last component of the symbolic link `path` points to ("driver" links
// name the driver so); empty when it is no link.
std::string LinkTargetName(const std::string& path) {
  char target[256];
  const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
  if (length <= 0) return {};
  const std::string text(target, static_cast<std::size_t>(length));
  return text.substr(text.rfind('/') + 1);
}

bool Exists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

// The group named `gid` in the group file; empty when it is not listed.
std::string GroupName(const std::string& groupFile, gid_t gid) {
  std::ifstream file(groupFile);
  for (std::string line; std::getline(file, line);) {
    std::istringstream fields(line);
    std::string name, password, id;
    if (std::getline(fields, name, ':') && std::getline(fields, password, ':') && std::getline(fields, id, ':') &&
        id == std::to_string(gid)) {
      return name;
    }
  }
  return {};
}

// What lets a user open `node`: the device's own group when it has one
// other than root's, or else a udev rule that gives the adapters one.
std::string PermissionText(const std::string& node, const TLinuxDevices& devices) {
  std::string text = "no permission to open " + node + ": run as root";
  struct stat status {};
  const std::string group = stat(node.c_str(), &status) == 0 ? GroupName(devices.GroupFile, status.st_gid) : "";
  if (!group.empty() && group != "root" && (status.st_mode & S_IRGRP) && (status.st_mode & S_IWGRP)) {
    return text + ", or add the user to the group '" + group + "' that owns it (usermod -aG " + group +
           " USER, then log in again)";
  }
  // The rule needs a group that exists.
  const bool i2cGroup = [&] {
    std::ifstream file(devices.GroupFile);
    for (std::string line; std::getline(file, line);) {
      if (line.starts_with("i2c:")) return true;
    }
    return false;
  }();
  return text + ", or give the adapters a group with a udev rule (KERNEL==\"i2c-[0-9]*\", GROUP=\"i2c\", "
                "MODE=\"0660\") and add the user to that group" +
         (i2cGroup ? "" : " (create it first: groupadd --system i2c)");
}

}  // namespace

std::optional<TKernelSMBusOwner> KernelOwnedSMBusController(const TLinuxDevices& devices) {
  for (const std::string& name : PciFunctionNames(devices.PciDirectory)) {
    const std::string directory = devices.PciDirectory + "/" + name;
    const std::string driver = LinkTargetName(directory + "/driver");
    if (driver.empty()) continue;
    const u32 classCode = static_cast<u32>(std::strtoul(FirstLineOf(directory + "/class").c_str(), nullptr, 16));
    if ((classCode >> 8) == 0x0C05) return TKernelSMBusOwner{driver, name, ""};
    if ((classCode >> 8) != 0x0601) continue;
    // Bridges whose SMBus host lives in the bridge (PIIX4 style): the
    // driver's adapter is a child of the function. On SCH boards the
    // bridge's driver makes a platform device for the host, whose own
    // driver's adapter is that device's child. Links (driver, subsystem,
    // firmware_node) lead elsewhere in sysfs and are not followed.
    const std::vector<std::string> children = DirectoryEntries(directory);
    if (HoldsAnAdapter(children)) return TKernelSMBusOwner{driver, name, ""};
    for (const std::string& child : children) {
      const std::string host = directory + "/" + child;
      struct stat status {};
      if (child.front() == '.' || lstat(host.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) continue;
      const std::string hostDriver = LinkTargetName(host + "/driver");
      if (!hostDriver.empty() && HoldsAnAdapter(DirectoryEntries(host))) return TKernelSMBusOwner{hostDriver, name, child};
    }
  }
  return std::nullopt;
}

std::vector<TKernelAdapterEntry> KernelI2cAdapters(const TLinuxDevices& devices) {
  std::vector<std::pair<int, TKernelAdapterEntry>> numbered;
  for (const std::string& entry : DirectoryEntries(devices.I2cDirectory)) {
    const int number = AdapterNumber(entry);
    if (number >= 0) numbered.push_back({number, {entry, FirstLineOf(devices.I2cDirectory + "/" + entry + "/name")}});
  }
  std::sort(numbered.begin(), numbered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TKernelAdapterEntry> adapters;
  for (auto& [number, adapter] : numbered) adapters.push_back(std::move(adapter));
  return adapters;
}

// Clients are named "N-00AA" after their adapter's number and address.
std::vector<std::string> KernelI2cClients(const std::string& adapter, u8 first, u8 last,
                                          const TLinuxDevices& devices) {
  std::vector<std::string> clients;
  const std::string prefix = adapter.substr(4) + "-00";
  for (const std::string& entry : DirectoryEntries(devices.I2cDirectory)) {
    if (!entry.starts_with(prefix) || entry.size() != prefix.size() + 2) continue;
    const auto address = static_cast<u8>(std::strtoul(entry.substr(prefix.size()).c_str(), nullptr, 16));
    if (address < first || address > last) continue;
    const std::string driver = LinkTargetName(devices.I2cDirectory + "/" + entry + "/driver");
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x ", address);
    clients.push_back(text + (driver.empty() ? std::string("(no driver)") : driver));
  }
  return clients;
}

// The kernel's SMBus drivers report a transfer's outcome through these codes
// (the I2C core's fault-code conventions).
std::string TransferFailureText(int error) {
  switch (error) {
    case ENXIO:      // SMBus adapters: the address was not acknowledged
    case EREMOTEIO:  // I2C adapters: the same
      return "no acknowledge";
    case ETIMEDOUT:
      return "the controller never finished";
    case EAGAIN:
      return "lost arbitration to another bus master";
    case EBUSY:
      return "the bus stayed busy";
    case EPROTO:
      return "the slave's answer broke the SMBus protocol";
    case EBADMSG:
      return "the packet error check failed";
    case EOPNOTSUPP:
      return "the adapter does not offer this transfer";
    default:
      return std::string("the transfer failed: ") + std::strerror(error);
  }
}

bool TKernelSMBusAdapter::Open(const TKernelSMBusOwner& owner, const TLinuxDevices& devices) {
  const std::string host = devices.PciDirectory + "/" + owner.Function + (owner.Host.empty() ? "" : "/" + owner.Host);
  int chosen = -1;
  bool chosenIsPortZero = false;
  for (const std::string& child : DirectoryEntries(host)) {
    const int number = AdapterNumber(child);
    if (number < 0) continue;
    std::string name = FirstLineOf(host + "/" + child + "/name");
    const bool portZero = name.find(" port 0 ") != std::string::npos;
    if (chosen < 0 || (portZero && !chosenIsPortZero) || (portZero == chosenIsPortZero && number < chosen)) {
      chosen = number;
      chosenIsPortZero = portZero;
      Title = std::move(name);
    }
  }
  if (chosen < 0) {
    ProblemText = "the kernel driver " + owner.Text() + " shows no I2C adapter in sysfs";
    return false;
  }
  Adapter = "i2c-" + std::to_string(chosen);
  AdapterDirectory = host + "/" + Adapter;
  const std::string node = devices.DeviceDirectory + "/" + Adapter;
  Device = TOsHandle(open(node.c_str(), O_RDWR | O_CLOEXEC));
  if (!Device.Valid()) {
    const int error = errno;
    if (error == EACCES || error == EPERM) {
      ProblemText = PermissionText(node, devices);
    } else if (!Exists(AdapterDirectory + "/i2c-dev")) {
      // i2c-dev gives each adapter a child of its class; without the module
      // there is no device to open.
      ProblemText = "the kernel module i2c-dev is not loaded: load it (modprobe i2c-dev) to reach " + Adapter +
                    " of " + owner.Driver;
    } else if (error == ENOENT) {
      ProblemText = node + " does not exist although i2c-dev is loaded (no devtmpfs or udev on /dev)";
    } else {
      ProblemText = "cannot open " + node + ": " + std::strerror(error);
    }
    return false;
  }
  unsigned long functions = 0;
  constexpr unsigned long kWordTransfers = I2C_FUNC_SMBUS_READ_WORD_DATA | I2C_FUNC_SMBUS_WRITE_WORD_DATA;
  if (ioctl(Device.Native(), I2C_FUNCS, &functions) != 0) {
    ProblemText = "cannot ask " + Adapter + " of " + owner.Driver + " for its transfers: " + std::strerror(errno);
  } else if ((functions & kWordTransfers) != kWordTransfers) {
    ProblemText = "the adapter " + Adapter + " of " + owner.Driver + " offers no SMBus word transfers";
  } else {
    return true;
  }
  Device = TOsHandle();
  return false;
}

// I2C_SLAVE refuses an address that a kernel driver has claimed: that
// driver expects to be the device's only user.
bool TKernelSMBusAdapter::SelectSlave(u8 address) {
  const unsigned slave = address >> 1;
  if (ioctl(Device.Native(), I2C_SLAVE, slave) == 0) return true;
  if (errno == EBUSY) {
    char client[8], where[40];
    std::snprintf(client, sizeof client, "-%04x", slave);
    std::snprintf(where, sizeof where, "address 0x%02X on ", slave);
    const std::string driver = LinkTargetName(AdapterDirectory + "/" + Adapter.substr(4) + client + "/driver");
    ProblemText = where + Adapter + " is claimed by the kernel driver " + (driver.empty() ? "of a device" : driver);
  } else {
    ProblemText = std::string("cannot address the slave: ") + std::strerror(errno);
  }
  return false;
}

bool TKernelSMBusAdapter::Transfer(u8 readWrite, u8 command, u16& word) {
  i2c_smbus_data data{};
  data.word = word;
  i2c_smbus_ioctl_data request{readWrite, command, I2C_SMBUS_WORD_DATA, &data};
  if (ioctl(Device.Native(), I2C_SMBUS, &request) != 0) {
    ProblemText = TransferFailureText(errno);
    return false;
  }
  word = data.word;
  return true;
}

// The kernel's driver serves any address its users name, so the bus rule
// is held here, before the slave is even selected.
bool TKernelSMBusAdapter::Allowed(u8 address, bool writesData) {
  if (SMBusTransactionAllowed(address >> 1, writesData)) return true;
  ProblemText = "refused: " NVK_SMBUS_RULE_TEXT;
  return false;
}

bool TKernelSMBusAdapter::ReadWord(u8 address, u8 command, u16& word) {
  return Allowed(address, false) && SelectSlave(address) && Transfer(I2C_SMBUS_READ, command, word);
}

bool TKernelSMBusAdapter::WriteWord(u8 address, u8 command, u16 word) {
  return Allowed(address, true) && SelectSlave(address) && Transfer(I2C_SMBUS_WRITE, command, word);
}

}  // namespace lirrin
