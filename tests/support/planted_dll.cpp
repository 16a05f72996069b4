// A DLL as someone may plant it beside a downloaded setup.exe under a system
// DLL's name (lz32.dll): when it is loaded it leaves "planted-ran" beside
// itself. It exports the LZ functions, so that a program that imports them
// would load it and start.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
        while (length > 0 && path[length - 1] != '\\')
            length--;
        lstrcpynA(path + length, "planted-ran", MAX_PATH - length);
        HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        CloseHandle(marker);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) INT WINAPI LZOpenFileA(LPSTR, LPOFSTRUCT, WORD) { return -1; }
extern "C" __declspec(dllexport) INT WINAPI LZInit(INT) { return -1; }
extern "C" __declspec(dllexport) LONG WINAPI LZCopy(INT, INT) { return -1; }
extern "C" __declspec(dllexport) void WINAPI LZClose(INT) {}
