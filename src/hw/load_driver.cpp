#include "hw/load_driver.h"

#include "support/message_box.h"
#include "support/text.h"

namespace lirrin {

const char16_t* const kDriverLoadFailedText =
    u"Driver cannot be loaded, re-install the program may fix the issue, if it happens again, report the "
    u"problem with your system configuration as detail as possible.";

std::string DriverStartFailureText(u32 error) {
  switch (error) {
    case 577:  // ERROR_INVALID_IMAGE_HASH
      return "Windows refused the driver's signature (error 577): 64-bit Windows loads a test-signed driver only in "
             "test-signing mode, which needs Secure Boot off; a driver signed through Microsoft loads without it";
    case 1275:  // ERROR_DRIVER_BLOCKED
      return "Windows blocked the driver by policy (error 1275): the vulnerable-driver blocklist or a code integrity "
             "policy; the Code Integrity event log names the rule";
    case 225:  // ERROR_VIRUS_INFECTED
      return "the antivirus blocked the driver file NvkDrv101.sys (error 225): restore it from quarantine and allow "
             "it, then start the program again";
    default:
      return "the driver's service did not start (error " + std::to_string(error) + ")";
  }
}

namespace {

// The classic path limit of the buffers the paths are built in.
constexpr std::size_t kPathBuffer = 260;

std::string Limited(std::string path) {
  if (path.size() >= kPathBuffer) path.resize(kPathBuffer - 1);
  return path;
}

}  // namespace

// The first condition that holds wins: the 95/98/Me family needs the legacy
// dynamic driver; a native process the driver of its own bitness; under
// WOW64 the 64-bit system's own driver, Itanium before x64.
TDriverImageKind SelectDriverImage(const TLoaderPlatform& platform) {
  if (platform.Family <= 16) return TDriverImageKind::Legacy;
  if (platform.Native) return platform.Program64 ? TDriverImageKind::X64 : TDriverImageKind::X86;
  if (platform.IA64) return TDriverImageKind::IA64;
  if (platform.X64) return TDriverImageKind::X64;
  return TDriverImageKind::None;
}

TDriverImageBytes DriverImageOf(TDriverImageKind kind) {
  switch (kind) {
    case TDriverImageKind::Legacy: return LegacyDriverImage();
    case TDriverImageKind::X86: return X86DriverImage();
    case TDriverImageKind::IA64: return IA64DriverImage();
    case TDriverImageKind::X64: return X64DriverImage();
    case TDriverImageKind::None: break;
  }
  return {nullptr, 0};
}

TLoadDriver::TLoadDriver(std::unique_ptr<TDriverSystem> system, const TLoaderPlatform& platform,
                         const TLoaderOptions& options)
    : System(std::move(system)),
      Platform(platform),
      DriverImage(DriverImageOf(SelectDriverImage(platform))),
      Options(options) {}

TLoadDriver::~TLoadDriver() {
  if (Device == kInvalidDevice) return;
  System->CloseDevice(Device);
  if (LegacyFamily() || Name.empty()) return;
  if (Options.StopServiceOnExit && System->OpenServiceManager()) {
    if (System->OpenDriverService(Name)) {
      System->StopDriverService();
      System->CloseDriverService();
    }
    System->CloseServiceManager();
  }
  if (Options.DeleteServiceOnExit && System->OpenServiceManager()) {
    if (System->OpenDriverService(Name)) {
      System->DeleteDriverService();
      System->CloseDriverService();
    }
    System->CloseServiceManager();
  }
}

// NT family: the system directory's Drivers folder (for a native 64-bit
// program that is the real System32\Drivers), except under WOW64,
// where the system directory a 32-bit process sees is SysWOW64 and the
// image must go to the real SysWOW64\Drivers folder so that the service's
// path names the file that was written. The 95/98/Me family keeps dynamic
// drivers in the system directory and opens them by their full path.
TDriverPaths TLoadDriver::Paths(const std::string& name) const {
  TDriverPaths paths;
  if (LegacyFamily()) {
    paths.Directory = Limited(System->SystemDirectory());
    paths.ImageFile = Limited(paths.Directory + "\\" + name + ".vxd");
    paths.Device = Limited("\\\\.\\" + paths.ImageFile);
    return paths;
  }
  paths.Directory = Platform.Native ? Limited(System->SystemDirectory())
                                    : Limited(System->WindowsDirectory() + "\\SysWOW64");
  paths.ImageFile = Limited(paths.Directory + "\\Drivers\\" + name + ".sys");
  paths.Device = Limited("\\\\.\\" + name);
  return paths;
}

// An existing file is never compared with the image: a stale image of
// another version stays and is used, unless overwriting was asked for.
bool TLoadDriver::PlaceImage(const TDriverPaths& paths, const unsigned char* image, u32 size) {
  const bool present = image != nullptr && size != 0;
  if (!present) return true;
  if (!Options.OverwriteImage && !System->FileNotFound(paths.ImageFile)) return true;
  return System->WriteImageFile(paths.ImageFile, image, size);
}

std::intptr_t TLoadDriver::Open(const std::string& name, const unsigned char* image, u32 size) {
  Name = name;
  Device = kInvalidDevice;
  if (Platform.Family < 16) return Device;
  const TDriverPaths paths = Paths(name);
  if (!PlaceImage(paths, image, size)) return Device;
  Device = LegacyFamily() ? System->OpenDynamicDriver(paths.Device) : OpenThroughService(name, paths);
  if (Device == kInvalidDevice) {
    TText text = kDriverLoadFailedText;
    if (ServiceStartError != 0) text += u"\n\n" + Widen(DriverStartFailureText(ServiceStartError) + ".");
    ShowErrorBox({text, u"Norvik Lirrin"});
  }
  return Device;
}

// A device that opens at once belongs to a driver a previous run left
// loaded; its service is still asked to start, which a running service
// simply refuses. A service that exists already (an earlier run, or another
// program under the same name) is used as it is: its path is not changed.
std::intptr_t TLoadDriver::OpenThroughService(const std::string& name, const TDriverPaths& paths) {
  const std::intptr_t first = System->OpenDevice(paths.Device);
  bool haveService = false;
  if (first == kInvalidDevice) {
    if (System->OpenServiceManager()) {
      bool exists = false;
      haveService = System->CreateDriverService(name, paths.ImageFile, exists) || (exists && System->OpenDriverService(name));
    }
  } else {
    System->CloseDevice(first);
    haveService = System->OpenServiceManager() && System->OpenDriverService(name);
  }
  if (!haveService) {
    System->CloseServiceManager();
    // The device did open a moment ago: the driver is loaded, only its
    // service cannot be reached, so the device is opened again.
    return first == kInvalidDevice ? kInvalidDevice : System->OpenDevice(paths.Device);
  }
  ServiceStartError = System->StartDriverService();
  System->CloseDriverService();
  System->CloseServiceManager();
  return System->OpenDevice(paths.Device);
}

}  // namespace lirrin
