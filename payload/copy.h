// The decompressing copy of the carried files into their destinations.
#ifndef TARNLINK_COPY_H
#define TARNLINK_COPY_H

#include <windows.h>

#include "table.h"

// Results of ExpandFile.
enum ExpandResult { EXPAND_DONE = 0, EXPAND_NO_SOURCE = 2, EXPAND_NO_DESTINATION = 3,
                    EXPAND_FAILED = -1 };

// The disk of the last file copied; 0 before any.
extern unsigned currentDisk;

// Copies every row from `sourceDir` (ending in a backslash) into the
// destination its destDirKind picks, under the progress window. Returns 1 when
// every row was processed, 0 when a required file failed or the user pressed
// Cancel.
int CopyPayload(HINSTANCE instance, HWND owner, const char *sourceDir, const char *programDir,
                const char *dataDir, const char *webDir);

// Copies one row, prompting for another attempt while it fails. Returns 0 when
// the file is in place or the row is optional, 1 when a required file failed
// (after its message). A path that does not fit is never cut: a source path
// fails as a missing source, a destination path as one that can't be created.
int CopyPayloadFile(PayloadEntry &row, const char *sourceDir, const char *destDir, HWND owner,
                    HWND statusLine);

// Expands `sourcePath` (its underscore name preferred) into `destPath`.
// `sourcePath` is writable: its last character is changed on the way and put
// back before the call returns.
int ExpandFile(char *sourcePath, const char *destPath);

#endif
