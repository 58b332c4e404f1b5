#pragma once
// The logon start of the oldest systems: a value under the user's Run key.
// A short-lived helper, created for one call and freed after it; results
// are not reported.

#include <string>

namespace lirrin {

class TAdvReg {
 public:
  // The value `name` with the program's full path as its data.
  void AddRunValue(const std::wstring& name);
  void RemoveRunValue(const std::wstring& name);
  // Add: opens the Run key (creating it when missing) and writes `data` as
  // a string value, enclosed in quotation marks when it contains a blank.
  // Remove: opens the key without creating it and deletes the value.
  void WriteRunValue(const std::wstring& name, const std::wstring& data, bool add);
};

// HKEY_CURRENT_USER's key of programs started at logon.
constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The Run value's data for a program path: quoted when it has a blank.
std::wstring RunValueData(const std::wstring& path);

}  // namespace lirrin
