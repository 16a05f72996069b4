// Checks on directories and names that come from the user or from records
// (WIN.INI), before anything is created, deleted or sent in their name.
#ifndef TARNLINK_NAMES_H
#define TARNLINK_NAMES_H

#include <stddef.h>

// 1 for a drive path ("X:" or "X:\...") or a UNC path ("\\server\share...");
// 0 for anything that depends on a current directory.
int IsAbsolutePath(const char *path);

// 1 when the name can stand in a Program Manager command: no '"', '[', ']'
// and no control character.
int IsUsableProgmanName(const char *name);

// Reads a WIN.INI value of the product's section into `value` (at most 1024
// bytes). Returns 1 when a non-empty value fits whole, 0 when it is absent or
// empty, and -1 when it does not fit: `value` then holds only its beginning,
// for the log, and must not be used.
int ReadProfileValue(const char *key, const char *fallback, char *value, size_t size);

// Reads the recorded GROUP (with `fallback` for a missing key) when it can
// be named in a Program Manager command: 1. 0 when it is empty; -1 when it
// is unusable or too long to be read whole, which is logged.
int ReadRecordedGroup(const char *fallback, char *group, size_t size);

#endif
