#pragma once
// The Windows driver's own request handling (driver/request.c with its
// policy) run in this process over another transport: the program's
// requests are encoded as the driver transport sends them, decoded and
// checked as the driver does, and what the driver would allow reaches the
// machine behind. It shows on any board, simulated or real, what the
// driver serves and what it refuses; a refused request fails here as it
// does on Windows, and goes to the refusal reporter with the driver's
// reason (driver_transport.h).
//
// The driver's side is plain C with one machine per process, so one model
// transport at a time.

#include <memory>
#include <utility>
#include <vector>

#include "hw/transport.h"

namespace lirrin {

struct TDriverModelOptions {
  // The RAM the operating system manages, as (base, size): the driver
  // refuses to read or write it. Empty: the system cannot say, and all
  // memory is refused, as the driver does then.
  std::vector<std::pair<u64, u64>> SystemRam;
};

std::shared_ptr<TTransport> MakeDriverModelTransport(std::shared_ptr<TTransport> machine,
                                                     TDriverModelOptions options);

}  // namespace lirrin
