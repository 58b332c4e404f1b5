// The Windows programs reach the hardware through their own kernel driver:
// the loader installs and opens it when the I/O layer is created, and is
// freed with the layer (the service and the image file stay installed).
#include "hw/driver_transport.h"
#include "hw/load_driver.h"
#include "hw/read_write.h"
#include "support/os_version.h"

namespace lirrin {

namespace {

class TPlatformDriverTransport final : public TDriverTransport {
 public:
  // The private OS version object decides the access mode and the
  // processor count once.
  explicit TPlatformDriverTransport(const TOsVersion& os)
      : TDriverTransport(MakeWin32DeviceCall(TLoadDriver::Instance(false, false, false)->Handle()),
                         MakeWin32DirectAccess(), os.Family(0xFFFF), os.ProcessorCount()) {}

  ~TPlatformDriverTransport() override { TLoadDriver::FreeInstance(); }

  bool SetAffinity(u64 mask) override { return SetWin32ProcessAffinity(mask); }
};

}  // namespace

std::shared_ptr<TTransport> MakePlatformTransport() {
  const TOsVersion os;
  return std::make_shared<TPlatformDriverTransport>(os);
}

}  // namespace lirrin
