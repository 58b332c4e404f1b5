// The debug console on Windows: a console window allocated for the process.
#include <windows.h>

#include "support/debug_console.h"

namespace lirrin {

namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

void TDebugConsole::OpenOutput() {
  AllocConsole();
  OutputHandle = reinterpret_cast<std::intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE));
  if (OutputHandle == 0) OutputHandle = kInvalidHandle;
}

void TDebugConsole::CloseOutput() {
  FreeConsole();
  CloseHandle(AsHandle(OutputHandle));
}

void TDebugConsole::WriteNarrow(std::string_view text) {
  DWORD written = 0;
  WriteConsoleA(AsHandle(OutputHandle), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void TDebugConsole::WriteWide(std::u16string_view text) {
  DWORD written = 0;
  WriteConsoleW(AsHandle(OutputHandle), reinterpret_cast<const wchar_t*>(text.data()),
                static_cast<DWORD>(text.size()), &written, nullptr);
}

bool TDebugConsole::QueryAttribute(u16& attribute) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(AsHandle(OutputHandle), &info)) return false;
  attribute = info.wAttributes;
  return true;
}

void TDebugConsole::ApplyAttribute(u16 attribute) {
  Attribute = attribute;
  SetConsoleTextAttribute(AsHandle(OutputHandle), attribute);
}

std::u16string TDebugConsole::LastErrorText() {
  const DWORD code = GetLastError();
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer),
                     0, nullptr);
  std::u16string text;
  if (length != 0 && buffer != nullptr) text.assign(reinterpret_cast<const char16_t*>(buffer), length);
  if (buffer != nullptr) LocalFree(buffer);
  return text;
}

}  // namespace lirrin
