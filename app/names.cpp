#include "names.h"

#include <windows.h>

#include "session.h"

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
    if (size < 2)
        return -1;
    DWORD length = GetProfileStringA(PRODUCT_NAME, key, fallback, value, (DWORD)size);
    // The platform cuts a longer value to size - 1 characters without a word.
    if (length >= size - 1)
        return -1;
    return length > 0 ? 1 : 0;
}
