// The one table of the functions that some systems the program runs on
// lack, looked up when they are needed.
#ifndef TARNLINK_LOOKUP_H
#define TARNLINK_LOOKUP_H

#include <windows.h>

// Null where the system has none; each function's fallback, as its callers
// take it, is named beside it.
enum LateFunction {
    LATE_SET_DEFAULT_DLL_DIRECTORIES,   // Windows 8, 7 updated: else SetDllDirectoryA
    LATE_SET_DLL_DIRECTORY,             // XP SP1: else the search stays as the system has it
    LATE_GET_PROCESS_ID,                // XP SP1: else a copy's -w is judged by its state alone
    LATE_NT_SET_INFORMATION_FILE,       // NT only: else deleted by name (Windows 95)
    LATE_GET_THREAD_DESKTOP,            // NT only: else the worker keeps the desktop it has
    LATE_SET_THREAD_DESKTOP,            // NT only: as above
};
typedef BOOL(WINAPI *SetDefaultDllDirectoriesProc)(DWORD);
typedef BOOL(WINAPI *SetDllDirectoryProc)(LPCSTR);
typedef DWORD(WINAPI *GetProcessIdProc)(HANDLE);
struct IoStatusBlock {
    void *status;
    ULONG_PTR information;
};
typedef LONG(WINAPI *NtSetInformationFileProc)(HANDLE, IoStatusBlock *, void *, ULONG, int);
typedef HDESK(WINAPI *GetThreadDesktopProc)(DWORD);
typedef BOOL(WINAPI *SetThreadDesktopProc)(HDESK);
FARPROC LookUpFunction(LateFunction function);

#endif
