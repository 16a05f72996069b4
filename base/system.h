// What the running system offers, and the two ways this program keeps its
// hands off what others planted: system DLLs only from the system directory,
// and directories of its own held open while it works in them.
#ifndef TARNLINK_SYSTEM_H
#define TARNLINK_SYSTEM_H

#include <windows.h>

#include "lookup.h"

// Loads a DLL of the system by its full path in the system directory, never
// from beside the program or the current directory. Null when it cannot be
// loaded (GetLastError tells why).
HMODULE LoadSystemLibrary(const char *name);

// 1 on Windows NT, 0 on Windows 95.
int IsWindowsNT();


// Opens a file to read it, others reading too but nobody writing it
// meanwhile; `flags` go with FILE_ATTRIBUTE_NORMAL.
HANDLE OpenForReading(const char *path, DWORD flags);

// Opens a file to judge it and perhaps delete it through the handle: nobody
// else may write, rename or delete it while it is open. On Windows 2000 and
// later a link is opened itself, not what it leads to.
HANDLE OpenForJudging(const char *path);

// Deletes the file open on `file` (from OpenForJudging) and closes the
// handle: through the handle on Windows NT, so that the file that was judged
// is the one that goes; by `path` on Windows 95, which has no links. 1 when
// it was deleted.
int DeleteJudgedFile(HANDLE file, const char *path);

// FILE_FLAG_OPEN_REPARSE_POINT where the system knows it (Windows 2000 and
// later), else 0: older systems may refuse a flag they do not know.
DWORD OpenReparsePointFlag();

// 1 when the attributes name a link or junction rather than a plain entry.
inline int IsReparsePoint(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Opens a directory this program has just made, checks that it is a plain
// directory (not a link or junction to somewhere else) and keeps it from being
// renamed or removed while `held` is open. 0 when it is not a plain directory
// or cannot be held. Windows 95 cannot open a directory: `held` is then
// INVALID_HANDLE_VALUE and only the attributes are checked.
int HoldDirectory(const char *path, HANDLE &held);

// Closes what HoldDirectory opened (INVALID_HANDLE_VALUE is left alone).
void ReleaseDirectory(HANDLE &held);

// Makes a new directory "<parent><prefix>NNNNN.tmp" (parent ending in a
// backslash) that was not there before, and holds it (HoldDirectory). A name
// that is taken, by anyone, is never used: another number is tried, the
// first one derived from the process id. `path` gets the name, without a
// closing backslash. 0 when none could be made and held.
int MakeOwnDirectory(const char *parent, const char *prefix, char *path, size_t size,
                     HANDLE &held);

#endif
