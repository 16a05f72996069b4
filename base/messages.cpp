#include "messages.h"

#include <stdarg.h>
#include <string.h>

#include "product.h"
#include "session.h"
#include "system.h"
#include "text.h"


int LoadMessageString(UINT id, char *buffer, size_t size)
{
    if (size == 0)
        return 0;
    if (LoadStringA(session.instance, id, buffer, (int)size) > 0 && buffer[0] != '\0')
        return 1;
    char fallback[2048];
    FormatText(fallback, sizeof fallback, "%u DEBUG - Unable to load string", id);
    strncpy(buffer, fallback, size);
    buffer[size - 1] = '\0';
    return 0;
}

static int ExpandMessage(char *out, size_t size, const char *templateText, va_list *args)
{
    char *expanded = nullptr;
    // No line-width limit: the template's own line feeds pass through.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                  templateText, 0, 0, (LPSTR)&expanded, 0, args);
    if (length == 0 || expanded == nullptr)
        return 0;
    // Wine's FormatMessage turns a bare line feed into CR LF; the template's
    // line feeds are meant to pass through as they are.
    if (strchr(templateText, '\r') == nullptr) {
        DWORD kept = 0;
        for (DWORD i = 0; i < length; i++) {
            if (!(expanded[i] == '\r' && i + 1 < length && expanded[i + 1] == '\n'))
                expanded[kept++] = expanded[i];
        }
        length = kept;
    }
    int whole = 1;
    if (length >= size) {
        // A message is shown and logged, never used as a path: keep what fits.
        length = (DWORD)(size - 1);
        whole = 0;
    }
    memcpy(out, expanded, length);
    out[length] = '\0';
    LocalFree(expanded);
    return whole;
}

int FormatMessageText(char *out, size_t size, const char *templateText, ...)
{
    if (size == 0)
        return 0;
    va_list args;
    va_start(args, templateText);
    int result = ExpandMessage(out, size, templateText, &args);
    va_end(args);
    return result;
}

static void BuildMessageV(char *out, size_t size, UINT id, va_list *args)
{
    char templateText[TEMPLATE_SIZE];
    int loaded = LoadMessageString(id, templateText, sizeof templateText);
    // The template stands when it could not be loaded or expanded.
    CopyText(out, size, templateText);
    if (loaded)
        ExpandMessage(out, size, templateText, args);
}

void BuildMessage(char *out, size_t size, UINT id, ...)
{
    if (size == 0)
        return;
    va_list args;
    va_start(args, id);
    BuildMessageV(out, size, id, &args);
    va_end(args);
}

// Writes one log line: the text and a closing line feed, with every line feed
// stored as CR LF as a text-mode file stream would (a CR already in the text
// stays). A line of a usual message goes out in one write.
static void WriteLogLine(HANDLE file, const char *text)
{
    char chunk[1024];
    size_t used = 0;
    DWORD written;
    for (const char *p = text;; p++) {
        char c = *p != '\0' ? *p : '\n';
        if (c == '\n')
            chunk[used++] = '\r';
        chunk[used++] = c;
        // Room for the next CR LF pair, or the line is complete.
        if (used + 2 > sizeof chunk || *p == '\0') {
            WriteFile(file, chunk, (DWORD)used, &written, nullptr);
            used = 0;
        }
        if (*p == '\0')
            return;
    }
}

// Opens "setup.log" in the current directory, a downloads folder as often as
// not, without ever writing through a link someone put there: a link or
// junction is refused, and so is a file with a second name (a hard link),
// whose other name may be anywhere. A missing log is made only as a new
// plain file, so a dangling link cannot create its target.
static HANDLE OpenLog()
{
    // No sharing restriction: others may read or write it meanwhile. Its
    // attributes are read back, so the handle asks for that too.
    const DWORD access = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | OpenReparsePointFlag();
    HANDLE log = CreateFileA("setup.log", access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            return log;
        return CreateFileA("setup.log", access, share, nullptr, CREATE_NEW, flags, nullptr);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(log, &info) || IsReparsePoint(info.dwFileAttributes) ||
        info.nNumberOfLinks != 1) {
        CloseHandle(log);
        return INVALID_HANDLE_VALUE;
    }
    return log;
}

void LogLine(const char *text)
{
    if (!session.logEnabled)
        return;
    // Opened for every line and appended at the end. A log that cannot be
    // opened, or is refused, turns logging off for the rest of the run.
    HANDLE log = OpenLog();
    if (log == INVALID_HANDLE_VALUE) {
        session.logEnabled = 0;
        return;
    }
    SetFilePointer(log, 0, nullptr, FILE_END);
    WriteLogLine(log, text);
    CloseHandle(log);
}

void LogOutcome(const char *what, const char *outcome, const char *name)
{
    char line[TEXT_FIELD + 32];
    if (FormatText(line, sizeof line, "%s %s: %s", what, outcome, name))
        LogLine(line);
}

static void LogMessageV(char *text, size_t size, UINT id, va_list *args)
{
    BuildMessageV(text, size, id, args);
    LogLine(text);
}

void LogMessage(UINT id, ...)
{
    char text[MESSAGE_SIZE];
    va_list args;
    va_start(args, id);
    LogMessageV(text, sizeof text, id, &args);
    va_end(args);
}

int ReportMessage(HWND owner, const char *caption, UINT style, UINT id, ...)
{
    char text[MESSAGE_SIZE];
    va_list args;
    va_start(args, id);
    LogMessageV(text, sizeof text, id, &args);
    va_end(args);
    if (session.quiet)
        return 0;
    return MessageBoxA(owner, text, caption, style);
}

int AskQuestion(HWND owner, const char *text, const char *caption, UINT style)
{
    if (session.quiet) {
        LogLine(text);
        return 0;
    }
    return MessageBoxA(owner, text, caption, style);
}

int PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (session.activeDialog != nullptr && IsDialogMessageA(session.activeDialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 1;
}

void CenterWindow(HWND window, int offset)
{
    RECT box, desktop;
    GetWindowRect(window, &box);
    GetWindowRect(GetDesktopWindow(), &desktop);
    int width = box.right - box.left;
    int height = box.bottom - box.top;
    int left = (desktop.right - desktop.left) / 2 - width / 2;
    int top = (desktop.bottom - desktop.top) / 2 - height / 2;
    if (offset != 0)
        top += offset;
    if (left < 0)
        left = 0;
    if (top < 0)
        top = 0;
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW);
}
