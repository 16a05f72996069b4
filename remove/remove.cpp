#include "remove.h"

#include "../base/messages.h"
#include "../base/names.h"
#include "../base/product.h"
#include "../base/session.h"
#include "../base/text.h"
#include "../resources/resource.h"


// The recorded install directory, when it can be used: read whole and
// absolute. A relative one would name files wherever the removal was
// started; one that fills the buffer may have been cut to a parent.
static int ReadInstallDirectory(char *directory, size_t size)
{
    return ReadProfileValue(DIR_RECORD, "", directory, size) == OUTCOME_DONE && IsAbsolutePath(directory);
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

    // A recorded group that cannot be named in a command withholds only the
    // Program Manager's part; an empty one keeps the directory as well.
    char group[TEXT_FIELD];
    Outcome groupRead =
        ReadRecordedGroup(session.groupName, group, sizeof group, IsRemovableGroupName);
    if (groupRead == OUTCOME_DONE)
        CopyText(session.groupName, sizeof session.groupName, group);

    // The entry goes with the installation; where anything of it stays, the
    // entry and the uninstaller stay too, to try again. An entry that names
    // another directory is that installation's, and stays; one of an earlier
    // version names none.
    char location[DIR_SIZE];
    int entryHere = ReadRegistryText(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY, LOCATION_VALUE,
                                     location, sizeof location) != OUTCOME_DONE ||
                    SameText(location, installDir);
    RemovalReport report;
    RemoveProduct(installDir, groupRead == OUTCOME_UNUSABLE ? nullptr : group, nullptr, entryHere, report);

    int recordsGone = WriteProfileStringA(PRODUCT_NAME, nullptr, nullptr);

    if (report.entryLeft || !recordsGone) {
        ReportMessage(owner, caption, MB_ICONERROR,
                      report.entryLeft ? IDS_ENTRYLEFT : IDS_RECORDSLEFT, PRODUCT_NAME);
        return 0;
    }
    // 10010 has no insert: the directory passed along is not used.
    ReportMessage(owner, caption, MB_ICONINFORMATION,
                  report.directoryGone ? IDS_REMOVEDALL : IDS_REMOVEDSOME, installDir);
    return report.complete;
}
