// The platform's own transport: the one the I/O layer connects outside any
// board context. This build connects no kernel driver, so every request fails
// the way it does when the driver cannot be opened; the command-line tool
// chooses its transport explicitly.
#include "hw/read_write.h"

namespace lirrin {

std::shared_ptr<TTransport> MakePlatformTransport() { return std::make_shared<TUnavailableTransport>(); }

}  // namespace lirrin
