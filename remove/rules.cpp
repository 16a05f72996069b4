#include "rules.h"

#include <string.h>

#include "../base/messages.h"
#include "../base/product.h"
#include "../base/session.h"
#include "../base/system.h"
#include "../base/text.h"
#include "../payload/table.h"
#include "../progman/progman.h"
#include "../resources/resource.h"

constexpr size_t KEY_SIZE = 256;
constexpr size_t WORD_SIZE = 64;


// Deletes one payload file and logs the outcome; a help file takes its
// ".gid" companion with it. A file that stays is noted in the report.
static void RemoveFile(const char *directory, const char *name, const char *failedWord,
                       RemovalReport &report)
{
    char path[PATH_SIZE];
    if (!JoinPath(path, sizeof path, directory, name)) {
        // A path that does not fit is refused, never cut into another one.
        char shown[PATH_SIZE];
        FormatText(shown, sizeof shown, "%.200s...\\%s", directory, name);
        LogMessage(IDS_REMOVINGFILE, shown, failedWord);
        return;
    }
    int deleted = DeleteFileA(path) != 0;
    LogMessage(IDS_REMOVINGFILE, path, deleted ? "ok" : failedWord);
    // An absent file is not left behind.
    if (!deleted && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        report.filesLeft++;
    size_t length = strlen(path);
    if (length >= 4 && SameText(path + length - 4, ".hlp")) {
        CopyText(path + length - 4, 5, ".gid");
        DeleteFileA(path);
    }
}

static int KeyExists(HKEY root, const char *keyPath)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    RegCloseKey(key);
    return 1;
}

static int DeleteKeyTree(HKEY root, const char *keyPath)
{
    // Windows 95 deletes a whole tree in one call; NT refuses a key that has
    // subkeys, and the walk takes it apart.
    if (RegDeleteKeyA(root, keyPath) != ERROR_SUCCESS)
        DeleteRegistryTree(keyPath, root);
    return !KeyExists(root, keyPath);
}

// Returns 1 when the key is gone afterwards.
static int RemoveProductKey(HKEY root, UINT logId)
{
    if (RegDeleteKeyA(root, PRODUCT_KEY) == ERROR_SUCCESS)
        return 1;
    LogMessage(logId);
    return DeleteKeyTree(root, PRODUCT_KEY);
}

void RemoveEmptyVendorKeys()
{
    // A single delete would take a whole tree on Windows 95, so look first.
    static const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    for (HKEY root : roots) {
        HKEY vendor;
        if (RegOpenKeyExA(root, MAKER_KEY, 0, KEY_READ, &vendor) != ERROR_SUCCESS)
            continue;
        DWORD subkeys = 1, values = 1;
        RegQueryInfoKeyA(vendor, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         &values, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(vendor);
        if (subkeys == 0 && values == 0)
            RegDeleteKeyA(root, MAKER_KEY);
    }
}

int DeleteRegistryTree(const char *keyPath, HKEY root)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return 0;
    int result = 1;
    DWORD index = 0;
    char name[KEY_SIZE];
    while (RegEnumKeyA(key, index, name, sizeof name) == ERROR_SUCCESS) {
        if (RegDeleteKeyA(key, name) == ERROR_SUCCESS)
            continue;
        char subPath[KEY_SIZE];
        if (!JoinPath(subPath, sizeof subPath, keyPath, name) ||
            DeleteRegistryTree(subPath, root) == 0)
            result = 0;
        // A subkey that could be neither deleted nor emptied stays where it
        // is: step past it, or the walk would find it again for ever.
        char again[KEY_SIZE];
        if (RegEnumKeyA(key, index, again, sizeof again) == ERROR_SUCCESS &&
            strcmp(again, name) == 0) {
            result = 0;
            index++;
        }
    }
    RegCloseKey(key);
    RegDeleteKeyA(root, keyPath);
    return result;
}

// Whether the directory holds nothing but the uninstaller (or is gone): a
// file that is not ours keeps the directory, and with it the uninstaller.
static int OnlyUninstallerIn(const char *directory)
{
    char pattern[PATH_SIZE];
    WIN32_FIND_DATAA found;
    HANDLE search;
    if (!JoinPath(pattern, sizeof pattern, directory, "*"))
        return 0;
    if ((search = FindFirstFileA(pattern, &found)) == INVALID_HANDLE_VALUE)
        return GetFileAttributesA(directory) == INVALID_FILE_ATTRIBUTES;
    int only = 1;
    do {
        const char *name = found.cFileName;
        if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && !SameText(name, UNINSTALLER_NAME))
            only = 0;
    } while (only && FindNextFileA(search, &found));
    FindClose(search);
    return only;
}

// The uninstaller's file and the Uninstall entry that names it go together:
// the entry first (when `deleteEntry`), then the file, and neither when the
// file cannot go. A read-only file is not deleted now, nor at a restart.
// Without `release` nothing runs from the file: it is held for deleting
// before the entry goes, so that nobody starts it or takes its place
// meanwhile, and deleted through that handle. With it, the file goes as
// `release` says (the uninstaller's first process still runs from it).
// Logs the file's line; 1 when it is gone, RELEASE_DEFERRED when it goes
// later, 0 when it stays, and the entry with it.
static int ReleaseUninstaller(const char *installDir, ReleaseFile release, int deleteEntry,
                              const char *failedWord, RemovalReport &report)
{
    char path[PATH_SIZE];
    if (!JoinPath(path, sizeof path, installDir, UNINSTALLER_NAME))
        return 0;
    DWORD attributes = GetFileAttributesA(path);
    int present = attributes != INVALID_FILE_ATTRIBUTES;
    HANDLE held = present && release == nullptr ? OpenForJudging(path) : INVALID_HANDLE_VALUE;
    int released = 0;
    if (!present || (!(attributes & FILE_ATTRIBUTE_READONLY) &&
                     (release != nullptr || held != INVALID_HANDLE_VALUE))) {
        report.entryLeft = deleteEntry && !DeleteKeyTree(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY);
        if (!report.entryLeft) {
            released = !present                ? 1
                       : release != nullptr ? release(path)
                                            : DeleteJudgedFile(held, path);
            // DeleteJudgedFile closes what it was given.
            held = INVALID_HANDLE_VALUE;
        }
    }
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    // An entry that stays keeps its file, and says so itself.
    if (!report.entryLeft)
        LogMessage(IDS_REMOVINGFILE, path, released ? "ok" : failedWord);
    return released;
}

// What the Program Manager left of the items (and of the default group) is
// logged and counted.
static void LogLeftItems(const char *group, RemovalReport &report)
{
    char link[PATH_SIZE];
    for (int i = 0; i <= payloadCount; i++) {
        const char *name = i < payloadCount ? payloadTable[i].itemTitle : nullptr;
        if (name != nullptr ? !payloadTable[i].makeItem : !SameText(group, PRODUCT_NAME))
            continue;
        for (int common = 0; common < 2; common++) {
            if (ProgmanItemPath(common, group, name, link, sizeof link) == OUTCOME_DONE &&
                GetFileAttributesA(link) != INVALID_FILE_ATTRIBUTES) {
                LogOutcome(name != nullptr ? "icon" : "group", "left", name != nullptr ? name : group);
                if (report.itemsLeft++ == 0)
                    CopyText(report.itemLeft, sizeof report.itemLeft, link);
            }
        }
    }
}

void RemoveProduct(const char *installDir, const char *group, ReleaseFile release,
                   int deleteEntry, RemovalReport &report)
{
    report.filesLeft = 0;
    report.keysRemoved = 0;
    report.directoryGone = 0;
    report.entryLeft = 0;
    report.deferred = 0;
    report.complete = 0;
    report.itemsLeft = 0;

    char failedWord[WORD_SIZE];
    LoadMessageString(IDS_FAILED, failedWord, sizeof failedWord);

    // An over-long web directory stays empty, and its files are refused.
    char webDir[DIR_SIZE];
    FormatText(webDir, sizeof webDir, "%s\\web", installDir);
    for (int i = 0; i < payloadCount; i++) {
        const PayloadEntry &row = payloadTable[i];
        if (SameText(row.destName, UNINSTALLER_NAME))
            continue;
        if (row.destDirKind == DIR_WEB && webDir[0] == '\0') {
            LogMessage(IDS_REMOVINGFILE, row.destName, failedWord);
            report.filesLeft++;
            continue;
        }
        // Data rows were installed beside the program.
        RemoveFile(row.destDirKind == DIR_WEB ? webDir : installDir, row.destName, failedWord,
                   report);
    }

    report.keysRemoved = RemoveProductKey(HKEY_CURRENT_USER, IDS_REMOVINGHKCU);
    report.keysRemoved &= RemoveProductKey(HKEY_LOCAL_MACHINE, IDS_REMOVINGHKLM);

    // Without a recorded group neither items nor the directory are touched.
    if (group != nullptr && group[0] == '\0')
        return;
    if (group != nullptr) {
        ProgmanOpen();
        // DeleteItem acts on the Program Manager's current group: make it ours.
        ProgmanShowGroup(group);
        for (int i = 0; i < payloadCount; i++) {
            const PayloadEntry &row = payloadTable[i];
            if (!row.makeItem)
                continue;
            char path[PATH_SIZE];
            if (JoinPath(path, sizeof path, installDir, row.destName))
                ProgmanDeleteItem(row.itemTitle, path);
            LogMessage(IDS_REMOVINGICON, row.itemTitle);
        }
        ProgmanCloseAndDeleteGroup(group);
        LogLeftItems(group, report);
    }

    // A drive root is never removed ("C:" alone names the current directory
    // of that drive) and may hold anything else; there the installation is
    // gone with its files.
    int driveRoot = IsDriveRoot(installDir);
    if (report.filesLeft == 0 && report.keysRemoved &&
        (driveRoot || OnlyUninstallerIn(installDir))) {
        int released = ReleaseUninstaller(installDir, release, deleteEntry, failedWord, report);
        report.filesLeft += released == 0 && !report.entryLeft;
        report.deferred = released == RELEASE_DEFERRED;
    }
    if (driveRoot || report.deferred) {
        // A directory left only to the uninstaller goes with it.
        report.directoryGone = report.filesLeft == 0;
    } else {
        // One that is gone already was removed by an earlier try.
        report.directoryGone =
            RemoveDirectoryA(installDir) || GetFileAttributesA(installDir) == INVALID_FILE_ATTRIBUTES;
        char line[PATH_SIZE + 32];
        FormatText(line, sizeof line, "Removing %s (%s)", installDir,
                   report.directoryGone ? "ok" : "failed");
        LogLine(line);
    }
    report.complete = report.filesLeft == 0 && report.keysRemoved && !report.entryLeft &&
                      report.directoryGone;
}

