// The runs' own directories under the temporary directory, which anyone may
// write into: each is made new and marked alive while its run lives, and a
// killed run's is taken away only as far as its bytes prove it a run's.
#ifndef TARNLINK_TEMPDIRS_H
#define TARNLINK_TEMPDIRS_H

#include <stddef.h>
#include <windows.h>

// CRC-32 (reflected polynomial EDB88320, as in zip) of `size` bytes,
// continued from `crc` (0 to start).
DWORD Crc32(DWORD crc, const void *bytes, size_t size);

// Length and CRC-32 of what `file` holds from where it stands; reading stops
// past `limit` bytes. 0 when it cannot be read.
int FileSum(HANDLE file, DWORD limit, DWORD &length, DWORD &crc);

// The platform's temporary directory, ending in a backslash. 0 when it does
// not fit in `size`; `directory` is then empty.
int TempDirectory(char *directory, size_t size);

// A file a run leaves in its directory, and the bytes it holds there.
struct RunFile {
    const char *name;
    DWORD length;
    DWORD crc;
};

// Deletes the file only when it holds exactly these bytes. It is opened so
// that nobody may write, rename or delete it meanwhile, judged and deleted
// through that handle: a link is judged, and deleted, as what it leads to,
// since the platform may delete a link's target whatever is asked. 1 when
// it was deleted.
int DeleteIfHolds(const char *path, DWORD length, DWORD crc);

// Makes the marker of a live run in `directory`, a new file holding the
// marker's text, and returns its handle, which the run keeps open (the run's
// children too, when `inheritable`); INVALID_HANDLE_VALUE when it cannot be
// made.
HANDLE CreateRunMarker(const char *directory, int inheritable);

// Deletes a run's own marker (its handle closed) when it holds the marker's
// text.
void RemoveRunMarker(const char *directory);

// Takes away the directories "<tempDir><prefix>NNNNN.tmp" of runs that ended
// without their clean-up (killed, or the power went). Only one whose marker
// nobody holds and holds the marker's text, or that has no marker, counts;
// of it, a file of `files`
// goes only when it holds exactly the bytes given, then the marker, then the
// directory when that left it empty. Anything else stays, and so does its
// directory; a directory that is a link is never entered.
void RemoveDeadRunDirectories(const char *tempDir, const char *prefix, const RunFile *files,
                              int count);

#endif
