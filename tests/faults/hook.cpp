// tlfaults.dll, the fault hook of the tests (never part of the product).
// tlfaults.exe (launch.cpp) loads it into setup.exe or removetl.exe before the
// program's first instruction. It stands between the program and every function
// the program imports from KERNEL32, USER32, GDI32 and ADVAPI32 or looks up with
// GetProcAddress: it counts each call by its call site, fails the calls it is
// told to, and answers as an older Windows would.
//
//   TL_FAULTS          items separated by ',': [DEPTH:]FUNCTION[@N|@+0xRVA][=ERROR]
//                      fails the Nth call of FUNCTION (default the first), or the
//                      first call from the call site RVA (as the record shows it),
//                      once, with the function's own failure value (`failures`);
//                      ERROR (decimal or 0x) is the last error it leaves, or the
//                      value returned where that is the error (Reg*, DdeInitializeA,
//                      LZ32). DEPTH: only in the program started (1) or a program
//                      it started (2: removetl.exe's copy).
//   TL_FAULTS_PROFILE  win95, nt351 or win7rtm: that system's version and what it
//                      lacks (`lacking`). Any other value ends the program (125).
//   TL_FAULTS_SITES    a file; each process appends a line per call site as it ends,
//                      tab-separated: PROGRAM DEPTH FUNCTION MODULE+0xRVA CALLS FAILED
//                      (FAILED "-" for a function never failed)
//   TL_FAULTS_DEPTH    set by the hook for the programs it starts.
// Never failed: functions that cannot fail or have no result (`neverFailed`),
// and cdecl ones such as wsprintfA (stdcall.h lists stdcall functions only).
#include "inject.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const struct { const char *name; int bytes; } stdcalls[] = {
#include "stdcall.h"
};
// Message handling is here too: its results are not failures, and skipping
// the call would only stop the program (a message never dispatched).
static const char neverFailed[] = "|CharNextA|DdeGetLastError|DefWindowProcA|DispatchMessageA|"
    "EndDialog|EndPaint|ExitProcess|GetCommandLineA|GetCurrentProcess|GetCurrentProcessId|"
    "GetCurrentThreadId|GetLastError|GetLocalTime|GetStartupInfoA|GetTickCount|GetVersion|"
    "IsDialogMessageA|LZClose|PostQuitMessage|SetLastError|TranslateMessage|lstrcmpiA|lstrlenA|";
// Failure values other than 0 (FALSE, NULL) and default errors other than 5
// (access denied). The functions that return their error, as Reg* do, give
// DMLERR_SYS_ERROR, LZERROR_GLOBALLOC and LZERROR_WRITE.
static const char returnsError[] = "|DdeInitializeA|LZInit|LZCopy|";
static const struct { const char *name; INT_PTR value; long error; } failures[] = {
    {"CreateFileA", -1, 5}, {"FindFirstFileA", -1, 2}, {"GetFileAttributesA", -1, 2},
    {"SetFilePointer", -1, ERROR_NEGATIVE_SEEK}, {"DialogBoxParamA", -1, 8}, {"GetMessageA", -1, 6},
    {"WaitForSingleObject", -1, 6}, {"MsgWaitForMultipleObjects", -1, 6}, {"WriteFile", 0, 112},
    {"LoadLibraryA", 0, 126}, {"GetProcAddress", 0, 127}, {"CreateThread", 0, 8},
    {"CreateWindowExA", 0, 8}, {"CreateDialogParamA", 0, 8}, {"DdeInitializeA", 0, 0x400F},
    {"LZInit", 0, -5}, {"LZCopy", 0, -4}};

// The profiles' systems, and what each lacks of what the programs use.
enum { PRESENT, ABSENT /* GetProcAddress finds none */, STUB /* fails with 120 */ };
static const struct { const char *name; DWORD major, minor, build, platform; } systems[] = {
    {"win95", 4, 0, 0x040003B6, VER_PLATFORM_WIN32_WINDOWS},
    {"nt351", 3, 51, 1057, VER_PLATFORM_WIN32_NT}, {"win7rtm", 6, 1, 7600, VER_PLATFORM_WIN32_NT}};
static const struct { const char *name; unsigned char in[3]; } lacking[] = {
    {"SetDefaultDllDirectories", {ABSENT, ABSENT, ABSENT}},  // KB2533623 (2011) brought it
    {"SetDllDirectoryA", {ABSENT, ABSENT, PRESENT}},         // XP SP1
    {"GetProcessId", {ABSENT, ABSENT, PRESENT}},             // XP SP1
    {"NtSetInformationFile", {ABSENT, PRESENT, PRESENT}},    // 95 has no NTDLL (ModuleHandle)
    {"SetThreadDesktop", {STUB, PRESENT, PRESENT}},          // desktops are NT's
    {"MoveFileExA", {STUB, PRESENT, PRESENT}}};              // 95 has WININIT.INI instead
// RegDeleteKeyA deletes a whole tree on 95 (DeleteKey). The programs import no
// security or window-station function; 95's GetThreadDesktop answers (always
// the same value) and is left as it is.

struct Entry { char name[48]; void *original, *replacement; int bytes; LONG calls; };
struct Site { int entry; HMODULE module; DWORD rva; LONG calls, failed; };
struct Fault { char name[48]; int depth, nth; DWORD rva; long error; bool hasError, done; };
struct Outcome { INT_PTR value; int bytes; };
static Entry entries[1024];
static Site sites[4096];
static Fault faults[32];
static int entryCount, siteCount, faultCount, depth = 1, profile = -1;
static unsigned char *thunks;
static CRITICAL_SECTION lock;
static char sitesPath[MAX_PATH], hookPath[MAX_PATH];

static bool Listed(const char *list, const char *name)
{
    char bar[52];
    snprintf(bar, sizeof bar, "|%.48s|", name);
    return strstr(list, bar) != nullptr;
}

static int Lack(const char *name)
{
    for (const auto &l : lacking)
        if (profile >= 0 && !strcmp(l.name, name))
            return l.in[profile];
    return PRESENT;
}

static DWORD WINAPI Version()
{
    const auto &s = systems[profile];
    return s.major | s.minor << 8 | (s.build & 0xFFFF) << 16 |
           (s.platform == VER_PLATFORM_WIN32_WINDOWS ? 0x80000000 : 0);
}
static BOOL WINAPI VersionEx(OSVERSIONINFOA *info)
{
    // Windows 95 and NT 3.51 know no larger structure.
    if ((info->dwOSVersionInfoSize != sizeof *info && profile < 2) || !GetVersionExA(info))
        return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    const auto &s = systems[profile];
    info->dwMajorVersion = s.major, info->dwMinorVersion = s.minor, info->dwBuildNumber = s.build;
    info->dwPlatformId = s.platform, info->szCSDVersion[0] = '\0';
    return TRUE;
}
static HMODULE WINAPI ModuleHandle(const char *name)
{
    if (name != nullptr && (!lstrcmpiA(name, "ntdll.dll") || !lstrcmpiA(name, "ntdll")))
        return SetLastError(ERROR_MOD_NOT_FOUND), nullptr;
    return GetModuleHandleA(name);
}
static LONG WINAPI DeleteKey(HKEY key, const char *subkey) { return RegDeleteTreeA(key, subkey); }

static void *Wrap(const char *name, void *original);
// What the program looks up is wrapped too, unless the system lacks it.
static FARPROC WINAPI ProcAddress(HMODULE module, const char *name)
{
    if ((UINT_PTR)name >> 16 == 0)
        return GetProcAddress(module, name);
    if (Lack(name) == ABSENT)
        return SetLastError(ERROR_PROC_NOT_FOUND), nullptr;
    FARPROC found = GetProcAddress(module, name);
    return found != nullptr ? (FARPROC)Wrap(name, (void *)found) : nullptr;
}
// A program the program starts gets the hook too, one level deeper; one it
// could not be given to does not run.
static BOOL WINAPI StartProcess(LPCSTR exe, LPSTR line, LPSECURITY_ATTRIBUTES pa,
                                LPSECURITY_ATTRIBUTES ta, BOOL inherit, DWORD flags, LPVOID env,
                                LPCSTR dir, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION started)
{
    char level[12];
    snprintf(level, sizeof level, "%d", depth + 1);
    SetEnvironmentVariableA("TL_FAULTS_DEPTH", level);
    BOOL made = CreateProcessA(exe, line, pa, ta, inherit, flags | CREATE_SUSPENDED, env, dir,
                               startup, started);
    DWORD error = GetLastError();
    snprintf(level, sizeof level, "%d", depth);
    SetEnvironmentVariableA("TL_FAULTS_DEPTH", level);
    if (made && !InjectHook(started->hProcess, started->hThread, hookPath))
        TerminateProcess(started->hProcess, 125);
    if (made && !(flags & CREATE_SUSPENDED))
        ResumeThread(started->hThread);
    SetLastError(error);
    return made;
}
// Stand-ins: always (ALWAYS), under any profile (-1) or under one (0: win95).
enum { ALWAYS = -2 };
static const struct { const char *name; void *function; int when; } replacements[] = {
    {"GetProcAddress", (void *)ProcAddress, ALWAYS},
    {"CreateProcessA", (void *)StartProcess, ALWAYS},
    {"GetVersion", (void *)Version, -1}, {"GetVersionExA", (void *)VersionEx, -1},
    {"GetModuleHandleA", (void *)ModuleHandle, 0}, {"RegDeleteKeyA", (void *)DeleteKey, 0}};

// Gives the function a thunk that passes its index to the common stub.
extern "C" void CommonStub();
static void *Wrap(const char *name, void *original)
{
    EnterCriticalSection(&lock);
    int i = 0;
    while (i < entryCount && entries[i].original != original)
        i++;
    if (i == entryCount && i < (int)(sizeof entries / sizeof *entries)) {
        Entry &e = entries[entryCount++];
        lstrcpynA(e.name, name, sizeof e.name);
        e.original = original, e.bytes = -1;
        for (const auto &r : replacements)
            if (!strcmp(r.name, name) &&
                (r.when == ALWAYS || (profile >= 0 && (r.when == -1 || r.when == profile))))
                e.replacement = r.function;
        for (const auto &s : stdcalls)
            if (!strcmp(s.name, name) && !Listed(neverFailed, name))
                e.bytes = s.bytes;
        unsigned char *t = thunks + 32 * i;
#ifdef _WIN64
        void *stub = (void *)CommonStub;
        t[0] = 0x41, t[1] = 0xBA, memcpy(t + 2, &i, 4);     // mov r10d, i
        t[6] = 0x49, t[7] = 0xBB, memcpy(t + 8, &stub, 8);  // mov r11, CommonStub
        t[16] = 0x41, t[17] = 0xFF, t[18] = 0xE3;           // jmp r11
#else
        INT_PTR jump = (unsigned char *)CommonStub - (t + 10);
        t[0] = 0x68, memcpy(t + 1, &i, 4), t[5] = 0xE9, memcpy(t + 6, &jump, 4);  // push i; jmp
#endif
        FlushInstructionCache(GetCurrentProcess(), t, 32);
    }
    LeaveCriticalSection(&lock);
    return i < entryCount ? thunks + 32 * i : original;
}

// The common stub calls this for every call: it is counted by its call site,
// then goes on (to the function or its stand-in), or fails (nullptr, `out`).
extern "C" void *Decide(int index, unsigned char *site, Outcome *out)
{
    DWORD error = GetLastError();
    Entry &e = entries[index];
    LONG nth = InterlockedIncrement(&e.calls);
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                       GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, (LPCSTR)site, &module);
    DWORD rva = (DWORD)(site - (unsigned char *)module);
    bool fail = e.bytes >= 0 && Lack(e.name) == STUB, hasError = fail;
    long given = ERROR_CALL_NOT_IMPLEMENTED;
    EnterCriticalSection(&lock);
    int s = 0;
    while (s < siteCount &&
           !(sites[s].entry == index && sites[s].module == module && sites[s].rva == rva))
        s++;
    if (s == siteCount && s < (int)(sizeof sites / sizeof *sites))
        sites[siteCount++] = {index, module, rva, 0, 0};
    for (int f = 0; f < faultCount && e.bytes >= 0 && !fail; f++) {
        Fault &x = faults[f];
        if (!x.done && (x.depth == 0 || x.depth == depth) && !strcmp(x.name, e.name) &&
            (x.rva != 0 ? x.rva == rva : x.nth == nth))
            x.done = fail = true, given = x.error, hasError = x.hasError;
    }
    if (s < siteCount)
        sites[s].calls++, sites[s].failed += fail;
    LeaveCriticalSection(&lock);
    if (!fail)
        return SetLastError(error), e.replacement != nullptr ? e.replacement : e.original;
    out->value = 0, out->bytes = e.bytes;
    long standard = ERROR_ACCESS_DENIED;
    for (const auto &r : failures)
        if (!strcmp(r.name, e.name))
            out->value = r.value, standard = r.error;
    if (!hasError)
        given = standard;
    if (!strncmp(e.name, "Reg", 3) || Listed(returnsError, e.name))
        out->value = given;
    else
        error = (DWORD)given;
    return SetLastError(error), nullptr;
}

static void ReadFaults(char *text)
{
    for (char *item = strtok(text, ", "); item && faultCount < 32; item = strtok(nullptr, ", ")) {
        Fault &f = faults[faultCount++];
        f.nth = 1;
        if (strchr(item, ':') != nullptr)
            f.depth = atoi(item), item = strchr(item, ':') + 1;
        char *equals = strchr(item, '='), *at = strchr(item, '@');
        if (equals != nullptr)
            *equals = '\0', f.error = strtol(equals + 1, nullptr, 0), f.hasError = true;
        if (at != nullptr) {
            *at = '\0';
            f.rva = at[1] == '+' ? strtoul(at + 2, nullptr, 0) : 0;
            f.nth = at[1] == '+' ? 1 : atoi(at + 1);
        }
        lstrcpynA(f.name, item, sizeof f.name);
    }
}

static void PatchImports(unsigned char *base)
{
    auto nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    DWORD at = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto d = (IMAGE_IMPORT_DESCRIPTOR *)(base + at); at != 0 && d->Name != 0; d++) {
        const char *dll = (const char *)base + d->Name;
        if (lstrcmpiA(dll, "KERNEL32.dll") && lstrcmpiA(dll, "USER32.dll") &&
            lstrcmpiA(dll, "GDI32.dll") && lstrcmpiA(dll, "ADVAPI32.dll"))
            continue;
        auto name = (IMAGE_THUNK_DATA *)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk
                                                                       : d->FirstThunk));
        auto slot = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; name->u1.AddressOfData != 0; name++, slot++) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
                continue;
            DWORD was;
            VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
            slot->u1.Function = (ULONG_PTR)Wrap(
                (const char *)((IMAGE_IMPORT_BY_NAME *)(base + name->u1.AddressOfData))->Name,
                (void *)slot->u1.Function);
            VirtualProtect(slot, sizeof *slot, was, &was);
        }
    }
}

// The call sites, appended to the record in one write as the process ends.
static void WriteSites()
{
    static char text[1 << 19];
    char program[MAX_PATH], module[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    int length = 0;
    for (int s = 0; s < siteCount && length < (int)sizeof text - 3 * MAX_PATH; s++) {
        const Site &x = sites[s];
        if (x.module == nullptr || !GetModuleFileNameA(x.module, module, sizeof module))
            snprintf(module, sizeof module, "\\?");
        char failed[16] = "-";
        if (entries[x.entry].bytes >= 0)
            snprintf(failed, sizeof failed, "%ld", x.failed);
        length += snprintf(text + length, sizeof text - length, "%s\t%d\t%s\t%s+0x%lx\t%ld\t%s\r\n",
                           strrchr(program, '\\') + 1, depth, entries[x.entry].name,
                           strrchr(module, '\\') + 1, x.rva, x.calls, failed);
    }
    HANDLE file = CreateFileA(sitesPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(file, text, length, &written, nullptr);
    CloseHandle(file);
}

// The stub every thunk jumps to, its index pushed (i686) or in r10d (x86_64).
// When the call fails, the i686 stub drops the stdcall function's arguments.
#ifdef _WIN64
asm(".text\n.globl CommonStub\nCommonStub:\n"
    "push %rcx\npush %rdx\npush %r8\npush %r9\nsub $0x78, %rsp\n"
    "movdqu %xmm0, 0x30(%rsp)\nmovdqu %xmm1, 0x40(%rsp)\n"
    "movdqu %xmm2, 0x50(%rsp)\nmovdqu %xmm3, 0x60(%rsp)\n"
    "mov %r10d, %ecx\nmov 0x98(%rsp), %rdx\nlea 0x20(%rsp), %r8\ncall Decide\n"
    "movdqu 0x30(%rsp), %xmm0\nmovdqu 0x40(%rsp), %xmm1\n"
    "movdqu 0x50(%rsp), %xmm2\nmovdqu 0x60(%rsp), %xmm3\n"
    "mov 0x20(%rsp), %r10\nadd $0x78, %rsp\npop %r9\npop %r8\npop %rdx\npop %rcx\n"
    "test %rax, %rax\njz 1f\njmp *%rax\n1: mov %r10, %rax\nret\n");
#else
asm(".text\n.globl _CommonStub\n_CommonStub:\n"
    "sub $8, %esp\nmov %esp, %eax\nmov 8(%esp), %ecx\nmov 12(%esp), %edx\n"
    "push %eax\npush %edx\npush %ecx\ncall _Decide\nadd $12, %esp\n"
    "test %eax, %eax\njz 1f\nadd $12, %esp\njmp *%eax\n"
    "1: mov (%esp), %eax\nmov 4(%esp), %edx\nadd $12, %esp\npop %ecx\nadd %edx, %esp\njmp *%ecx\n");
#endif

static bool Env(const char *name, char *text, DWORD size)
{
    DWORD length = GetEnvironmentVariableA(name, text, size);
    return length > 0 && length < size;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_DETACH && sitesPath[0] != '\0')
        WriteSites();
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    DisableThreadLibraryCalls(self);
    InitializeCriticalSection(&lock);
    GetModuleFileNameA(self, hookPath, sizeof hookPath);
    char text[4096];
    if (Env("TL_FAULTS_DEPTH", text, sizeof text))
        depth = atoi(text);
    if (Env("TL_FAULTS_PROFILE", text, sizeof text)) {
        for (int p = 0; p < 3; p++)
            if (!strcmp(systems[p].name, text))
                profile = p;
        if (profile < 0)
            ExitProcess(125);
    }
    if (Env("TL_FAULTS", text, sizeof text))
        ReadFaults(text);
    Env("TL_FAULTS_SITES", sitesPath, sizeof sitesPath);
    thunks = (unsigned char *)VirtualAlloc(nullptr, sizeof entries / sizeof *entries * 32,
                                           MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (thunks != nullptr)
        PatchImports((unsigned char *)GetModuleHandleA(nullptr));
    return thunks != nullptr;
}
