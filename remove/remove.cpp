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

    // Data rows were installed beside the program.
    RemovalReport report;
    RemoveProduct(installDir, installDir, group, report);

    WriteProfileStringA(PRODUCT_NAME, nullptr, nullptr);

    if (report.directoryRemoved) {
        // The entry would name an uninstaller that is gone; where the
        // directory stays, so does the entry, to try the uninstaller.
        DeleteUninstallEntry();
        ReportMessage(owner, caption, MB_ICONINFORMATION, IDS_REMOVEDALL);
    } else {
        ReportMessage(owner, caption, MB_ICONINFORMATION, IDS_REMOVEDSOME, installDir);
    }
    return 0;
}
