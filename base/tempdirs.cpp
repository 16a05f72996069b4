#include "tempdirs.h"

#include <string.h>

#include "product.h"
#include "system.h"
#include "text.h"

constexpr DWORD READ_CHUNK = 16384;

// What a run writes into the marker of its directory, the file a live run
// holds open so that no clean-up takes the directory.
static const char MARKER_TEXT[] = "Tarnlink Suite setup run\r\n";
constexpr DWORD MARKER_LENGTH = sizeof MARKER_TEXT - 1;

static DWORD crcTable[256];

DWORD Crc32(DWORD crc, const void *bytes, size_t size)
{
    if (crcTable[1] == 0) {
        for (DWORD n = 0; n < 256; ++n) {
            DWORD c = n;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            crcTable[n] = c;
        }
    }
    const BYTE *p = (const BYTE *)bytes;
    crc = ~crc;
    while (size-- > 0)
        crc = crcTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

int FileSum(HANDLE file, DWORD limit, DWORD &length, DWORD &crc)
{
    // Static: a frame this large would need stack probes.
    static BYTE chunk[READ_CHUNK];
    DWORD got = 0;
    int readable;
    crc = 0;
    length = 0;
    while ((readable = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) != 0 && got > 0) {
        crc = Crc32(crc, chunk, got);
        length += got;
        if (length > limit)
            break;
    }
    return readable;
}

int TempDirectory(char *directory, size_t size)
{
    // A buffer too small gets a cut path and the size it would need.
    DWORD length = GetTempPathA((DWORD)size, directory);
    if (length == 0 || length >= size) {
        directory[0] = '\0';
        return 0;
    }
    if (directory[length - 1] != '\\' && !AppendText(directory, size, "\\")) {
        directory[0] = '\0';
        return 0;
    }
    return 1;
}

// Whether the file open on `file` is a plain one holding exactly these bytes.
static int Holds(HANDLE file, DWORD length, DWORD crc)
{
    BY_HANDLE_FILE_INFORMATION info;
    DWORD got, sum;
    return GetFileInformationByHandle(file, &info) && !IsReparsePoint(info.dwFileAttributes) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nFileSizeHigh == 0 &&
           info.nFileSizeLow == length && FileSum(file, length, got, sum) && got == length &&
           sum == crc;
}

int DeleteIfHolds(const char *path, DWORD length, DWORD crc)
{
    HANDLE file = OpenForJudging(path);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    if (!Holds(file, length, crc)) {
        CloseHandle(file);
        return 0;
    }
    return DeleteJudgedFile(file, path);
}

HANDLE CreateRunMarker(const char *directory, int inheritable)
{
    char path[PATH_SIZE];
    if (!JoinPath(path, sizeof path, directory, RUN_MARKER_NAME))
        return INVALID_HANDLE_VALUE;
    // Readers are welcome; nobody may delete it while the run lives.
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, inheritable};
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, &attributes, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    if (marker != INVALID_HANDLE_VALUE &&
        (!WriteFile(marker, MARKER_TEXT, MARKER_LENGTH, &put, nullptr) || put != MARKER_LENGTH)) {
        CloseHandle(marker);
        DeleteFileA(path);
        marker = INVALID_HANDLE_VALUE;
    }
    return marker;
}

void RemoveRunMarker(const char *directory)
{
    char path[PATH_SIZE];
    if (JoinPath(path, sizeof path, directory, RUN_MARKER_NAME))
        DeleteIfHolds(path, MARKER_LENGTH, Crc32(0, MARKER_TEXT, MARKER_LENGTH));
}

// Whether a name is that of a run's directory: the prefix (three
// characters), five digits, ".tmp".
static int IsRunDirectoryName(const char *name, const char *prefix)
{
    if (strncmp(name, prefix, 3) != 0 || strlen(name) != 12 || strcmp(name + 8, ".tmp") != 0)
        return 0;
    for (int i = 3; i < 8; i++)
        if (name[i] < '0' || name[i] > '9')
            return 0;
    return 1;
}

// Empties one dead run's directory as far as its bytes allow, and removes it.
static void RemoveDeadRun(const char *directory, const RunFile *files, int count)
{
    char path[PATH_SIZE];
    HANDLE held, marker;
    if (!HoldDirectory(directory, held))
        return;
    // A live run holds its marker without delete sharing: then it does not
    // open, and the directory is left alone. One without a marker is a run's
    // that ended before it made one, or after the restart took it (Windows
    // 95 deletes an uninstaller copy's files, never its directory): its
    // files too go as far as their bytes are a run's. A live run holds its
    // directory until its marker is made, so that it cannot go meanwhile.
    int proven = 0;
    if (JoinPath(path, sizeof path, directory, RUN_MARKER_NAME)) {
        marker = OpenForJudging(path);
        if (marker != INVALID_HANDLE_VALUE)
            proven = Holds(marker, MARKER_LENGTH, Crc32(0, MARKER_TEXT, MARKER_LENGTH));
        else
            proven = GetLastError() == ERROR_FILE_NOT_FOUND;
        if (proven) {
            for (int i = 0; i < count; ++i) {
                char file[PATH_SIZE];
                if (JoinPath(file, sizeof file, directory, files[i].name))
                    DeleteIfHolds(file, files[i].length, files[i].crc);
            }
        }
        if (marker != INVALID_HANDLE_VALUE) {
            if (proven)
                DeleteJudgedFile(marker, path);
            else
                CloseHandle(marker);
        }
    }
    ReleaseDirectory(held);
    // Only an empty directory goes.
    if (proven)
        RemoveDirectoryA(directory);
}

void RemoveDeadRunDirectories(const char *tempDir, const char *prefix, const RunFile *files,
                              int count)
{
    char pattern[PATH_SIZE], directory[PATH_SIZE];
    WIN32_FIND_DATAA found;
    HANDLE search;
    if (!FormatText(pattern, sizeof pattern, "%s%s*.tmp", tempDir, prefix) ||
        (search = FindFirstFileA(pattern, &found)) == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !IsReparsePoint(found.dwFileAttributes) && IsRunDirectoryName(found.cFileName, prefix) &&
            JoinText(directory, sizeof directory, tempDir, found.cFileName))
            RemoveDeadRun(directory, files, count);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
