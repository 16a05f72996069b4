// The decompressing copy of the carried files into their destinations.
#ifndef TARNLINK_COPY_H
#define TARNLINK_COPY_H

#include <windows.h>

#include "table.h"

// Results of ExpandFile.
enum ExpandResult { EXPAND_DONE = 0, EXPAND_NO_SOURCE = 2, EXPAND_NO_DESTINATION = 3,
                    EXPAND_FAILED = -1 };

extern unsigned currentDisk;

int CopyPayload(HINSTANCE instance, HWND owner, const char *sourceDir, const char *programDir,
                const char *dataDir, const char *webDir);
int CopyPayloadFile(PayloadEntry &row, const char *sourceDir, const char *destDir, HWND owner,
                    HWND statusLine);
// `sourcePath` is writable: its last character is changed on the way.
int ExpandFile(char *sourcePath, const char *destPath);

#endif
