#include "remove.h"

#include "../app/messages.h"
#include "../app/names.h"
#include "../app/session.h"
#include "../app/text.h"
#include "../payload/table.h"
#include "../progman/progman.h"
#include "../resources/resource.h"

constexpr size_t DIR_SIZE = 256;
constexpr size_t PATH_SIZE = 512;
constexpr size_t KEY_SIZE = 256;
constexpr size_t MESSAGE_SIZE = 512;

static const char PRODUCT_KEY[] = "Software\\Quorvale\\Tarnlink";

// Deletes one payload file and logs the outcome; a help file takes its
// ".gid" companion with it.
static int RemoveFile(const char *directory, const char *name, const char *failedWord)
{
    char path[PATH_SIZE];
    if (!FormatText(path, sizeof path, "%s\\%s", directory, name)) {
        // A path that does not fit is refused, never cut into another one.
        char shown[PATH_SIZE];
        FormatText(shown, sizeof shown, "%.200s...\\%s", directory, name);
        LogMessage(IDS_REMOVINGFILE, shown, failedWord);
        return 0;
    }
    int deleted = DeleteFileA(path) != 0;
    LogMessage(IDS_REMOVINGFILE, path, deleted ? "ok" : failedWord);
    size_t length = lstrlenA(path);
    if (length >= 4 && SameText(path + length - 4, ".hlp")) {
        CopyText(path + length - 4, 5, ".gid");
        DeleteFileA(path);
    }
    return deleted;
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

// The recorded install directory, when it can be used: read whole and
// absolute. A relative one would name files wherever the removal was
// started; one that fills the buffer may have been cut to a parent.
static int ReadInstallDirectory(char *directory, size_t size)
{
    return ReadProfileValue("DIR", "", directory, size) > 0 && IsAbsolutePath(directory);
}

// The recorded group, when it can be named in a Program Manager command
// (1); 0 for an empty, unusable or over-long one, which is logged.
static int ReadGroup(char *group, size_t size)
{
    int read = ReadProfileValue("GROUP", session.groupName, group, size);
    if (read == 0)
        return 0;
    if (read > 0 && IsUsableProgmanName(group))
        return 1;
    char line[TEXT_FIELD + 64];
    FormatText(line, sizeof line, "GROUP in WIN.INI cannot be used: %s", group);
    LogLine(line);
    return 0;
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
        if (!FormatText(subPath, sizeof subPath, "%s\\%s", keyPath, name) ||
            DeleteRegistryTree(subPath, root) == 0)
            result = 0;
        // A subkey that could be neither deleted nor emptied stays where it
        // is: step past it, or the walk would find it again for ever.
        char again[KEY_SIZE];
        if (RegEnumKeyA(key, index, again, sizeof again) == ERROR_SUCCESS &&
            lstrcmpA(again, name) == 0) {
            result = 0;
            index++;
        }
    }
    RegCloseKey(key);
    RegDeleteKeyA(root, keyPath);
    return result;
}

int RemoveInstallation(HWND owner)
{
    char caption[MESSAGE_SIZE];
    LoadMessageString(IDS_REMOVE, caption, sizeof caption);

    char installDir[DIR_SIZE];
    if (!ReadInstallDirectory(installDir, sizeof installDir)) {
        ReportMessage(owner, caption, MB_ICONINFORMATION, IDS_NOINFO);
        return 0;
    }
    LogMessage(IDS_REMOVINGFROM, PRODUCT_NAME, installDir);

    char failedWord[MESSAGE_SIZE];
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
        RemoveFile(row.destDirKind == DIR_WEB ? webDir : installDir, row.destName, failedWord);
    }

    int keysRemoved = RemoveProductKey(HKEY_CURRENT_USER, IDS_REMOVINGHKCU);
    keysRemoved &= RemoveProductKey(HKEY_LOCAL_MACHINE, IDS_REMOVINGHKLM);

    // Without a usable group no item, group or directory is touched.
    int directoryRemoved = 0;
    char group[TEXT_FIELD];
    if (ReadGroup(group, sizeof group)) {
        CopyText(session.groupName, sizeof session.groupName, group);
        ProgmanOpen();
        // DeleteItem acts on the Program Manager's current group: make it ours.
        ProgmanShowGroup(session.groupName);
        for (int i = 0; i < payloadCount; i++) {
            const PayloadEntry &row = payloadTable[i];
            if (!row.makeItem)
                continue;
            char path[PATH_SIZE];
            if (FormatText(path, sizeof path, "%s\\%s", installDir, row.destName))
                ProgmanDeleteItem(row.itemTitle, path);
            LogMessage(IDS_REMOVINGICON, row.itemTitle);
        }
        ProgmanCloseAndDeleteGroup(session.groupName);
        // "X:" is a drive's root, recorded without its backslash; alone it
        // would name the drive's current directory.
        directoryRemoved = installDir[2] != '\0' && RemoveDirectoryA(installDir) != 0;
        char line[PATH_SIZE];
        FormatText(line, sizeof line, "Removing %s (%s)", installDir,
                   directoryRemoved ? "ok" : "failed");
        LogLine(line);
    }

    WriteProfileStringA(PRODUCT_NAME, nullptr, nullptr);

    if (directoryRemoved)
        ReportMessage(owner, caption, MB_ICONINFORMATION, IDS_REMOVEDALL);
    else
        ReportMessage(owner, caption, MB_ICONINFORMATION, IDS_REMOVEDSOME, installDir);
    return directoryRemoved && keysRemoved;
}
