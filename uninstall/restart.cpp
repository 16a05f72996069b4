#include "restart.h"

#include <string.h>
#include <windows.h>

#include "../base/product.h"
#include "../base/system.h"
#include "../base/text.h"
#include "handover.h"

// The line after WININIT.INI's [rename] header, whatever the case of its
// letters, as Windows reads it; null when there is none.
static char *AfterRenameHeader(char *text)
{
    static const char header[] = "[rename]\r\n";
    for (char *line = text; *line != '\0';) {
        size_t i = 0;
        for (char c; i < sizeof header - 1; i++) {
            c = line[i];
            if ((c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != header[i])
                break;
        }
        if (i == sizeof header - 1)
            return line + i;
        line = strchr(line, '\n');
        if (line == nullptr)
            break;
        line++;
    }
    return nullptr;
}

// Windows 95 deletes at restart what WININIT.INI's [rename] section names
// as "NUL=<short path>". The profile functions would keep one NUL line
// only, so the lines are written here: each request gets its own, in the
// section (made when missing). Directories cannot be deleted there.
static void AddRestartLine(const char *shortPath)
{
    char path[PATH_SIZE], line[PATH_SIZE + 16];
    static char text[32768];
    UINT length = GetWindowsDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path || !AppendText(path, sizeof path, "\\WININIT.INI") ||
        !FormatText(line, sizeof line, "NUL=%s\r\n", shortPath))
        return;
    DWORD size = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    // Room for the section's header and the line after what is there.
    DWORD room = sizeof text - 1 - (DWORD)strlen(line) - 12;
    if (ReadFile(file, text, room + 1, &size, nullptr) && size <= room) {
        text[size] = '\0';
        // A last line of its own, the header perhaps, ends first.
        if (size > 0 && text[size - 1] != '\n')
            size += FormatText(text + size, sizeof text - size, "\r\n") ? 2 : 0;
        char *at = AfterRenameHeader(text);
        if (at == nullptr) {
            at = text + size;
            at += FormatText(at, sizeof text - size, "[rename]\r\n") ? 10 : 0;
            *at = '\0';
        }
        // What followed the header moves down behind the new line.
        size_t tail = strlen(at), added = strlen(line);
        memmove(at + added, at, tail + 1);
        memcpy(at, line, added);
        DWORD put = 0;
        DWORD total = (DWORD)strlen(text);
        if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0)
            WriteFile(file, text, total, &put, nullptr);
    }
    CloseHandle(file);
}

void DeleteAtRestart(const char *path)
{
    if (IsWindowsNT()) {
        MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    char shortPath[PATH_SIZE];
    DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    if (length > 0 && length < sizeof shortPath)
        AddRestartLine(shortPath);
}

void DeleteSelfAtRestart()
{
    char path[PATH_SIZE];
    if (OwnPath(path, sizeof path))
        DeleteAtRestart(path);
    char marker[PATH_SIZE];
    if (OwnDirectory(marker, sizeof marker) &&
        JoinPath(path, sizeof path, marker, RUN_MARKER_NAME))
        DeleteAtRestart(path);
    if (OwnDirectory(path, sizeof path))
        DeleteAtRestart(path);
}
