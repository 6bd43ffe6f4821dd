// Entry point of ucap.dll, exported with the other functions. Loading and unloading do
// no work of their own: the library starts in UcapInit and stops in UcapClose.
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

extern "C" __declspec(dllexport) BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

#endif  // _WIN32
