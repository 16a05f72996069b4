#include "names.h"

#include <string.h>
#include <windows.h>

#include "messages.h"
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

int ReadProfileValue(const char *key, const char *fallback, char *value, size_t size)
{
    constexpr size_t READ_SIZE = 1024;
    if (size == 0 || size > READ_SIZE)
        return -1;
    // The platform cuts a longer value to the buffer without a word: read
    // into more room than the caller's, so a value that fills it exactly is
    // still known to be whole.
    char text[READ_SIZE + 1];
    DWORD length = GetProfileStringA(PRODUCT_NAME, key, fallback, text, sizeof text);
    if (length >= size) {
        memcpy(value, text, size - 1);
        value[size - 1] = '\0';
        return -1;
    }
    CopyText(value, size, text);
    return length > 0 ? 1 : 0;
}

int ReadRecordedGroup(const char *fallback, char *group, size_t size)
{
    int read = ReadProfileValue("GROUP", fallback, group, size);
    if (read == 0)
        return 0;
    if (read > 0 && IsUsableProgmanName(group))
        return 1;
    char line[TEXT_FIELD + 64];
    FormatText(line, sizeof line, "GROUP in WIN.INI cannot be used: %s", group);
    LogLine(line);
    return -1;
}
