#include "args.h"

#include "../base/names.h"
#include "../base/text.h"

static int IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

const char *SkipBlanks(const char *text)
{
    while (IsBlank(*text))
        text++;
    return text;
}

// A switch stands at the start or after a blank: '-', one of its letters,
// then a blank or the end.
static int SwitchAt(const char *p)
{
    if (p[0] != '-' || (p[2] != '\0' && !IsBlank(p[2])))
        return 0;
    for (const char *letter = "fdgoqsw"; *letter != '\0'; letter++) {
        if (p[1] == *letter)
            return 1;
    }
    return 0;
}

// Reads the value after a switch; returns where the text goes on, or nullptr
// when the value is missing, unterminated or does not fit.
static const char *ReadValue(const char *p, char *value, size_t size)
{
    while (IsBlank(*p))
        p++;
    const char *start = p;
    const char *end;
    if (*p == '"') {
        start = ++p;
        while (*p != '\0' && *p != '"')
            p++;
        if (*p != '"' || (p[1] != '\0' && !IsBlank(p[1])))
            return nullptr;
        end = p++;
    } else {
        // Unquoted, as earlier versions wrote it: blanks belong to the value,
        // which runs up to the next switch.
        while (*p != '\0' && !(IsBlank(*p) && SwitchAt(p + 1)))
            p++;
        end = p;
        while (end > start && IsBlank(end[-1]))
            end--;
    }
    size_t length = (size_t)(end - start);
    if (length == 0 || length >= size)
        return nullptr;
    for (size_t i = 0; i < length; i++)
        value[i] = start[i];
    value[length] = '\0';
    return p;
}

// An absolute directory; one trailing backslash is dropped, as the setup
// program records it.
static int CheckDirectory(char *directory)
{
    size_t length = lstrlenA(directory);
    if (length > 2 && directory[length - 1] == '\\')
        directory[--length] = '\0';
    return IsAbsolutePath(directory);
}

int ParseArguments(const char *text, Arguments &args)
{
    unsigned &seen = args.seen;
    seen = 0;
    const char *p = text;
    for (;;) {
        p = SkipBlanks(p);
        if (*p == '\0')
            break;
        if (!SwitchAt(p))
            return 0;
        char letter = p[1];
        unsigned bit = 1u << (letter - 'a');
        if (seen & bit)
            return 0;
        seen |= bit;
        p += 2;
        if (letter == 'q' || letter == 's') {
            args.quiet = 1;
            continue;
        }
        char number[24];
        switch (letter) {
        case 'f': p = ReadValue(p, args.programDir, sizeof args.programDir); break;
        case 'd': p = ReadValue(p, args.dataDir, sizeof args.dataDir); break;
        case 'g': p = ReadValue(p, args.group, sizeof args.group); break;
        default: p = ReadValue(p, number, sizeof number); break;
        }
        if (p == nullptr)
            return 0;
        if (letter == 'w' || letter == 'o') {
            ULONG_PTR handle = 0;
            for (const char *digit = number; *digit != '\0'; digit++) {
                if (*digit < '0' || *digit > '9')
                    return 0;
                handle = handle * 10 + (ULONG_PTR)(*digit - '0');
            }
            (letter == 'w' ? args.firstProcess : args.outcome) = (HANDLE)handle;
        }
    }
    if (!(seen & (1u << ('f' - 'a'))) || !(seen & (1u << ('g' - 'a'))))
        return 0;
    if (!(seen & (1u << ('d' - 'a'))))
        CopyText(args.dataDir, sizeof args.dataDir, args.programDir);
    return CheckDirectory(args.programDir) && CheckDirectory(args.dataDir);
}

int ReadRecordedArguments(char *arguments, size_t size)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return 0;
    char line[COMMAND_SIZE];
    DWORD length = sizeof line - 1;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, "UninstallString", nullptr, &type, (BYTE *)line, &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return 0;
    line[length] = '\0';
    const char *p = line;
    if (*p == '"') {
        p++;
        while (*p != '\0' && *p != '"')
            p++;
        if (*p == '"')
            p++;
    } else {
        while (*p != '\0' && !(IsBlank(*p) && SwitchAt(p + 1)))
            p++;
    }
    Arguments read = {};
    ParseArguments(p, read);
    return CopyText(arguments, size, p) && (read.seen & 1u << ('f' - 'a'));
}
