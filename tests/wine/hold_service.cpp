// Test helper: plays a process that holds a handle to a service, as a
// management console or a monitoring tool may. A service deleted while a
// handle to it is open is only marked for deletion: it stays until the last
// handle closes, or until the next restart.
//
//   lirrin_hold_service NAME READY_FILE
//
// Opens the service NAME, creates READY_FILE, and holds the handle until it
// is killed.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return 3;
  const SC_HANDLE service = OpenServiceA(manager, argv[1], SERVICE_QUERY_STATUS);
  if (service == nullptr) return 4;
  const HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 5;
  CloseHandle(ready);
  Sleep(INFINITE);
  return 0;
}
