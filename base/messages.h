// Message texts, the setup log, message pumping and dialog placement.
#ifndef TARNLINK_MESSAGES_H
#define TARNLINK_MESSAGES_H

#include <stddef.h>
#include <windows.h>

// Loads string-table entry `id`; on failure the buffer holds the fallback
// text "<id> DEBUG - Unable to load string" (cut to the buffer) and 0 is
// returned. A size of 0 leaves the buffer alone.
int LoadMessageString(UINT id, char *buffer, size_t size);

// Loads message `id` and expands its inserts into `out`: the usual way a
// message is built. A message that cannot be loaded gives the loader's
// fallback text unexpanded.
void BuildMessage(char *out, size_t size, UINT id, ...);

// Builds message `id` with its inserts and logs it.
void LogMessage(UINT id, ...);

// Appends one line to "setup.log" in the current directory when logging is on.
void LogLine(const char *text);
// Logs "<what> <outcome>: <name>" ("icon refused: Tarnlink Suite").
void LogOutcome(const char *what, const char *outcome, const char *name);

// Builds message `id`, logs it and, unless quiet, shows it in a message box.
// Returns the box's answer, or 0 when nothing was shown.
int ReportMessage(HWND owner, const char *caption, UINT style, UINT id, ...);

// Puts a question in a message box and returns the answer. A quiet run has
// nobody to answer: the text is logged and 0 returned, which every caller
// takes as Cancel or No.
int AskQuestion(HWND owner, const char *text, const char *caption, UINT style);

// Dispatches every pending message of this thread; never waits.
int PumpMessages();

// Centres a window on the desktop, moved down by `offset` pixels.
void CenterWindow(HWND window, int offset);

// For the suites.
// Expands the inserts ("%1!s!", "%2!u!", ...) of a template. Returns 1 when
// `out` holds the whole expanded text. When the expansion fails, `out` is left
// as it was; when it is longer than `size`, `out` holds its first size - 1
// characters and 0 is returned.
int FormatMessageText(char *out, size_t size, const char *templateText, ...);

#endif
