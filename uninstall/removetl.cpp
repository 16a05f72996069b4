// The product's uninstaller. Add/Remove Programs starts it with the command
// line the setup program recorded, -f <dir> -d <dir> -g <group>, each value
// quoted or, as earlier versions wrote it, not (and with -q in the quiet
// line); the Start Menu item starts it without arguments, and then the
// recorded line is read back.
//
// A running program cannot delete its own file, so the first process copies
// itself into a new directory of its own under the temporary directory,
// marks that directory alive, checks the copy byte for byte while it holds
// it, and starts it with "-w <process> -o <pipe>" ahead of the same
// arguments: a handle of the first process and the write end of a pipe,
// which only a child it started inherits, with the lock that lets one setup
// or uninstall run at a time. The copy removes everything else, writes its
// outcome into the pipe, and the first process, which waits for that in
// every mode, ends with it; then the copy deletes the first one's file and
// the directory, and has its own deleted at the next restart. A copy that
// ends without a word is a failure to the first process.
#include <string.h>
#include <windows.h>

#include "../base/messages.h"
#include "../base/names.h"
#include "../base/product.h"
#include "../base/session.h"
#include "../base/system.h"
#include "../base/text.h"
#include "../payload/tempdirs.h"
#include "../payload/table.h"
#include "../remove/rules.h"
#include "../resources/resource.h"

constexpr size_t DIR_SIZE = 256;
constexpr size_t COMMAND_SIZE = 2048;
constexpr size_t PATH_SIZE = 512;
constexpr size_t MESSAGE_SIZE = 512;
// How long the copy waits for the first process to end.
constexpr DWORD HANDOVER_WAIT = 30000;
static const char COPY_PREFIX[] = "~rt";

enum ExitCode { EXIT_REMOVED = 0, EXIT_NOTHING_DONE = 1, EXIT_PARTLY_REMOVED = 2 };

struct Arguments {
    char programDir[DIR_SIZE];
    char dataDir[DIR_SIZE];   // checked; data files lie beside the program
    char group[TEXT_FIELD];
    HANDLE firstProcess;   // set in the copy only
    HANDLE outcome;        // the pipe to the first process, in the copy only
};

static char caption[MESSAGE_SIZE];

static int IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A switch stands at the start or after a blank: '-', one of its letters,
// then a blank or the end.
static int SwitchAt(const char *p)
{
    if (p[0] != '-' || (p[2] != '\0' && !IsBlank(p[2])))
        return 0;
    for (const char *letter = "fdgoqsw"; *letter != '\0'; letter++) {
        if (p[1] == *letter)
            return 1;
    }
    return 0;
}

static int HasSwitch(const char *text, char letter)
{
    for (const char *p = text; *p != '\0'; p++) {
        if ((p == text || IsBlank(p[-1])) && SwitchAt(p) && p[1] == letter)
            return 1;
    }
    return 0;
}

// Reads the value after a switch; returns where the text goes on, or nullptr
// when the value is missing, unterminated or does not fit.
static const char *ReadValue(const char *p, char *value, size_t size)
{
    while (IsBlank(*p))
        p++;
    const char *start = p;
    const char *end;
    if (*p == '"') {
        start = ++p;
        while (*p != '\0' && *p != '"')
            p++;
        if (*p != '"' || (p[1] != '\0' && !IsBlank(p[1])))
            return nullptr;
        end = p++;
    } else {
        // Unquoted, as earlier versions wrote it: blanks belong to the value,
        // which runs up to the next switch.
        while (*p != '\0' && !(IsBlank(*p) && SwitchAt(p + 1)))
            p++;
        end = p;
        while (end > start && IsBlank(end[-1]))
            end--;
    }
    size_t length = (size_t)(end - start);
    if (length == 0 || length >= size)
        return nullptr;
    for (size_t i = 0; i < length; i++)
        value[i] = start[i];
    value[length] = '\0';
    return p;
}

// An absolute directory; one trailing backslash is dropped, as the setup
// program records it.
static int CheckDirectory(char *directory)
{
    size_t length = lstrlenA(directory);
    if (length > 2 && directory[length - 1] == '\\')
        directory[--length] = '\0';
    return IsAbsolutePath(directory);
}

static int ParseArguments(const char *text, Arguments &args)
{
    unsigned seen = 0;
    const char *p = text;
    for (;;) {
        while (IsBlank(*p))
            p++;
        if (*p == '\0')
            break;
        if (!SwitchAt(p))
            return 0;
        char letter = p[1];
        unsigned bit = 1u << (letter - 'a');
        if (seen & bit)
            return 0;
        seen |= bit;
        p += 2;
        if (letter == 'q' || letter == 's')
            continue;
        char number[24];
        switch (letter) {
        case 'f': p = ReadValue(p, args.programDir, sizeof args.programDir); break;
        case 'd': p = ReadValue(p, args.dataDir, sizeof args.dataDir); break;
        case 'g': p = ReadValue(p, args.group, sizeof args.group); break;
        default: p = ReadValue(p, number, sizeof number); break;
        }
        if (p == nullptr)
            return 0;
        if (letter == 'w' || letter == 'o') {
            ULONG_PTR handle = 0;
            for (const char *digit = number; *digit != '\0'; digit++) {
                if (*digit < '0' || *digit > '9')
                    return 0;
                handle = handle * 10 + (ULONG_PTR)(*digit - '0');
            }
            (letter == 'w' ? args.firstProcess : args.outcome) = (HANDLE)handle;
        }
    }
    if (!(seen & (1u << ('f' - 'a'))) || !(seen & (1u << ('g' - 'a'))))
        return 0;
    if (!(seen & (1u << ('d' - 'a'))))
        CopyText(args.dataDir, sizeof args.dataDir, args.programDir);
    return CheckDirectory(args.programDir) && CheckDirectory(args.dataDir);
}

// The arguments of the recorded UninstallString: what follows its program.
static int ReadRecordedArguments(char *arguments, size_t size)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return 0;
    char line[COMMAND_SIZE];
    DWORD length = sizeof line - 1;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, "UninstallString", nullptr, &type, (BYTE *)line, &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return 0;
    line[length] = '\0';
    const char *p = line;
    if (*p == '"') {
        p++;
        while (*p != '\0' && *p != '"')
            p++;
        if (*p == '"')
            p++;
    } else {
        while (*p != '\0' && !(IsBlank(*p) && SwitchAt(p + 1)))
            p++;
    }
    return CopyText(arguments, size, p) && HasSwitch(arguments, 'f');
}

// The first payload file still in the directories given; 0 when none is.
static int FindProductFile(const Arguments &args, char *path, size_t size)
{
    for (int i = 0; i < payloadCount; i++) {
        const PayloadEntry &row = payloadTable[i];
        const char *format = row.destDirKind == DIR_WEB ? "%s\\web\\%s" : "%s\\%s";
        if (FormatText(path, size, format, args.programDir, row.destName) &&
            GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            return 1;
    }
    return 0;
}

// What the records say of this directory: WIN.INI's DIR and the Uninstall
// entry's InstallLocation. A record too long to be read whole names none.
struct Records {
    int profileRead;    // ReadProfileValue's answer for DIR
    int profileHere;
    int locationRead;   // ReadRegistryText's answer for InstallLocation
    int locationHere;
};

static Records ReadRecords(const Arguments &args)
{
    Records records;
    char recorded[DIR_SIZE];
    records.profileRead = ReadProfileValue(DIR_RECORD, "", recorded, sizeof recorded);
    records.profileHere = records.profileRead > 0 && SameText(recorded, args.programDir);
    records.locationRead = ReadRegistryText(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY,
                                            LOCATION_VALUE, recorded, sizeof recorded);
    records.locationHere = records.locationRead > 0 && SameText(recorded, args.programDir);
    return records;
}

// The product is recorded as installed in the directory it is asked to
// empty: nothing is removed from any other.
static int RecordedHere(const Arguments &args)
{
    Records records = ReadRecords(args);
    return records.profileHere || records.locationHere;
}

// This program's own file; 0 when its path does not fit.
static int OwnPath(char *path, DWORD size)
{
    DWORD length = GetModuleFileNameA(nullptr, path, size);
    return length != 0 && length < size;
}

// The directory this program's file is in.
static int OwnDirectory(char *path, DWORD size)
{
    char *slash;
    if (!OwnPath(path, size) || (slash = strrchr(path, '\\')) == nullptr)
        return 0;
    *slash = '\0';
    return 1;
}

// Copies `from` into `to` from where each stands; 1 when every byte went.
static int CopyBytes(HANDLE from, HANDLE to)
{
    static BYTE chunk[4096];
    for (;;) {
        DWORD got = 0, put = 0;
        if (!ReadFile(from, chunk, sizeof chunk, &got, nullptr))
            return 0;
        if (got == 0)
            return 1;
        if (!WriteFile(to, chunk, got, &put, nullptr) || put != got)
            return 0;
    }
}

// Whether two files hold the same bytes, read from where each stands.
static int SameBytes(HANDLE a, HANDLE b)
{
    static BYTE chunkA[4096], chunkB[4096];
    for (;;) {
        DWORD gotA = 0, gotB = 0;
        if (!ReadFile(a, chunkA, sizeof chunkA, &gotA, nullptr) ||
            !ReadFile(b, chunkB, sizeof chunkB, &gotB, nullptr) || gotA != gotB ||
            memcmp(chunkA, chunkB, gotA) != 0)
            return 0;
        if (gotA == 0)
            return 1;
    }
}

// Writes this program's bytes into a new file in the directory, then opens
// the copy so that nobody can write, rename or delete it, and checks that it
// is a plain file holding exactly those bytes. The handle it returns stays
// open until the copy has started.
static HANDLE PrepareCopy(const char *self, const char *copy)
{
    HANDLE own = OpenForReading(self, 0);
    if (own == INVALID_HANDLE_VALUE)
        return own;
    HANDLE written = CreateFileA(copy, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    int whole = written != INVALID_HANDLE_VALUE && CopyBytes(own, written);
    if (written != INVALID_HANDLE_VALUE && !CloseHandle(written))
        whole = 0;
    HANDLE held = whole ? OpenForReading(copy, OpenReparsePointFlag()) : INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    if (held != INVALID_HANDLE_VALUE &&
        (SetFilePointer(own, 0, nullptr, FILE_BEGIN) != 0 ||
         !GetFileInformationByHandle(held, &info) || IsReparsePoint(info.dwFileAttributes) ||
         info.nNumberOfLinks != 1 || !SameBytes(own, held))) {
        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    }
    CloseHandle(own);
    return held;
}

// Length and CRC-32 of this program's own file, which is what its copies
// hold; 0 when it cannot be read.
static int OwnSum(RunFile &file)
{
    char self[PATH_SIZE];
    HANDLE own = OwnPath(self, sizeof self) ? OpenForReading(self, 0) : INVALID_HANDLE_VALUE;
    if (own == INVALID_HANDLE_VALUE)
        return 0;
    file.name = UNINSTALLER_NAME;
    int read = FileSum(own, MAXDWORD, file.length, file.crc);
    CloseHandle(own);
    return read;
}

// Handles a child inherits: duplicates of `handle` that may be inherited.
static HANDLE Inheritable(HANDLE handle, DWORD access)
{
    HANDLE process = GetCurrentProcess(), copy = nullptr;
    return DuplicateHandle(process, handle, process, &copy, access, TRUE, 0) ? copy : nullptr;
}

// Copies this program into a new directory of its own under the temporary
// directory, marked alive, and starts the copy with the same arguments; null
// when that could not be done, else the read end of the pipe that brings the
// copy's outcome. A copy that was refused is left as it is.
static HANDLE HandOverToCopy(const char *arguments)
{
    char self[PATH_SIZE], temp[PATH_SIZE], directory[PATH_SIZE], copy[PATH_SIZE];
    HANDLE heldDirectory;
    if (!OwnPath(self, sizeof self) || !TempDirectory(temp, sizeof temp) ||
        !MakeOwnDirectory(temp, COPY_PREFIX, directory, sizeof directory, heldDirectory))
        return nullptr;
    HANDLE marker = CreateRunMarker(directory, TRUE);
    HANDLE heldCopy = INVALID_HANDLE_VALUE;
    HANDLE outcome = nullptr, report = nullptr, inheritedReport = nullptr, inherited = nullptr;
    int started = 0;
    // Static: a frame this large would need stack probes.
    static char command[COMMAND_SIZE + PATH_SIZE];
    if (marker != INVALID_HANDLE_VALUE && JoinPath(copy, sizeof copy, directory, UNINSTALLER_NAME) &&
        (heldCopy = PrepareCopy(self, copy)) != INVALID_HANDLE_VALUE &&
        CreatePipe(&outcome, &report, nullptr, 0) &&
        (inheritedReport = Inheritable(report, GENERIC_WRITE)) != nullptr &&
        (inherited = Inheritable(GetCurrentProcess(), SYNCHRONIZE | PROCESS_QUERY_INFORMATION)) !=
            nullptr) {
        // Handle values fit in 32 bits on every Windows, so the numbers are
        // the same for both builds.
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (FormatText(command, sizeof command, "\"%s\" -w %u -o %u %s", copy,
                       (unsigned)(ULONG_PTR)inherited, (unsigned)(ULONG_PTR)inheritedReport,
                       arguments) &&
            CreateProcessA(copy, command, nullptr, nullptr, TRUE, 0, nullptr, temp, &startup,
                           &info)) {
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
            started = 1;
        }
    }
    // Only the copy may keep the pipe's write end: the read end then ends
    // when the copy does.
    HANDLE closing[] = {report, inheritedReport, inherited};
    for (HANDLE handle : closing)
        if (handle != nullptr)
            CloseHandle(handle);
    ReleaseDirectory(heldDirectory);
    if (started) {
        CloseHandle(heldCopy);
        return outcome;
    }
    if (outcome != nullptr)
        CloseHandle(outcome);
    // Only a copy that was checked and held is ours to take away again.
    RunFile own;
    if (heldCopy != INVALID_HANDLE_VALUE) {
        CloseHandle(heldCopy);
        if (OwnSum(own))
            DeleteIfHolds(copy, own.length, own.crc);
    }
    if (marker != INVALID_HANDLE_VALUE) {
        CloseHandle(marker);
        RemoveRunMarker(directory);
    }
    RemoveDirectoryA(directory);
    return nullptr;
}

// The line after WININIT.INI's [rename] header, whatever the case of its
// letters, as Windows reads it; null when there is none.
static char *AfterRenameHeader(char *text)
{
    static const char header[] = "[rename]\r\n";
    for (char *line = text; *line != '\0';) {
        size_t i = 0;
        for (char c; i < sizeof header - 1; i++) {
            c = line[i];
            if ((c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != header[i])
                break;
        }
        if (i == sizeof header - 1)
            return line + i;
        line = strchr(line, '\n');
        if (line == nullptr)
            break;
        line++;
    }
    return nullptr;
}

// Windows 95 deletes at restart what WININIT.INI's [rename] section names
// as "NUL=<short path>". The profile functions would keep one NUL line
// only, so the lines are written here: each request gets its own, in the
// section (made when missing). Directories cannot be deleted there.
static void AddRestartLine(const char *shortPath)
{
    char path[PATH_SIZE], line[PATH_SIZE + 16];
    static char text[32768];
    UINT length = GetWindowsDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path || !AppendText(path, sizeof path, "\\WININIT.INI") ||
        !FormatText(line, sizeof line, "NUL=%s\r\n", shortPath))
        return;
    DWORD size = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    // Room for the section's header and the line after what is there.
    DWORD room = sizeof text - 1 - (DWORD)strlen(line) - 12;
    if (ReadFile(file, text, room + 1, &size, nullptr) && size <= room) {
        text[size] = '\0';
        // A last line of its own, the header perhaps, ends first.
        if (size > 0 && text[size - 1] != '\n')
            size += FormatText(text + size, sizeof text - size, "\r\n") ? 2 : 0;
        char *at = AfterRenameHeader(text);
        if (at == nullptr) {
            at = text + size;
            at += FormatText(at, sizeof text - size, "[rename]\r\n") ? 10 : 0;
            *at = '\0';
        }
        // What followed the header moves down behind the new line.
        size_t tail = strlen(at), added = strlen(line);
        memmove(at + added, at, tail + 1);
        memcpy(at, line, added);
        DWORD put = 0;
        DWORD total = (DWORD)strlen(text);
        if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0)
            WriteFile(file, text, total, &put, nullptr);
    }
    CloseHandle(file);
}

// Asks the system to delete a file, or an empty directory, at the next
// restart: NT keeps the requests in the registry; Windows 95 reads
// WININIT.INI, for files only.
static void DeleteAtRestart(const char *path)
{
    if (IsWindowsNT()) {
        MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    char shortPath[PATH_SIZE];
    DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    if (length > 0 && length < sizeof shortPath)
        AddRestartLine(shortPath);
}

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

// The copy's own file, its marker and its directory go at the next restart,
// in that order.
static void DeleteSelfAtRestart()
{
    char path[PATH_SIZE];
    if (OwnPath(path, sizeof path))
        DeleteAtRestart(path);
    char marker[PATH_SIZE];
    if (OwnDirectory(marker, sizeof marker) &&
        JoinPath(path, sizeof path, marker, RUN_MARKER_NAME))
        DeleteAtRestart(path);
    if (OwnDirectory(path, sizeof path))
        DeleteAtRestart(path);
}

static int Remove(const Arguments &args)
{
    // The records go only where they are this installation's: a later one
    // elsewhere keeps its own. An entry of an earlier version names no
    // directory, and one that cannot be read whole or is of another type
    // names none either: WIN.INI's record tells then.
    Records records = ReadRecords(args);
    int entryHere = records.locationHere ||
                    (records.locationRead <= 0 && (records.profileRead == 0 || records.profileHere));
    // A group that could reach outside the Programs folder, or break the
    // command syntax, withholds only the Program Manager's part.
    RemovalReport report;
    RemoveProduct(args.programDir, IsRemovableGroupName(args.group) ? args.group : nullptr,
                  ReleaseInstalledCopy, entryHere, report);
    RemoveEmptyVendorKeys();
    int recordsGone = 1;
    if (records.profileRead == 0 || records.profileHere)
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

// Whether the copy's -w handle is what only the first process gives: a
// real handle (not a pseudo-handle, -1 being this process) of another
// process that still runs.
static int IsFirstProcess(HANDLE process)
{
    DWORD code;
    if ((ULONG_PTR)process >= (ULONG_PTR)-6 || !GetExitCodeProcess(process, &code) ||
        code != STILL_ACTIVE)
        return 0;
    // Windows XP SP1 and later tell whose handle it is.
    auto processId = (GetProcessIdProc)(void *)LookUpFunction(LATE_GET_PROCESS_ID);
    return processId == nullptr || processId(process) != GetCurrentProcessId();
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
    const char *p = commandLine;
    while (IsBlank(*p))
        p++;
    if (*p == '\0') {
        if (!ReadRecordedArguments(recorded, sizeof recorded)) {
            ReportMessage(nullptr, caption, MB_ICONINFORMATION, IDS_UNINSTALLNORECORD);
            return EXIT_NOTHING_DONE;
        }
        arguments = recorded;
    }
    session.quiet = HasSwitch(arguments, 'q') || HasSwitch(arguments, 's');

    Arguments args = {};
    if (!ParseArguments(arguments, args)) {
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
