// The Run value through the ANSI registry calls, which the 95/98/Me family
// also has.
#include <windows.h>

#include "app/system/adv_reg.h"
#include "app/system/win_owned.h"
#include "support/ansi_code_page.h"
#include "support/module_info.h"

namespace lirrin {

std::wstring RunValueData(const std::wstring& path) {
  return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
}

void TAdvReg::AddRunValue(const std::wstring& name) { WriteRunValue(name, ModulePath(), true); }

void TAdvReg::RemoveRunValue(const std::wstring& name) { WriteRunValue(name, std::wstring(), false); }

void TAdvReg::WriteRunValue(const std::wstring& name, const std::wstring& data, bool add) {
  HKEY opened = nullptr;
  const std::string valueName = ToAnsiCodePage(name);
  if (add) {
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr) !=
        ERROR_SUCCESS) {
      return;
    }
    const TRegKey key(opened);
    const std::string value = ToAnsiCodePage(RunValueData(data));
    RegSetValueExA(key.get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  } else {
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) return;
    const TRegKey key(opened);
    RegDeleteValueA(key.get(), valueName.c_str());
  }
}

}  // namespace lirrin
