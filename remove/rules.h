// What a removal takes away, shared by the setup program's removal and the
// uninstaller: the payload files, the product keys, the program items, the
// default group and the directory once it is empty. Where the directories and
// the group come from, and what the user is told, is the caller's.
#ifndef TARNLINK_RULES_H
#define TARNLINK_RULES_H

#include <stddef.h>
#include <windows.h>

#include "../base/product.h"


// What a removal left behind.
struct RemovalReport {
    int filesLeft;          // payload files still there afterwards
    int keysRemoved;        // the product keys are gone from both hives
    // The directory was removed now or by an earlier try; a drive root,
    // which is never removed, counts when its files are gone.
    int directoryGone;
    int entryLeft;          // the Uninstall entry was to go and could not
    // Shortcuts of the items, or the default group's folder, that the
    // Program Manager left where the shell keeps them, the first of them
    // named.
    int itemsLeft;
    char itemLeft[PATH_SIZE];
    int deferred;           // the uninstaller's file and the directory go later
    // Nothing of the installation stays: every payload file, the uninstaller
    // included, the keys and the entry (when it was to go) are gone, and so
    // is the directory unless it is a drive root.
    int complete;
};

// Removes what an installation into installDir left: payload files (web rows
// from installDir\web, all others from installDir), the product keys, and
// unless group is empty, the directory once it is empty. Items and the group
// (when it carries the default name) go only for a group that can be named in
// a command; a null group is one that cannot, and is left alone. The
// uninstaller's own file goes last, and only when nothing else stays: first
// the Uninstall entry that names it (when `deleteEntry`), then the file, so
// that a kept installation or entry keeps a program to remove it with. The
// file goes with DeleteFileA, or with `release` when given: 1 gone, 0 not,
// RELEASE_DEFERRED when it goes, with the directory, once the program that
// runs from it has ended (the uninstaller's first process). Logs each step.
constexpr int RELEASE_DEFERRED = 2;
typedef int (*ReleaseFile)(const char *path);
void RemoveProduct(const char *installDir, const char *group, ReleaseFile release,
                   int deleteEntry, RemovalReport &report);

// "C:" or "C:\": a drive root, which is never removed.
inline int IsDriveRoot(const char *d)
{
    return d[0] != '\0' && d[1] == ':' && (d[2] == '\0' || (d[2] == '\\' && d[3] == '\0'));
}

// The maker's key "Software\Quorvale" in both hives, when nothing else of
// the maker is left in it.
void RemoveEmptyVendorKeys();

// For the suites.
int DeleteRegistryTree(const char *keyPath, HKEY root);

#endif
