#include "app/system/stored_value.h"

#include <windows.h>

#include "app/system/win_owned.h"

namespace lirrin {

namespace {

constexpr const char* kKey = "Software\\Norvik\\Lirrin";
constexpr const char* kValue = "Value";

}  // namespace

std::optional<u32> LoadStoredValue() {
  HKEY opened;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) return std::nullopt;
  const TRegKey key(opened);
  DWORD type = 0, value = 0, size = sizeof value;
  const LONG result = RegQueryValueExA(key.get(), kValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
  return value;
}

TSaveResult SaveStoredValue(u32 value) {
  HKEY opened;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) {
    const LONG created = RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                         nullptr, &opened, nullptr);
    if (created != ERROR_SUCCESS) return {TSaveOutcome::NoKey, created};
  }
  const TRegKey key(opened);
  const DWORD data = value;
  const LONG written = RegSetValueExA(key.get(), kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  if (written != ERROR_SUCCESS) return {TSaveOutcome::NotWritten, written};
  return {TSaveOutcome::Saved, 0};
}

}  // namespace lirrin
