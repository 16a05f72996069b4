#include "rules.h"

#include <string.h>

#include "../base/messages.h"
#include "../base/session.h"
#include "../base/text.h"
#include "../payload/table.h"
#include "../progman/progman.h"
#include "../resources/resource.h"

constexpr size_t DIR_SIZE = 256;
constexpr size_t KEY_SIZE = 256;
constexpr size_t WORD_SIZE = 64;

static const char VENDOR_KEY[] = "Software\\Quorvale";
static const char PRODUCT_KEY[] = "Software\\Quorvale\\Tarnlink";

// Deletes one payload file and logs the outcome; a help file takes its
// ".gid" companion with it. A file that stays is noted in the report.
static void RemoveFile(const char *directory, const char *name, const char *failedWord,
                       RemovalReport &report)
{
    char path[REMOVAL_PATH_SIZE];
    if (!JoinPath(path, sizeof path, directory, name)) {
        // A path that does not fit is refused, never cut into another one.
        char shown[REMOVAL_PATH_SIZE];
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

// Returns 1 when the key is gone afterwards.
static int RemoveProductKey(HKEY root, UINT logId)
{
    // Windows 95 deletes a whole tree in one call; NT refuses a key that has
    // subkeys, and the walk below takes it apart.
    if (RegDeleteKeyA(root, PRODUCT_KEY) == ERROR_SUCCESS)
        return 1;
    DeleteRegistryTree(PRODUCT_KEY, root);
    LogMessage(logId);
    HKEY key;
    if (RegOpenKeyExA(root, PRODUCT_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 1;
    RegCloseKey(key);
    return 0;
}

void RemoveEmptyVendorKeys()
{
    // A single delete would take a whole tree on Windows 95, so look first.
    static const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    for (HKEY root : roots) {
        HKEY vendor;
        if (RegOpenKeyExA(root, VENDOR_KEY, 0, KEY_READ, &vendor) != ERROR_SUCCESS)
            continue;
        DWORD subkeys = 1, values = 1;
        RegQueryInfoKeyA(vendor, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         &values, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(vendor);
        if (subkeys == 0 && values == 0)
            RegDeleteKeyA(root, VENDOR_KEY);
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

void RemoveProduct(const char *installDir, const char *group, RemovalReport &report)
{
    report.filesLeft = 0;
    report.keysRemoved = 0;
    report.directoryRemoved = 0;

    char failedWord[WORD_SIZE];
    LoadMessageString(IDS_FAILED, failedWord, sizeof failedWord);

    // An over-long web directory stays empty, and its files are refused.
    char webDir[DIR_SIZE];
    FormatText(webDir, sizeof webDir, "%s\\web", installDir);
    for (int i = 0; i < payloadCount; i++) {
        const PayloadEntry &row = payloadTable[i];
        if (row.destDirKind == DIR_WEB && webDir[0] == '\0') {
            LogMessage(IDS_REMOVINGFILE, row.destName, failedWord);
            continue;
        }
        // Data rows were installed beside the program.
        RemoveFile(row.destDirKind == DIR_WEB ? webDir : installDir, row.destName, failedWord,
                   report);
    }

    report.keysRemoved = RemoveProductKey(HKEY_CURRENT_USER, IDS_REMOVINGHKCU);
    report.keysRemoved &= RemoveProductKey(HKEY_LOCAL_MACHINE, IDS_REMOVINGHKLM);

    if (group[0] == '\0')
        return;
    ProgmanOpen();
    // DeleteItem acts on the Program Manager's current group: make it ours.
    ProgmanShowGroup(group);
    for (int i = 0; i < payloadCount; i++) {
        const PayloadEntry &row = payloadTable[i];
        if (!row.makeItem)
            continue;
        char path[REMOVAL_PATH_SIZE];
        if (JoinPath(path, sizeof path, installDir, row.destName))
            ProgmanDeleteItem(row.itemTitle, path);
        LogMessage(IDS_REMOVINGICON, row.itemTitle);
    }
    ProgmanCloseAndDeleteGroup(group);
    // A drive root is never removed: "C:" alone names the current directory
    // of that drive.
    if (!IsDriveRoot(installDir))
        report.directoryRemoved = RemoveDirectoryA(installDir) != 0;
    char line[REMOVAL_PATH_SIZE];
    FormatText(line, sizeof line, "Removing %s (%s)", installDir,
               report.directoryRemoved ? "ok" : "failed");
    LogLine(line);
}

const char PRODUCT_UNINSTALL_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnlink Suite";
