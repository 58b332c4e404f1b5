#pragma once
// Windows only: text in the system's ANSI code page, for the 8-bit calls
// that every supported system has (module path, versions, registry).

#include <string>

namespace lirrin {

std::wstring FromAnsiCodePage(const char* text);
std::string ToAnsiCodePage(const std::wstring& text);

}  // namespace lirrin
