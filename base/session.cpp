#include "session.h"

#include <string.h>

#include "../resources/resource.h"
#include "messages.h"
#include "product.h"
#include "system.h"
#include "text.h"

InstallSession session;


int TakeRunLock(int inheritable)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, inheritable};
    SetLastError(ERROR_SUCCESS);
    // The lock is the machine's, whoever is logged on; older systems than
    // Windows 2000 know no "Global\\" and take the plain name.
    const char *name = RUN_LOCK_NAME;
    int sessions = IsWindowsNT() && (GetVersion() & 0xFF) >= 5;
    HANDLE lock = CreateMutexA(&attributes, FALSE, sessions ? name : name + 7);
    // Only a lock made new is ours: an existing one, or any other object of
    // that name (which makes the call fail), means someone else runs.
    if (lock != nullptr && GetLastError() == ERROR_SUCCESS)
        return 1;
    if (lock != nullptr)
        CloseHandle(lock);
    return 0;
}

static int Contains(const char *text, const char *word)
{
    return strstr(text, word) != nullptr;
}

// Each switch is found anywhere in the whole line, case-sensitively, so a
// longer word or a path holding "-i" counts as the switch too.
void ReadCommandLine(const char *commandLine)
{
    if (commandLine == nullptr || commandLine[0] == '\0')
        return;
    if (Contains(commandLine, "-installqu") || Contains(commandLine, "-installsi")) {
        session.installRequested = 1;
        session.removeRequested = 0;
        session.quiet = 1;
        return;
    }
    if (Contains(commandLine, "-i")) {
        session.installRequested = 1;
        session.removeRequested = 0;
    } else if (Contains(commandLine, "-r")) {
        session.installRequested = 0;
        session.removeRequested = 1;
    }
    if (Contains(commandLine, "-s"))
        session.quiet = 1;
    if (Contains(commandLine, "-q"))
        session.quiet = 1;
    if (Contains(commandLine, "-l"))
        session.logEnabled = 1;
}

int SetInstallDefaults(int rowCount)
{
    CopyText(session.groupName, sizeof session.groupName, PRODUCT_NAME);
    LoadMessageString(IDS_TITLE, session.title, sizeof session.title);
    CopyText(session.defaultDirProgramFiles, sizeof session.defaultDirProgramFiles,
             "C:\\Program Files\\Tarnlink");
    CopyText(session.defaultDirWin32App, sizeof session.defaultDirWin32App,
             "C:\\WIN32APP\\Tarnlink");
    CopyText(session.defaultDirRoot, sizeof session.defaultDirRoot, "C:\\Tarnlink");
    return rowCount;
}
