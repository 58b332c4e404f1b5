#pragma once
// TLoadDriver makes the kernel I/O driver available and hands its device
// handle to the I/O layer: on first use it writes the right embedded image
// to disk when no file is there, registers it as a kernel-driver service,
// starts the service and opens the device. On the 95/98/Me family it loads
// the legacy driver as a dynamic driver for the lifetime of one handle.
// When nothing works it tells the user once and the program goes on without
// hardware access (every driver request then fails).
//
// The system calls go through TDriverSystem, so that the same steps run
// against the real service manager and against a recording model.

#include <cstdint>
#include <memory>
#include <string>

#include "hw/driver_images.h"
#include "support/types.h"

namespace lirrin {

// Service, display, image file and device name of the driver.
constexpr const char* kDriverName = "NvkDrv101";

// The system's invalid handle value, as a device handle.
constexpr std::intptr_t kInvalidDevice = -1;

// Which of the four images the running system needs.
enum class TDriverImageKind { None, Legacy, X86, IA64, X64 };

// What the loader needs to know about the running system and program.
struct TLoaderPlatform {
  u32 Family = 0;     // TOsVersion::Family(0xFFFF)
  bool Native = true; // false under WOW64
  bool X64 = false;
  bool IA64 = false;
  bool Program64 = false; // this program is a 64-bit build
};

// The one place where the two builds of a program differ for the loader: a
// 64-bit build runs natively on x64 Windows and needs the x64 image in the
// real system folder; a 32-bit build runs natively only on 32-bit Windows
// and under WOW64 on x64 Windows.
constexpr bool ProgramIs64Bit() { return sizeof(void*) == 8; }

TDriverImageKind SelectDriverImage(const TLoaderPlatform& platform);
TDriverImageBytes DriverImageOf(TDriverImageKind kind);

// Where the image goes and how the device is opened.
struct TDriverPaths {
  std::string Directory;
  std::string ImageFile;
  std::string Device;
};

// The system calls of the loader, one method per call (ANSI names, as the
// 95/98/Me family offers only those). Service-manager and service handles
// are held by the implementation between the calls.
class TDriverSystem {
 public:
  virtual ~TDriverSystem() = default;
  virtual std::string SystemDirectory() = 0;
  virtual std::string WindowsDirectory() = 0;
  // Opens the file for reading, unshared, open-existing, and closes it
  // again; true when that failed with ERROR_FILE_NOT_FOUND.
  virtual bool FileNotFound(const std::string& path) = 0;
  // Create-always, one write of all bytes; true when exactly `size` bytes
  // were written.
  virtual bool WriteImageFile(const std::string& path, const unsigned char* bytes, u32 size) = 0;
  // Read and write access and sharing, open-existing.
  virtual std::intptr_t OpenDevice(const std::string& path) = 0;
  // No access, no sharing, FILE_FLAG_DELETE_ON_CLOSE: the 95/98/Me family
  // loads the dynamic driver for this handle.
  virtual std::intptr_t OpenDynamicDriver(const std::string& path) = 0;
  virtual void CloseDevice(std::intptr_t device) = 0;
  virtual bool OpenServiceManager() = 0;
  // A demand-start kernel-driver service; false with `exists` set when the
  // name is taken (ERROR_SERVICE_EXISTS).
  virtual bool CreateDriverService(const std::string& name, const std::string& imagePath, bool& exists) = 0;
  virtual bool OpenDriverService(const std::string& name) = 0;
  // The system's error when the service did not start; 0 when it started
  // or was running already.
  virtual u32 StartDriverService() = 0;
  virtual void StopDriverService() = 0;
  virtual void DeleteDriverService() = 0;
  virtual void CloseDriverService() = 0;
  virtual void CloseServiceManager() = 0;
};

// The Windows calls (load_driver_win.cpp).
std::unique_ptr<TDriverSystem> MakeWin32DriverSystem();

struct TLoaderOptions {
  bool OverwriteImage = false;      // write the image even when a file exists
  bool StopServiceOnExit = false;   // stop the service when the loader goes
  bool DeleteServiceOnExit = false; // delete it then
};

class TLoadDriver {
 public:
  // The process-wide loader, created (and Open run with the driver's name and
  // the system's image) on first use; later calls ignore their arguments.
  static TLoadDriver* Instance(bool overwriteImage, bool stopServiceOnExit, bool deleteServiceOnExit);
  static void FreeInstance();

  TLoadDriver(std::unique_ptr<TDriverSystem> system, const TLoaderPlatform& platform, const TLoaderOptions& options);
  ~TLoadDriver();
  TLoadDriver(const TLoadDriver&) = delete;
  TLoadDriver& operator=(const TLoadDriver&) = delete;

  // Installs, starts and opens the driver `name` from `image` (size bytes;
  // nullptr/0 when the program carries no image for this system). Returns
  // the device handle, also kept for Handle(); kInvalidDevice on failure.
  std::intptr_t Open(const std::string& name, const unsigned char* image, u32 size);
  std::intptr_t Handle() const { return Device; }
  // Why the driver's service did not start in Open (the system's error);
  // 0 when it started, ran already, or was never asked to.
  u32 StartError() const { return ServiceStartError; }

  TDriverPaths Paths(const std::string& name) const;
  const TDriverImageBytes& Image() const { return DriverImage; }

 private:
  bool LegacyFamily() const { return Platform.Family == kFamilyLegacyValue; }
  bool PlaceImage(const TDriverPaths& paths, const unsigned char* image, u32 size);
  std::intptr_t OpenThroughService(const std::string& name, const TDriverPaths& paths);

  static constexpr u32 kFamilyLegacyValue = 16;

  std::unique_ptr<TDriverSystem> System;
  TLoaderPlatform Platform;
  std::intptr_t Device = kInvalidDevice;
  TDriverImageBytes DriverImage{nullptr, 0};
  TLoaderOptions Options;
  std::string Name;
  u32 ServiceStartError = 0;
};

// The text of the one message the loader shows.
extern const char16_t* const kDriverLoadFailedText;

// One line on why a driver service did not start, from the system's error:
// the signature check, a blocking policy and an antivirus each say so and
// what can be done; other errors by their number. The tray program's
// message and lirrin-cli's doctor say the same.
std::string DriverStartFailureText(u32 error);

#ifdef _WIN32
// The process's loader when one was made, else nullptr.
const TLoadDriver* CurrentDriverLoader();
#endif

}  // namespace lirrin
