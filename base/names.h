// Checks on directories and names that come from the user or from records
// (WIN.INI and the registry), before anything is created, deleted or sent in
// their name.
#ifndef TARNLINK_NAMES_H
#define TARNLINK_NAMES_H

#include <stddef.h>
#include <windows.h>

#include "outcome.h"

// 1 for a drive path ("X:" or "X:\...") or a UNC path ("\\server\share...");
// 0 for anything that depends on a current directory.
int IsAbsolutePath(const char *path);

// 1 when the name can stand in a Program Manager command: no '"', '[', ']'
// and no control character.
int IsUsableProgmanName(const char *name);

// 1 when the name can be a Program Manager group: usable in a command, and
// a single folder name as the shell keeps groups (no \ / : * ? " < > |, not
// "." or "..", no dot or blank at its end, no device name such as CON or
// LPT1, with or without an extension). An empty name is not one.
int IsUsableGroupName(const char *name);

// Reads a REG_SZ value: DONE when it was read whole, its NUL included; NONE
// when the key or the value is absent; UNUSABLE when it is of another type
// or does not fit `size`.
Outcome ReadRegistryText(HKEY root, const char *keyPath, const char *name, char *text, size_t size);

// The Start Menu's "Programs" folder of the user (`common` 0) or of all
// users (1), where the shell keeps the groups as folders and the items as
// shortcuts in them; 0 when the system does not say (the Program Manager of
// NT 3.51 keeps its own files).
int ReadProgramsFolder(int common, char *path, size_t size);

// Reads a WIN.INI value of the product's section into `value` (at most 1024
// bytes). DONE when a non-empty value fits whole, NONE when it is absent or
// empty, and UNUSABLE when it does not fit: `value` then holds only its
// beginning, for the log, and must not be used.
Outcome ReadProfileValue(const char *key, const char *fallback, char *value, size_t size);

// 1 when a removal may name the group in the Program Manager's commands:
// usable in a command, and nothing that could reach outside the Programs
// folder (no \ or /, no drive, not "." or ".."). Any other name an earlier
// version recorded ("Net: Tools") is one.
int IsRemovableGroupName(const char *name);

// Reads the recorded GROUP (with `fallback` for a missing key) when `usable`
// accepts it: DONE. NONE when it is empty; UNUSABLE when it is unusable or
// too long to be read whole, which is logged.
Outcome ReadRecordedGroup(const char *fallback, char *group, size_t size,
                          int (*usable)(const char *name));
// Logs that the recorded group cannot be used.
void LogUnusableGroup(const char *group);

#endif
