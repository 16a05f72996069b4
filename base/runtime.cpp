// The standard string and memory functions the program calls, under their
// standard names, so that it needs no C runtime DLL: msvcrt.dll is not on
// every system the program must start on. The compiler also calls memcpy,
// memmove and memset on its own for structure copies and zero-filling.
// Built without the compiler's loop-to-call rewriting, which would turn these
// loops back into calls to themselves.
#include <string.h>

extern "C" {

void *memcpy(void *__restrict__ dst, const void *__restrict__ src, size_t count)
{
    unsigned char *to = (unsigned char *)dst;
    const unsigned char *from = (const unsigned char *)src;
    while (count-- > 0)
        *to++ = *from++;
    return dst;
}

void *memmove(void *dst, const void *src, size_t count)
{
    unsigned char *to = (unsigned char *)dst;
    const unsigned char *from = (const unsigned char *)src;
    if (to <= from || to >= from + count) {
        while (count-- > 0)
            *to++ = *from++;
    } else {
        // Overlapping with the destination above: copy from the end.
        to += count;
        from += count;
        while (count-- > 0)
            *--to = *--from;
    }
    return dst;
}

void *memset(void *dst, int value, size_t count)
{
    unsigned char *to = (unsigned char *)dst;
    while (count-- > 0)
        *to++ = (unsigned char)value;
    return dst;
}

int memcmp(const void *a, const void *b, size_t count)
{
    const unsigned char *x = (const unsigned char *)a;
    const unsigned char *y = (const unsigned char *)b;
    for (; count > 0; count--, x++, y++) {
        if (*x != *y)
            return *x < *y ? -1 : 1;
    }
    return 0;
}

void *memchr(const void *s, int c, size_t count)
{
    const unsigned char *p = (const unsigned char *)s;
    for (; count > 0; count--, p++) {
        if (*p == (unsigned char)c)
            return (void *)p;
    }
    return nullptr;
}

size_t strlen(const char *s)
{
    const char *p = s;
    while (*p != '\0')
        p++;
    return (size_t)(p - s);
}

size_t strnlen(const char *s, size_t limit)
{
    size_t n = 0;
    while (n < limit && s[n] != '\0')
        n++;
    return n;
}

char *strchr(const char *s, int c)
{
    for (;; s++) {
        if (*s == (char)c)
            return (char *)s;
        if (*s == '\0')
            return nullptr;
    }
}

char *strrchr(const char *s, int c)
{
    const char *found = nullptr;
    for (;; s++) {
        if (*s == (char)c)
            found = s;
        if (*s == '\0')
            return (char *)found;
    }
}

int strcmp(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        a++;
        b++;
    }
    return (unsigned char)*a - (unsigned char)*b;
}

int strncmp(const char *a, const char *b, size_t count)
{
    for (; count > 0; count--, a++, b++) {
        if (*a != *b)
            return (unsigned char)*a - (unsigned char)*b;
        if (*a == '\0')
            return 0;
    }
    return 0;
}

char *strstr(const char *text, const char *word)
{
    if (*word == '\0')
        return (char *)text;
    for (; *text != '\0'; text++) {
        const char *t = text;
        const char *w = word;
        while (*w != '\0' && *t == *w) {
            t++;
            w++;
        }
        if (*w == '\0')
            return (char *)text;
    }
    return nullptr;
}

size_t strspn(const char *s, const char *accept)
{
    size_t n = 0;
    while (s[n] != '\0' && strchr(accept, s[n]) != nullptr)
        n++;
    return n;
}

size_t strcspn(const char *s, const char *reject)
{
    size_t n = 0;
    while (s[n] != '\0' && strchr(reject, s[n]) == nullptr)
        n++;
    return n;
}

char *strpbrk(const char *s, const char *accept)
{
    s += strcspn(s, accept);
    return *s != '\0' ? (char *)s : nullptr;
}

// Copies at most count characters and fills the rest with NULs; like the
// standard one it leaves dst unterminated when src has count characters or more.
char *strncpy(char *dst, const char *src, size_t count)
{
    size_t i = 0;
    for (; i < count && src[i] != '\0'; i++)
        dst[i] = src[i];
    for (; i < count; i++)
        dst[i] = '\0';
    return dst;
}

}
