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

static void PutChar(FormatOutput &out, char c)
{
    if (out.used + 1 < out.size)
        out.dst[out.used++] = c;
    else
        out.overflow = 1;
}

static void PutPadded(FormatOutput &out, const char *text, size_t length, size_t width, int left,
                      char pad)
{
    size_t fill = width > length ? width - length : 0;
    if (!left) {
        // Zero padding goes after a minus sign, space padding before it.
        if (pad == '0' && length > 0 && text[0] == '-') {
            PutChar(out, '-');
            text++;
            length--;
        }
        for (; fill > 0; fill--)
            PutChar(out, pad);
    }
    for (size_t i = 0; i < length; i++)
        PutChar(out, text[i]);
    for (; fill > 0; fill--)
        PutChar(out, ' ');
}

// The conversions the program uses: %s (with a precision), %c, %d, %i, %u,
// %x, %X and %%, with the flags '-' and '0', a width, and the length
// modifiers h, l, ll and z. Anything else fails the whole format.
static int FormatTextV(FormatOutput &out, const char *format, va_list args)
{
    for (const char *p = format; *p != '\0'; p++) {
        if (*p != '%') {
            PutChar(out, *p);
            continue;
        }
        p++;
        int left = 0;
        char pad = ' ';
        for (;; p++) {
            if (*p == '-')
                left = 1;
            else if (*p == '0')
                pad = '0';
            else
                break;
        }
        size_t width = 0;
        if (*p == '*') {
            int w = va_arg(args, int);
            if (w < 0) {
                left = 1;
                w = -w;
            }
            width = (size_t)w;
            p++;
        }
        for (; *p >= '0' && *p <= '9'; p++)
            width = width * 10 + (size_t)(*p - '0');
        int hasPrecision = 0;
        size_t precision = 0;
        if (*p == '.') {
            hasPrecision = 1;
            p++;
            if (*p == '*') {
                int n = va_arg(args, int);
                if (n < 0)
                    hasPrecision = 0;
                else
                    precision = (size_t)n;
                p++;
            }
            for (; *p >= '0' && *p <= '9'; p++)
                precision = precision * 10 + (size_t)(*p - '0');
        }
        int longs = 0, sizeType = 0;
        for (;; p++) {
            if (*p == 'l')
                longs++;
            else if (*p == 'z')
                sizeType = 1;
            else if (*p != 'h')
                break;
        }
        if (left)
            pad = ' ';

        char digits[24];
        size_t n = sizeof digits;
        unsigned long long value = 0;
        int negative = 0;
        switch (*p) {
        case '%':
            PutChar(out, '%');
            continue;
        case 'c': {
            char c = (char)va_arg(args, int);
            PutPadded(out, &c, 1, width, left, ' ');
            continue;
        }
        case 's': {
            const char *text = va_arg(args, const char *);
            if (text == nullptr)
                text = "(null)";
            size_t length = hasPrecision ? strnlen(text, precision) : strlen(text);
            PutPadded(out, text, length, width, left, ' ');
            continue;
        }
        case 'd':
        case 'i': {
            long long signedValue = sizeType ? (long long)va_arg(args, ptrdiff_t)
                                    : longs >= 2 ? va_arg(args, long long)
                                    : longs == 1 ? (long long)va_arg(args, long)
                                                 : (long long)va_arg(args, int);
            negative = signedValue < 0;
            value = negative ? 0ull - (unsigned long long)signedValue
                             : (unsigned long long)signedValue;
            break;
        }
        case 'u':
        case 'x':
        case 'X':
            value = sizeType ? (unsigned long long)va_arg(args, size_t)
                    : longs >= 2 ? va_arg(args, unsigned long long)
                    : longs == 1 ? (unsigned long long)va_arg(args, unsigned long)
                                 : (unsigned long long)va_arg(args, unsigned int);
            break;
        default:
            return 0;
        }
        unsigned base = (*p == 'u' || *p == 'd' || *p == 'i') ? 10 : 16;
        const char *set = *p == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        do {
            digits[--n] = set[value % base];
            value /= base;
        } while (value != 0);
        if (negative)
            digits[--n] = '-';
        PutPadded(out, digits + n, sizeof digits - n, width, left, pad);
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

int SameText(const char *a, const char *b)
{
    return lstrcmpiA(a, b) == 0;
}
