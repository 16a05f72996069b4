// The progress window shared by the extraction and the copy.
#ifndef TARNLINK_PROGRESS_H
#define TARNLINK_PROGRESS_H

#include <windows.h>

// Set by the progress window's Cancel button; read by the copy before each row.
extern int copyCancelled;

// Creates the progress window DLG_COPY owned by `owner` and makes it the
// session's active dialog. Returns its status line, or null when quiet or when
// the window can't be created (then there is no window and no active dialog).
HWND OpenProgressWindow(HINSTANCE instance, HWND owner);

// Puts a text on the status line; a null status line is ignored.
void ShowStatus(HWND statusLine, const char *text);

// Gives the owner the activation back, destroys the progress window if there
// is one and clears the session's active dialog.
void CloseProgressWindow(HWND owner);

#endif
