#include "remove.h"

#include "../app/messages.h"
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

static void RemoveProductKey(HKEY root, UINT logId)
{
    // Windows 95 deletes a whole tree in one call; NT refuses a key that has
    // subkeys, and the walk below takes it apart.
    if (RegDeleteKeyA(root, PRODUCT_KEY) != ERROR_SUCCESS) {
        DeleteRegistryTree(PRODUCT_KEY, root);
        LogMessage(logId);
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
    GetProfileStringA(PRODUCT_NAME, "DIR", "", installDir, sizeof installDir);
    if (installDir[0] == '\0') {
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

    RemoveProductKey(HKEY_CURRENT_USER, IDS_REMOVINGHKCU);
    RemoveProductKey(HKEY_LOCAL_MACHINE, IDS_REMOVINGHKLM);

    int directoryRemoved = 0;
    char group[TEXT_FIELD];
    GetProfileStringA(PRODUCT_NAME, "GROUP", session.groupName, group, sizeof group);
    if (group[0] != '\0') {
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
        directoryRemoved = RemoveDirectoryA(installDir) != 0;
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
    return 0;
}
