// The product library: the suite's shared services.
#include <windows.h>

#include "../version.h"

extern "C" __declspec(dllexport) const char *WINAPI TarnlinkVersion(void)
{
    return VERSION_PRODUCT " " VERSION_TEXT;
}

// The library's entry, under the name the linker looks for in a DLL: it needs
// none of the C runtime's start-up.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
