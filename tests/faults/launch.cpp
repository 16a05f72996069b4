// tlfaults.exe PROGRAM [ARGUMENTS]: runs the program with the fault hook
// (tlfaults.dll, beside this file) loaded before its first instruction, and
// exits with the program's exit code once every process it started has
// ended too (removetl.exe's copy writes its call sites when it ends).
// 125: the program could not be started with the hook.
#include "inject.h"

#include <stdio.h>
#include <string.h>

// Waits (up to a minute) for the programs of the job, not the system's own:
// Wine starts its desktop (explorer.exe) for the first window, and it stays.
static void WaitForOthers(HANDLE job)
{
    char windows[MAX_PATH], image[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    for (int round = 0, ours = 1; ours > 0 && round < 3000; round++) {
        struct { JOBOBJECT_BASIC_PROCESS_ID_LIST list; ULONG_PTR more[63]; } ids;
        if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr))
            return;
        ours = 0;
        for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; i++) {
            HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                         (DWORD)ids.list.ProcessIdList[i]);
            DWORD size = MAX_PATH;
            ours += process != nullptr && QueryFullProcessImageNameA(process, 0, image, &size) &&
                    _strnicmp(image, windows, length) != 0;
            CloseHandle(process);
        }
        Sleep(ours > 0 ? 20 : 0);
    }
}

int main()
{
    char *line = GetCommandLineA(), dll[MAX_PATH];
    for (bool quoted = false; *line != '\0' && (quoted || *line > ' '); line++)
        quoted ^= *line == '"';
    while (*line == ' ' || *line == '\t')
        line++;
    DWORD length = GetModuleFileNameA(nullptr, dll, MAX_PATH);
    if (length < 4 || length >= MAX_PATH - 1)
        return 125;
    lstrcpyA(dll + length - 3, "dll");
    // The job holds the program and all it starts.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION started;
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &started)) {
        fprintf(stderr, "tlfaults: %s does not start (error %lu)\n", line, GetLastError());
        return 125;
    }
    if (!AssignProcessToJobObject(job, started.hProcess) ||
        !InjectHook(started.hProcess, started.hThread, dll)) {
        fprintf(stderr, "tlfaults: the hook cannot be loaded (error %lu)\n", GetLastError());
        TerminateProcess(started.hProcess, 125);
        return 125;
    }
    ResumeThread(started.hThread);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD code = 125;
    GetExitCodeProcess(started.hProcess, &code);
    WaitForOthers(job);
    return (int)code;
}
