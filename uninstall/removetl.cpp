// The product's uninstaller. Add/Remove Programs starts it with the command
// line the setup program recorded (args.h); the Start Menu item starts it
// without arguments, and then the recorded line is read back. The first
// process hands the removal to a copy of itself (handover.h), which removes
// everything else, writes its outcome into the pipe, and the first process,
// which waits for that in every mode, ends with it; then the copy deletes
// the first one's file and the directory, and has its own deleted at the
// next restart (restart.h). A copy that ends without a word is a failure to
// the first process.
#include <windows.h>

#include "../base/messages.h"
#include "../base/names.h"
#include "../base/product.h"
#include "../base/session.h"
#include "../base/system.h"
#include "../base/tempdirs.h"
#include "../base/text.h"
#include "../remove/rules.h"
#include "../resources/resource.h"
#include "args.h"
#include "handover.h"
#include "records.h"
#include "restart.h"

// How long the copy waits for the first process to end.
constexpr DWORD HANDOVER_WAIT = 30000;

enum ExitCode { EXIT_REMOVED = 0, EXIT_NOTHING_DONE = 1, EXIT_PARTLY_REMOVED = 2 };

static char caption[MESSAGE_SIZE];

// The installed uninstaller, when the first process runs from it: it goes
// once that process has ended.
static char pendingUninstaller[PATH_SIZE];

// Deletes the installed uninstaller; the file of the first process, which
// still runs until it has the outcome, goes after it.
static int ReleaseInstalledCopy(const char *path)
{
    if (DeleteFileA(path))
        return 1;
    return CopyText(pendingUninstaller, sizeof pendingUninstaller, path) ? RELEASE_DEFERRED : 0;
}

static int Remove(const Arguments &args)
{
    // The records go only where they are this installation's: a later one
    // elsewhere keeps its own. An entry of an earlier version names no
    // directory, and one that cannot be read whole or is of another type
    // names none either: WIN.INI's record tells then.
    Records records = ReadRecords(args);
    int entryHere = records.locationHere ||
                    (records.locationRead != OUTCOME_DONE &&
                     (records.profileRead == OUTCOME_NONE || records.profileHere));
    // A group that could reach outside the Programs folder, or break the
    // command syntax, withholds only the Program Manager's part.
    RemovalReport report;
    RemoveProduct(args.programDir, IsRemovableGroupName(args.group) ? args.group : nullptr,
                  ReleaseInstalledCopy, entryHere, report);
    RemoveEmptyVendorKeys();
    int recordsGone = 1;
    if (records.profileRead == OUTCOME_NONE || records.profileHere)
        recordsGone = WriteProfileStringA(PRODUCT_NAME, nullptr, nullptr);

    if (report.complete && recordsGone && report.itemsLeft == 0) {
        ReportMessage(nullptr, caption, MB_ICONINFORMATION, IDS_UNINSTALLDONE);
        return EXIT_REMOVED;
    }
    if (report.entryLeft || !recordsGone) {
        ReportMessage(nullptr, caption, MB_ICONEXCLAMATION,
                      report.entryLeft ? IDS_UNINSTALLENTRYLEFT : IDS_UNINSTALLRECORDSLEFT);
        return EXIT_PARTLY_REMOVED;
    }
    if (report.complete) {
        ReportMessage(nullptr, caption, MB_ICONEXCLAMATION, IDS_UNINSTALLITEMLEFT,
                      report.itemLeft);
        return EXIT_PARTLY_REMOVED;
    }
    // Where something stays, the entry and the uninstaller stay, to try again.
    char left[PATH_SIZE];
    if (report.filesLeft > 0 && FindProductFile(args, left, sizeof left))
        ReportMessage(nullptr, caption, MB_ICONEXCLAMATION, IDS_UNINSTALLFILELEFT, left);
    else
        ReportMessage(nullptr, caption, MB_ICONEXCLAMATION, IDS_UNINSTALLDIRLEFT,
                      args.programDir);
    return EXIT_PARTLY_REMOVED;
}

// The copy: proven to be started by the uninstaller, and only for a
// directory the product is recorded in. Its outcome goes to the first
// process, which ends with it; then the first one's file goes.
static int RunCopy(const Arguments &args, const char *arguments)
{
    if (!IsFirstProcess(args.firstProcess) || GetFileType(args.outcome) != FILE_TYPE_PIPE) {
        ReportMessage(nullptr, caption, MB_ICONERROR, IDS_UNINSTALLBADARGS, arguments);
        return EXIT_NOTHING_DONE;
    }
    int result = EXIT_NOTHING_DONE;
    if (RecordedHere(args))
        result = Remove(args);
    else
        ReportMessage(nullptr, caption, MB_ICONINFORMATION, IDS_UNINSTALLNOTHING,
                      args.programDir);
    DWORD code = (DWORD)result, put = 0;
    WriteFile(args.outcome, &code, sizeof code, &put, nullptr);
    CloseHandle(args.outcome);
    if (pendingUninstaller[0] != '\0') {
        WaitForSingleObject(args.firstProcess, HANDOVER_WAIT);
        if (!DeleteFileA(pendingUninstaller)) {
            DeleteAtRestart(pendingUninstaller);
            if (!IsDriveRoot(args.programDir))
                DeleteAtRestart(args.programDir);
        } else if (!IsDriveRoot(args.programDir) && !RemoveDirectoryA(args.programDir)) {
            DeleteAtRestart(args.programDir);
        }
    }
    CloseHandle(args.firstProcess);
    DeleteSelfAtRestart();
    return result;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    session.instance = instance;
    LoadMessageString(IDS_UNINSTALLCAPTION, caption, sizeof caption);

    const char *arguments = commandLine;
    char recorded[COMMAND_SIZE];
    if (*SkipBlanks(commandLine) == '\0') {
        if (!ReadRecordedArguments(recorded, sizeof recorded)) {
            ReportMessage(nullptr, caption, MB_ICONINFORMATION, IDS_UNINSTALLNORECORD);
            return EXIT_NOTHING_DONE;
        }
        arguments = recorded;
    }
    Arguments args = {};
    int usable = ParseArguments(arguments, args);
    session.quiet = args.quiet;
    if (!usable) {
        ReportMessage(nullptr, caption, MB_ICONERROR, IDS_UNINSTALLBADARGS, arguments);
        return EXIT_NOTHING_DONE;
    }
    if (args.firstProcess != nullptr || args.outcome != nullptr)
        return RunCopy(args, arguments);

    // One setup or uninstall at a time; the copy inherits the lock.
    if (!TakeRunLock(TRUE)) {
        ReportMessage(nullptr, caption, MB_ICONERROR, IDS_UNINSTALLBUSY);
        return EXIT_NOTHING_DONE;
    }
    // What copies that were killed left in the temporary directory goes,
    // as far as its bytes are this program's.
    RunFile own;
    char temp[PATH_SIZE];
    if (OwnSum(own) && TempDirectory(temp, sizeof temp))
        RemoveDeadRunDirectories(temp, COPY_PREFIX, &own, 1);
    if (!RecordedHere(args)) {
        ReportMessage(nullptr, caption, MB_ICONINFORMATION, IDS_UNINSTALLNOTHING,
                      args.programDir);
        return EXIT_NOTHING_DONE;
    }
    if (!session.quiet && ReportMessage(nullptr, caption, MB_YESNO | MB_ICONQUESTION,
                                        IDS_UNINSTALLASK, args.programDir) != IDYES)
        return EXIT_NOTHING_DONE;
    HANDLE outcome = HandOverToCopy(arguments);
    if (outcome == nullptr) {
        TempDirectory(temp, sizeof temp);
        ReportMessage(nullptr, caption, MB_ICONERROR, IDS_UNINSTALLNOCOPY, temp);
        return EXIT_NOTHING_DONE;
    }
    // Whoever started this program, Add/Remove Programs or a deployment
    // tool, learns the outcome when it ends. A copy that ended without one
    // may have removed anything.
    DWORD code = 0, got = 0;
    if (!ReadFile(outcome, &code, sizeof code, &got, nullptr) || got != sizeof code ||
        code > EXIT_PARTLY_REMOVED)
        code = EXIT_PARTLY_REMOVED;
    CloseHandle(outcome);
    return (int)code;
}
