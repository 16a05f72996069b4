// The decompressing copy of the carried files into their destinations.
#ifndef TARNLINK_COPY_H
#define TARNLINK_COPY_H

#include <windows.h>

#include "table.h"

// Results of ExpandFile.
enum ExpandResult { EXPAND_DONE = 0, EXPAND_NO_SOURCE = 2, EXPAND_NO_DESTINATION = 3,
                    EXPAND_DISK_FULL = 4, EXPAND_NOT_CARRIED = 5, EXPAND_FAILED = -1 };

// The disk of the last file copied; 0 before any.
extern unsigned currentDisk;

// Copies every row from `sourceDir` (ending in a backslash) into the
// destination its destDirKind picks, under the progress window. Returns 1 when
// every row was processed, 0 when a required file failed or the user pressed
// Cancel.
int CopyPayload(HINSTANCE instance, HWND owner, const char *sourceDir, const char *programDir,
                const char *dataDir, const char *webDir);

// For the suites.
// Copies one row, prompting for another attempt while it fails. A file
// expanded from this run's extraction directory that is not exactly the
// carried one (its recorded length and CRC-32) is deleted and fails at once,
// saying so; one from a directory the user named is installed, and logged.
// Marks the row PAYLOAD_COPIED; what a failed attempt left of a new file is
// deleted. Returns 0 when the file is in place or the row is optional, 1 when a required file failed
// (after its message, which holds the failed attempt's error code). A path
// that does not fit is never cut: a source path fails as a missing source, a
// destination path as one that can't be created.
int CopyPayloadFile(PayloadEntry &row, const char *sourceDir, const char *destDir, HWND owner,
                    HWND statusLine);

// Expands `sourcePath` (its underscore name preferred) into `destPath`, which
// is written under that name only: a destination that cannot be opened for
// writing is EXPAND_NO_DESTINATION. A write that fails on a full disk is
// EXPAND_DISK_FULL. `sourcePath` is writable: its last character is changed on
// the way and put back before the call returns.
int ExpandFile(char *sourcePath, const char *destPath);

#endif
