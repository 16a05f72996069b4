#include "remove.h"

#include "../app/messages.h"
#include "../app/session.h"
#include "../app/text.h"
#include "../resources/resource.h"

constexpr size_t DIR_SIZE = 256;
constexpr size_t MESSAGE_SIZE = 512;

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

    char group[TEXT_FIELD];
    GetProfileStringA(PRODUCT_NAME, "GROUP", session.groupName, group, sizeof group);
    if (group[0] != '\0')
        CopyText(session.groupName, sizeof session.groupName, group);

    RemovalReport report;
    RemoveProduct(installDir, group, report);

    WriteProfileStringA(PRODUCT_NAME, nullptr, nullptr);

    // The entry would name an uninstaller that is gone; where the directory
    // stays, so does the entry, to try the uninstaller.
    if (report.directoryRemoved)
        DeleteUninstallEntry();
    // 10010 has no insert: the directory passed along is not used.
    ReportMessage(owner, caption, MB_ICONINFORMATION,
                  report.directoryRemoved ? IDS_REMOVEDALL : IDS_REMOVEDSOME, installDir);
    return 0;
}
