#pragma once
// TInitializer: the start-up step between the main window and the hardware.
// It runs the platform check once per process; on one of the board maker's
// boards it makes sure the I/O layer and the SMBus engine exist (the engine
// detects the SMBus controller as it is built), on any other machine it shows
// the error box, once, and creates nothing further.

#include "platform/platform_check.h"

namespace lirrin {

// The error box's text for a machine that is not one of the maker's boards.
inline constexpr const char16_t* kNotForThisPlatform = u"This utility is not for this platform!";

class TInitializer {
 public:
  static TInitializer* Instance();
  // Releases, in this order, the platform identification object, the SMBus
  // engine and the I/O layer.
  static void FreeInstance();

  TInitializer();
  virtual ~TInitializer();
  TInitializer(const TInitializer&) = delete;
  TInitializer& operator=(const TInitializer&) = delete;

  // The board passed the check and the hardware singletons exist.
  bool Supported() const { return IsSupported; }

 private:
  TNvkSpec* Platform;
  bool IsSupported = false;
};

}  // namespace lirrin
