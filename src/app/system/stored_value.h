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
enum class TSaveOutcome {
  Saved,
  NoKey,       // the key can be neither opened nor created: nothing was written
  NotWritten,  // the key is there, but the value could not be written
};
struct TSaveResult {
  TSaveOutcome Outcome;
  long Error;  // the system's error code; 0 when saved
};
TSaveResult SaveStoredValue(u32 value);

}  // namespace lirrin
