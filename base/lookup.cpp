#include "lookup.h"

// The system's own modules, always loaded in a Win32 process (Windows 95
// has no NTDLL, and GetModuleHandle then says so).
static const char *const lateModules[] = {"KERNEL32", "USER32", "NTDLL"};
// In the order of LateFunction, each with its module.
static const char *const lateNames[] = {"SetDefaultDllDirectories", "SetDllDirectoryA",
                                        "GetProcessId",             "NtSetInformationFile",
                                        "GetThreadDesktop",         "SetThreadDesktop"};
static const unsigned char lateModule[] = {0, 0, 0, 2, 1, 1};

FARPROC LookUpFunction(LateFunction function)
{
    HMODULE module = GetModuleHandleA(lateModules[lateModule[function]]);
    return module != nullptr ? GetProcAddress(module, lateNames[function]) : nullptr;
}
