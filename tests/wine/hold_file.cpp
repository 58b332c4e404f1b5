// Test helper: plays a process the installer cannot see that keeps a file
// open, as a copy of the program in another session or started under
// another name keeps its own program file.
//
//   lirrin_hold_file PATH READY_FILE
//
// Opens PATH for reading and lets others only read it (no writing, no
// deleting), creates READY_FILE, and holds PATH until it is killed.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 3;
  const HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 4;
  CloseHandle(ready);
  Sleep(INFINITE);
  return 0;
}
