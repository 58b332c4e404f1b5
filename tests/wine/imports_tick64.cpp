// A program that imports GetTickCount64 on purpose and is built without the
// XP runtime shim: the import check must find that function in it.
#include <windows.h>

int main() { return GetTickCount64() == 0 ? 1 : 0; }
