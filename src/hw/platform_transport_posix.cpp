// Outside Windows the program has no kernel driver of its own: the
// command-line tool chooses the Linux transport or a simulated board
// explicitly, and anything else finds every request failing the way it does
// when no driver is open.
#include "hw/read_write.h"

namespace lirrin {

std::shared_ptr<TTransport> MakePlatformTransport() { return std::make_shared<TUnavailableTransport>(); }

}  // namespace lirrin
