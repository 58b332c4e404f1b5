#pragma once
// The user's amplifier setting in the registry: HKEY_CURRENT_USER
// "Software\Norvik\Lirrin", value "Value", a 4-byte REG_DWORD whose low 16
// bits are the amplifier word. The upper 16 bits are 0 in a value the
// program created and go back unchanged when it saves a value it loaded.

#include <optional>

#include "support/types.h"

namespace lirrin {

// The stored value; nothing when the key or the value is missing, or when
// the value is not a 4-byte REG_DWORD (another type or size counts as no
// value rather than as a misread word).
std::optional<u32> LoadStoredValue();
// False when the key can be neither opened nor created.
bool SaveStoredValue(u32 value);

}  // namespace lirrin
