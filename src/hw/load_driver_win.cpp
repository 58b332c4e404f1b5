// The loader's Windows calls: files, the service control manager and the
// device, all through the ANSI entry points that every supported system
// exports.
#include <windows.h>

#include "hw/load_driver.h"
#include "support/os_handle.h"
#include "support/os_version.h"

namespace lirrin {

namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

class TWin32DriverSystem final : public TDriverSystem {
 public:
  ~TWin32DriverSystem() override {
    CloseDriverService();
    CloseServiceManager();
  }

  std::string SystemDirectory() override {
    char path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    return length < MAX_PATH ? std::string(path, length) : std::string();
  }

  std::string WindowsDirectory() override {
    char path[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    return length < MAX_PATH ? std::string(path, length) : std::string();
  }

  bool FileNotFound(const std::string& path) override {
    const TOsHandle probe(
        CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return !probe.Valid() && GetLastError() == ERROR_FILE_NOT_FOUND;
  }

  bool WriteImageFile(const std::string& path, const unsigned char* bytes, u32 size) override {
    const TOsHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file.Valid() && ::WriteFile(file.Native(), bytes, size, &written, nullptr) && written == size;
  }

  std::intptr_t OpenDevice(const std::string& path) override {
    return FromHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  std::intptr_t OpenDynamicDriver(const std::string& path) override {
    return FromHandle(CreateFileA(path.c_str(), 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  }

  void CloseDevice(std::intptr_t device) override { CloseHandle(AsHandle(device)); }

  bool OpenServiceManager() override {
    CloseServiceManager();
    Manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    return Manager != nullptr;
  }

  bool CreateDriverService(const std::string& name, const std::string& imagePath, bool& exists) override {
    CloseDriverService();
    Service = CreateServiceA(Manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, imagePath.c_str(), nullptr, nullptr,
                             nullptr, nullptr, nullptr);
    exists = Service == nullptr && GetLastError() == ERROR_SERVICE_EXISTS;
    return Service != nullptr;
  }

  bool OpenDriverService(const std::string& name) override {
    CloseDriverService();
    Service = OpenServiceA(Manager, name.c_str(), SERVICE_ALL_ACCESS);
    return Service != nullptr;
  }

  u32 StartDriverService() override {
    if (StartServiceA(Service, 0, nullptr)) return 0;
    const DWORD error = GetLastError();
    return error == ERROR_SERVICE_ALREADY_RUNNING ? 0 : error;
  }

  void StopDriverService() override {
    SERVICE_STATUS status{};
    ControlService(Service, SERVICE_CONTROL_STOP, &status);
  }

  void DeleteDriverService() override { ::DeleteService(Service); }

  void CloseDriverService() override {
    if (Service != nullptr) CloseServiceHandle(Service);
    Service = nullptr;
  }

  void CloseServiceManager() override {
    if (Manager != nullptr) CloseServiceHandle(Manager);
    Manager = nullptr;
  }

 private:
  SC_HANDLE Manager = nullptr;
  SC_HANDLE Service = nullptr;
};

TLoadDriver* instance = nullptr;

}  // namespace

std::unique_ptr<TDriverSystem> MakeWin32DriverSystem() { return std::make_unique<TWin32DriverSystem>(); }

const TLoadDriver* CurrentDriverLoader() { return instance; }

TLoadDriver* TLoadDriver::Instance(bool overwriteImage, bool stopServiceOnExit, bool deleteServiceOnExit) {
  if (instance == nullptr) {
    const TOsVersion& os = *TOsVersion::Instance();
    const TLoaderPlatform platform{os.Family(0xFFFF), os.IsNative(), os.IsX64(), os.IsIA64(),
                                          ProgramIs64Bit()};
    instance = new TLoadDriver(MakeWin32DriverSystem(), platform,
                               {overwriteImage, stopServiceOnExit, deleteServiceOnExit});
    instance->Open(kDriverName, instance->Image().Bytes, instance->Image().Size);
  }
  return instance;
}

void TLoadDriver::FreeInstance() {
  delete instance;
  instance = nullptr;
}

}  // namespace lirrin
