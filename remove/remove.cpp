#include "remove.h"

#include "../base/messages.h"
#include "../base/names.h"
#include "../base/session.h"
#include "../base/text.h"
#include "../resources/resource.h"

constexpr size_t DIR_SIZE = 256;
constexpr size_t MESSAGE_SIZE = 512;

// The recorded install directory, when it can be used: read whole and
// absolute. A relative one would name files wherever the removal was
// started; one that fills the buffer may have been cut to a parent.
static int ReadInstallDirectory(char *directory, size_t size)
{
    return ReadProfileValue("DIR", "", directory, size) > 0 && IsAbsolutePath(directory);
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

    // Without a usable group no item, group or directory is touched.
    char group[TEXT_FIELD];
    if (ReadRecordedGroup(session.groupName, group, sizeof group) > 0)
        CopyText(session.groupName, sizeof session.groupName, group);
    else
        group[0] = '\0';

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
    return report.directoryRemoved && report.keysRemoved;
}
