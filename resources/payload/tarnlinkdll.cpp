// The product library: the suite's shared services.
#include <windows.h>

extern "C" __declspec(dllexport) const char *WINAPI TarnlinkVersion(void)
{
    return "Tarnlink Suite 2.1";
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
