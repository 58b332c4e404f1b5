#include "platform/acpi_base.h"

namespace lirrin {

// There is no registry here, and so no copy of the root table in it.
bool TAcpiBase::ReadRegistryRootTable(std::vector<u8>&) { return false; }

}  // namespace lirrin
