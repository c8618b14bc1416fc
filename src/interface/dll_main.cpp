// The DLL's entry point: the engine has no per-process or per-thread state
// to set up or tear down, so every notification simply succeeds.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
