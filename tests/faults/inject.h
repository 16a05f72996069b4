// Loads the fault hook into a process created suspended, before its first
// instruction: a call of LoadLibraryA queued (QueueUserAPC) on its main
// thread, which the loader makes once the program's imports are bound and
// before its entry. Both this and a remote thread (CreateRemoteThread of
// LoadLibraryA) load it in time under Wine 8, for i686 and x86_64 alike; the
// thread also needs a wait before the program may run, and the queued call
// needs nothing more. The record of call sites shows that the hook was in.
#ifndef TARNLINK_FAULTS_INJECT_H
#define TARNLINK_FAULTS_INJECT_H

#include <windows.h>

inline bool InjectHook(HANDLE process, HANDLE thread, const char *dll)
{
    SIZE_T size = (SIZE_T)lstrlenA(dll) + 1;
    void *remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    // KERNEL32 lies at the same address in every process of the session.
    return remote != nullptr && WriteProcessMemory(process, remote, dll, size, nullptr) &&
           QueueUserAPC((PAPCFUNC)(void *)LoadLibraryA, thread, (ULONG_PTR)remote);
}

#endif
