// What a removal takes away, shared by the setup program's removal and the
// uninstaller: the payload files, the product keys, the program items, the
// default group and the directory once it is empty. Where the directories and
// the group come from, and what the user is told, is the caller's.
#ifndef TARNLINK_RULES_H
#define TARNLINK_RULES_H

#include <stddef.h>
#include <windows.h>

constexpr size_t REMOVAL_PATH_SIZE = 512;

// What a removal left behind.
struct RemovalReport {
    int filesLeft;          // payload files still there afterwards
    int keysRemoved;        // the product keys are gone from both hives
    int directoryRemoved;
};

// Removes what an installation into installDir left: payload files (web
// rows from installDir\web, all others from installDir), the product keys,
// and, when group is not empty, its items, the group itself when it carries
// the default name, and the emptied directory. Logs each step.
void RemoveProduct(const char *installDir, const char *group, RemovalReport &report);

// "C:" or "C:\": a drive root, which is never removed.
inline int IsDriveRoot(const char *d)
{
    return d[0] != '\0' && d[1] == ':' && (d[2] == '\0' || (d[2] == '\\' && d[3] == '\0'));
}

int DeleteRegistryTree(const char *keyPath, HKEY root);

// The maker's key "Software\Quorvale" in both hives, when nothing else of
// the maker is left in it.
void RemoveEmptyVendorKeys();

// The Uninstall key of the product under HKEY_LOCAL_MACHINE, named after
// the product's display name.
extern const char PRODUCT_UNINSTALL_KEY[];

inline void DeleteUninstallEntry()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY);
}

#endif
