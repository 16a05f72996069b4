#include "names.h"

#include <string.h>
#include <windows.h>

#include "messages.h"
#include "product.h"
#include "session.h"
#include "text.h"

static int IsDriveLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int IsAbsolutePath(const char *path)
{
    // "X:" alone is the root: directories are kept without their trailing
    // backslash, and every path is made from them with "\" and a name.
    if (IsDriveLetter(path[0]) && path[1] == ':')
        return path[2] == '\0' || path[2] == '\\';
    if (path[0] != '\\' || path[1] != '\\' || path[2] == '\0' || path[2] == '\\')
        return 0;
    // A server name, a backslash and a share name.
    const char *c = path + 2;
    while (*c != '\0' && *c != '\\')
        c++;
    return c[0] == '\\' && c[1] != '\0' && c[1] != '\\';
}

int IsUsableProgmanName(const char *name)
{
    // Inside double quotes the Program Manager takes anything but a quote;
    // brackets end or start a command in some of its parsers.
    for (const unsigned char *c = (const unsigned char *)name; *c != '\0'; c++) {
        if (*c < ' ' || *c == 127 || *c == '"' || *c == '[' || *c == ']')
            return 0;
    }
    return 1;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, in any letter case, alone or
// before an extension: the system takes them for devices in any directory.
static int IsDeviceName(const char *name)
{
    static const char devices[][5] = {"CON", "PRN", "AUX", "NUL", "COM", "LPT"};
    for (const char *device : devices) {
        int i = 0;
        while (i < 3 && (name[i] & ~0x20) == device[i])
            i++;
        if (i < 3)
            continue;
        // COM and LPT take one digit from 1 to 9.
        if (device[2] == 'M' || device[2] == 'T') {
            if (name[i] < '1' || name[i] > '9')
                continue;
            i++;
        }
        if (name[i] == '\0' || name[i] == '.')
            return 1;
    }
    return 0;
}

int IsUsableGroupName(const char *name)
{
    size_t length = strlen(name);
    if (length == 0 || !IsUsableProgmanName(name) || strpbrk(name, "\\/:*?<>|") != nullptr ||
        name[length - 1] == '.' || name[length - 1] == ' ')
        return 0;
    // "." and ".." end in a dot: refused above.
    return !IsDeviceName(name);
}

Outcome ReadRegistryText(HKEY root, const char *keyPath, const char *name, char *text, size_t size)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return OUTCOME_NONE;
    DWORD type = 0, length = (DWORD)size;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, (BYTE *)text, &length);
    RegCloseKey(key);
    if (status == ERROR_FILE_NOT_FOUND)
        return OUTCOME_NONE;
    // A value that fills the buffer without its NUL is not read whole.
    return status == ERROR_SUCCESS && type == REG_SZ && length > 0 && length <= size &&
                   text[length - 1] == '\0'
               ? OUTCOME_DONE
               : OUTCOME_UNUSABLE;
}

int ReadProgramsFolder(int common, char *path, size_t size)
{
    return ReadRegistryText(common ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                            "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                            common ? "Common Programs" : "Programs", path, size) > 0 &&
           IsAbsolutePath(path);
}

Outcome ReadProfileValue(const char *key, const char *fallback, char *value, size_t size)
{
    constexpr size_t READ_SIZE = 1024;
    if (size == 0 || size > READ_SIZE)
        return OUTCOME_UNUSABLE;
    // The platform cuts a longer value to the buffer without a word: read
    // into more room than the caller's, so a value that fills it exactly is
    // still known to be whole.
    char text[READ_SIZE + 1];
    DWORD length = GetProfileStringA(PRODUCT_NAME, key, fallback, text, sizeof text);
    if (length >= size) {
        memcpy(value, text, size - 1);
        value[size - 1] = '\0';
        return OUTCOME_UNUSABLE;
    }
    CopyText(value, size, text);
    return length > 0 ? OUTCOME_DONE : OUTCOME_NONE;
}

int IsRemovableGroupName(const char *name)
{
    return name[0] != '\0' && IsUsableProgmanName(name) && strpbrk(name, "\\/") == nullptr &&
           !(IsDriveLetter(name[0]) && name[1] == ':') && strcmp(name, ".") != 0 &&
           strcmp(name, "..") != 0;
}

Outcome ReadRecordedGroup(const char *fallback, char *group, size_t size,
                          int (*usable)(const char *name))
{
    Outcome read = ReadProfileValue("GROUP", fallback, group, size);
    if (read == OUTCOME_NONE)
        return OUTCOME_NONE;
    if (read == OUTCOME_DONE && usable(group))
        return OUTCOME_DONE;
    LogUnusableGroup(group);
    return OUTCOME_UNUSABLE;
}

void LogUnusableGroup(const char *group)
{
    char line[TEXT_FIELD + 64];
    FormatText(line, sizeof line, "GROUP in WIN.INI cannot be used: %s", group);
    LogLine(line);
}
