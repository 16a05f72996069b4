#include "text.h"

#include <stdarg.h>
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

// The writer of FormatText: keeps one byte for the terminating NUL and
// notes when anything did not fit.
struct FormatOutput {
    char *dst;
    size_t size;
    size_t used;
    int overflow;
};

static void PutText(FormatOutput &out, const char *text, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        if (out.used + 1 < out.size)
            out.dst[out.used++] = text[i];
        else
            out.overflow = 1;
    }
}

// The conversions the program uses, and no more: %s (with a precision such
// as %.200s), %u, %d and %%. Numbers are 32-bit (unsigned long and long, the
// same on every Windows). Anything else fails the whole format.
static int FormatTextV(FormatOutput &out, const char *format, va_list args)
{
    for (const char *p = format; *p != '\0'; p++) {
        if (*p != '%') {
            PutText(out, p, 1);
            continue;
        }
        p++;
        int hasPrecision = 0;
        size_t precision = 0;
        if (*p == '.') {
            hasPrecision = 1;
            for (p++; *p >= '0' && *p <= '9'; p++)
                precision = precision * 10 + (size_t)(*p - '0');
        }
        if (*p == '%' && !hasPrecision) {
            PutText(out, p, 1);
            continue;
        }
        if (*p == 's') {
            const char *text = va_arg(args, const char *);
            PutText(out, text, hasPrecision ? strnlen(text, precision) : strlen(text));
            continue;
        }
        if ((*p != 'u' && *p != 'd') || hasPrecision)
            return 0;
        unsigned long value = va_arg(args, unsigned int);
        char digits[12];
        size_t n = sizeof digits;
        int negative = *p == 'd' && (long)value < 0;
        if (negative)
            value = 0ul - value;
        do {
            digits[--n] = (char)('0' + value % 10);
            value /= 10;
        } while (value != 0);
        if (negative)
            digits[--n] = '-';
        PutText(out, digits + n, sizeof digits - n);
    }
    return !out.overflow;
}

int FormatText(char *dst, size_t size, const char *format, ...)
{
    if (size == 0)
        return 0;
    FormatOutput out = {dst, size, 0, 0};
    va_list args;
    va_start(args, format);
    int whole = FormatTextV(out, format, args);
    va_end(args);
    if (!whole) {
        dst[0] = '\0';
        return 0;
    }
    dst[out.used] = '\0';
    return 1;
}

int JoinPath(char *dst, size_t size, const char *directory, const char *name)
{
    return FormatText(dst, size, "%s\\%s", directory, name);
}

int JoinText(char *dst, size_t size, const char *first, const char *second)
{
    return FormatText(dst, size, "%s%s", first, second);
}

int SameText(const char *a, const char *b)
{
    return lstrcmpiA(a, b) == 0;
}
