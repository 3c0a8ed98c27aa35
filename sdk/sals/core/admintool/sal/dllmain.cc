// The library's entry point. Only Windows calls one; elsewhere there is nothing to do at load.
#if defined(_WIN32)
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  // The library keeps no per-thread state: thread attach and detach need not reach it.
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
#endif
