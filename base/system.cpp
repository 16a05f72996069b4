#include "system.h"

#include "text.h"

#ifndef FILE_FLAG_OPEN_REPARSE_POINT
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#endif

HMODULE LoadSystemLibrary(const char *name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path || !AppendText(path, sizeof path, "\\") ||
        !AppendText(path, sizeof path, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    return LoadLibraryA(path);
}

int IsWindowsNT()
{
    return !(GetVersion() & 0x80000000u);
}

HANDLE OpenForReading(const char *path, DWORD flags)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

HANDLE OpenForJudging(const char *path)
{
    // Windows 95 knows no DELETE access, and no links either.
    DWORD access = IsWindowsNT() ? GENERIC_READ | DELETE : GENERIC_READ;
    return CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | OpenReparsePointFlag(), nullptr);
}

// NtSetInformationFile with FileDispositionInformation: the one way to
// delete through a handle on every NT (SetFileInformationByHandle came with
// Vista).
constexpr int FILE_DISPOSITION_INFORMATION = 13;

int DeleteJudgedFile(HANDLE file, const char *path)
{
    if (!IsWindowsNT()) {
        CloseHandle(file);
        return DeleteFileA(path) != 0;
    }
    auto setInformation =
        (NtSetInformationFileProc)(void *)LookUpFunction(LATE_NT_SET_INFORMATION_FILE);
    BOOLEAN dispose = TRUE;
    IoStatusBlock block = {};
    int deleted = setInformation != nullptr &&
                  setInformation(file, &block, &dispose, sizeof dispose,
                                 FILE_DISPOSITION_INFORMATION) >= 0;
    CloseHandle(file);
    return deleted;
}

DWORD OpenReparsePointFlag()
{
    return IsWindowsNT() && (GetVersion() & 0xFF) >= 5 ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
}

static int IsPlainDirectory(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !IsReparsePoint(attributes);
}

int HoldDirectory(const char *path, HANDLE &held)
{
    held = INVALID_HANDLE_VALUE;
    if (IsWindowsNT()) {
        // Readers and writers of its files are welcome; nobody may delete or
        // rename it while it is held.
        held = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | OpenReparsePointFlag(),
                           nullptr);
        BY_HANDLE_FILE_INFORMATION info;
        if (held == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(held, &info) ||
            !IsPlainDirectory(info.dwFileAttributes)) {
            ReleaseDirectory(held);
            return 0;
        }
    }
    // Wine opens through a link it then does not report; the name still tells.
    if (IsPlainDirectory(GetFileAttributesA(path)))
        return 1;
    ReleaseDirectory(held);
    return 0;
}

void ReleaseDirectory(HANDLE &held)
{
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    held = INVALID_HANDLE_VALUE;
}

int MakeOwnDirectory(const char *parent, const char *prefix, char *path, size_t size,
                     HANDLE &held)
{
    constexpr unsigned ATTEMPTS = 100;
    unsigned first = (unsigned)GetCurrentProcessId();
    for (unsigned attempt = 0; attempt < ATTEMPTS; ++attempt) {
        // An 8.3 name, so that every file system of the platform takes it.
        if (!FormatText(path, size, "%s%s%u.tmp", parent, prefix,
                        (first + attempt) % 90000u + 10000u))
            return 0;
        // No security attributes: on NT the directory gets the creator's
        // default access.
        if (CreateDirectoryA(path, nullptr)) {
            if (HoldDirectory(path, held))
                return 1;
            // Made but not ours to work in: it goes again, if it still can.
            RemoveDirectoryA(path);
            return 0;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return 0;
    }
    return 0;
}
