#include "app/stored_value.h"

#include <windows.h>

namespace lirrin {

namespace {

constexpr const char* kKey = "Software\\Norvik\\Lirrin";
constexpr const char* kValue = "Value";

}  // namespace

std::optional<u32> LoadStoredValue() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, value = 0, size = sizeof value;
  const LONG result = RegQueryValueExA(key, kValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
  return value;
}

bool SaveStoredValue(u32 value) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS &&
      RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD data = value;
  RegSetValueExA(key, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  RegCloseKey(key);
  return true;
}

}  // namespace lirrin
