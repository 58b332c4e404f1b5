// The platform's own transport. The Windows program will reach the hardware
// through its kernel driver and the command-line tool chooses its transport
// explicitly; until a driver is connected, every request fails the way it does
// when the driver cannot be opened.
#include "hw/read_write.h"

namespace lirrin {

std::shared_ptr<TTransport> MakePlatformTransport() { return std::make_shared<TUnavailableTransport>(); }

}  // namespace lirrin
