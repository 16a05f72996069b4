#include "text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

int CopyText(char *dst, size_t size, const char *src)
{
    if (size == 0)
        return 0;
    size_t length = strlen(src);
    if (length >= size) {
        dst[0] = '\0';
        return 0;
    }
    memmove(dst, src, length + 1);
    return 1;
}

int AppendText(char *dst, size_t size, const char *src)
{
    size_t used = strnlen(dst, size);
    if (used >= size)
        return 0;
    size_t length = strlen(src);
    if (length >= size - used)
        return 0;
    memmove(dst + used, src, length + 1);
    return 1;
}

int FormatText(char *dst, size_t size, const char *format, ...)
{
    if (size == 0)
        return 0;
    va_list args;
    va_start(args, format);
    // The C runtime's _vsnprintf returns -1 (or size) without a terminating
    // NUL when the text does not fit.
    int written = _vsnprintf(dst, size, format, args);
    va_end(args);
    if (written < 0 || (size_t)written >= size) {
        dst[0] = '\0';
        return 0;
    }
    return 1;
}

int SameText(const char *a, const char *b)
{
    return lstrcmpiA(a, b) == 0;
}
