// Test helper: stands in for a system tool (schtasks.exe) in a test prefix
// and appends the command line it was started with to the file named by
// LIRRIN_RECORD_FILE, one line per run, so that a test can see what the
// installer asked of the tool. Exits 0, as the tool does on success.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main() {
  const char* record = std::getenv("LIRRIN_RECORD_FILE");
  if (record == nullptr) return 1;
  FILE* file = std::fopen(record, "a");
  if (file == nullptr) return 1;
  std::fprintf(file, "%s\n", GetCommandLineA());
  std::fclose(file);
  return 0;
}
