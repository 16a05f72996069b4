#include "handover.h"

#include <string.h>

#include "../base/lookup.h"
#include "../base/product.h"
#include "../base/system.h"
#include "../base/text.h"

int OwnPath(char *path, DWORD size)
{
    DWORD length = GetModuleFileNameA(nullptr, path, size);
    return length != 0 && length < size;
}

int OwnDirectory(char *path, DWORD size)
{
    char *slash;
    if (!OwnPath(path, size) || (slash = strrchr(path, '\\')) == nullptr)
        return 0;
    *slash = '\0';
    return 1;
}

// Copies `from` into `to` from where each stands; 1 when every byte went.
static int CopyBytes(HANDLE from, HANDLE to)
{
    static BYTE chunk[4096];
    for (;;) {
        DWORD got = 0, put = 0;
        if (!ReadFile(from, chunk, sizeof chunk, &got, nullptr))
            return 0;
        if (got == 0)
            return 1;
        if (!WriteFile(to, chunk, got, &put, nullptr) || put != got)
            return 0;
    }
}

// Whether two files hold the same bytes, read from where each stands.
static int SameBytes(HANDLE a, HANDLE b)
{
    static BYTE chunkA[4096], chunkB[4096];
    for (;;) {
        DWORD gotA = 0, gotB = 0;
        if (!ReadFile(a, chunkA, sizeof chunkA, &gotA, nullptr) ||
            !ReadFile(b, chunkB, sizeof chunkB, &gotB, nullptr) || gotA != gotB ||
            memcmp(chunkA, chunkB, gotA) != 0)
            return 0;
        if (gotA == 0)
            return 1;
    }
}

// Writes this program's bytes into a new file in the directory, then opens
// the copy so that nobody can write, rename or delete it, and checks that it
// is a plain file holding exactly those bytes. The handle it returns stays
// open until the copy has started.
static HANDLE PrepareCopy(const char *self, const char *copy)
{
    HANDLE own = OpenForReading(self, 0);
    if (own == INVALID_HANDLE_VALUE)
        return own;
    HANDLE written = CreateFileA(copy, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    int whole = written != INVALID_HANDLE_VALUE && CopyBytes(own, written);
    if (written != INVALID_HANDLE_VALUE && !CloseHandle(written))
        whole = 0;
    HANDLE held = whole ? OpenForReading(copy, OpenReparsePointFlag()) : INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    if (held != INVALID_HANDLE_VALUE &&
        (SetFilePointer(own, 0, nullptr, FILE_BEGIN) != 0 ||
         !GetFileInformationByHandle(held, &info) || IsReparsePoint(info.dwFileAttributes) ||
         info.nNumberOfLinks != 1 || !SameBytes(own, held))) {
        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    }
    CloseHandle(own);
    return held;
}

int OwnSum(RunFile &file)
{
    char self[PATH_SIZE];
    HANDLE own = OwnPath(self, sizeof self) ? OpenForReading(self, 0) : INVALID_HANDLE_VALUE;
    if (own == INVALID_HANDLE_VALUE)
        return 0;
    file.name = UNINSTALLER_NAME;
    int read = FileSum(own, MAXDWORD, file.length, file.crc);
    CloseHandle(own);
    return read;
}

// Handles a child inherits: duplicates of `handle` that may be inherited.
static HANDLE Inheritable(HANDLE handle, DWORD access)
{
    HANDLE process = GetCurrentProcess(), copy = nullptr;
    return DuplicateHandle(process, handle, process, &copy, access, TRUE, 0) ? copy : nullptr;
}

HANDLE HandOverToCopy(const char *arguments)
{
    char self[PATH_SIZE], temp[PATH_SIZE], directory[PATH_SIZE], copy[PATH_SIZE];
    HANDLE heldDirectory;
    if (!OwnPath(self, sizeof self) || !TempDirectory(temp, sizeof temp) ||
        !MakeOwnDirectory(temp, COPY_PREFIX, directory, sizeof directory, heldDirectory))
        return nullptr;
    HANDLE marker = CreateRunMarker(directory, TRUE);
    HANDLE heldCopy = INVALID_HANDLE_VALUE;
    HANDLE outcome = nullptr, report = nullptr, inheritedReport = nullptr, inherited = nullptr;
    int started = 0;
    // Static: a frame this large would need stack probes.
    static char command[COMMAND_SIZE + PATH_SIZE];
    if (marker != INVALID_HANDLE_VALUE && JoinPath(copy, sizeof copy, directory, UNINSTALLER_NAME) &&
        (heldCopy = PrepareCopy(self, copy)) != INVALID_HANDLE_VALUE &&
        CreatePipe(&outcome, &report, nullptr, 0) &&
        (inheritedReport = Inheritable(report, GENERIC_WRITE)) != nullptr &&
        (inherited = Inheritable(GetCurrentProcess(), SYNCHRONIZE | PROCESS_QUERY_INFORMATION)) !=
            nullptr) {
        // Handle values fit in 32 bits on every Windows, so the numbers are
        // the same for both builds.
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (FormatText(command, sizeof command, "\"%s\" -w %u -o %u %s", copy,
                       (unsigned)(ULONG_PTR)inherited, (unsigned)(ULONG_PTR)inheritedReport,
                       arguments) &&
            CreateProcessA(copy, command, nullptr, nullptr, TRUE, 0, nullptr, temp, &startup,
                           &info)) {
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
            started = 1;
        }
    }
    // Only the copy may keep the pipe's write end: the read end then ends
    // when the copy does.
    HANDLE closing[] = {report, inheritedReport, inherited};
    for (HANDLE handle : closing)
        if (handle != nullptr)
            CloseHandle(handle);
    ReleaseDirectory(heldDirectory);
    if (started) {
        CloseHandle(heldCopy);
        return outcome;
    }
    if (outcome != nullptr)
        CloseHandle(outcome);
    // Only a copy that was checked and held is ours to take away again.
    RunFile own;
    if (heldCopy != INVALID_HANDLE_VALUE) {
        CloseHandle(heldCopy);
        if (OwnSum(own))
            DeleteIfHolds(copy, own.length, own.crc);
    }
    if (marker != INVALID_HANDLE_VALUE) {
        CloseHandle(marker);
        RemoveRunMarker(directory);
    }
    RemoveDirectoryA(directory);
    return nullptr;
}

int IsFirstProcess(HANDLE process)
{
    DWORD code;
    if ((ULONG_PTR)process >= (ULONG_PTR)-6 || !GetExitCodeProcess(process, &code) ||
        code != STILL_ACTIVE)
        return 0;
    // Windows XP SP1 and later tell whose handle it is.
    auto processId = (GetProcessIdProc)(void *)LookUpFunction(LATE_GET_PROCESS_ID);
    return processId == nullptr || processId(process) != GetCurrentProcessId();
}
