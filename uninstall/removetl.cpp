// The product's uninstaller. Add/Remove Programs starts it with the command
// line the setup program recorded, -f <dir> -d <dir> -g <group>, each value
// quoted or, as earlier versions wrote it, not; the Start Menu item starts it
// without arguments, and then the recorded line is read back.
//
// A running program cannot delete its own file, so the first process copies
// itself into the temporary directory, starts the copy with "-w <handle>"
// ahead of the same arguments and ends; the copy waits for it, removes
// everything, and has its own file deleted at the next restart.
#include <windows.h>

#include "../base/messages.h"
#include "../base/names.h"
#include "../base/session.h"
#include "../base/text.h"
#include "../payload/table.h"
#include "../remove/rules.h"
#include "../resources/resource.h"

constexpr size_t DIR_SIZE = 256;
constexpr size_t COMMAND_SIZE = 2048;
constexpr size_t PATH_SIZE = 512;
constexpr size_t MESSAGE_SIZE = 512;
static const char UNINSTALLER_NAME[] = "removetl.exe";
// How long the copy waits for the first process to end.
constexpr DWORD HANDOVER_WAIT = 30000;

enum ExitCode { EXIT_REMOVED = 0, EXIT_NOTHING_DONE = 1, EXIT_PARTLY_REMOVED = 2 };

struct Arguments {
    char programDir[DIR_SIZE];
    char dataDir[DIR_SIZE];   // checked; data files lie beside the program
    char group[TEXT_FIELD];
    HANDLE firstProcess;   // set in the copy only
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
    for (const char *letter = "fdgqsw"; *letter != '\0'; letter++) {
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
        if (letter == 'w') {
            ULONG_PTR handle = 0;
            for (const char *digit = number; *digit != '\0'; digit++) {
                if (*digit < '0' || *digit > '9')
                    return 0;
                handle = handle * 10 + (ULONG_PTR)(*digit - '0');
            }
            args.firstProcess = (HANDLE)handle;
        }
    }
    if (!(seen & (1u << ('f' - 'a'))) || !(seen & (1u << ('g' - 'a'))))
        return 0;
    if (!(seen & (1u << ('d' - 'a'))))
        CopyText(args.dataDir, sizeof args.dataDir, args.programDir);
    return CheckDirectory(args.programDir) && CheckDirectory(args.dataDir) &&
           IsUsableProgmanName(args.group);
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

// Whether WIN.INI's record names this installation's directory; `absent`
// when there is no record. A record too long to be read whole names none.
static int RecordedHere(const Arguments &args, int absent)
{
    char recorded[DIR_SIZE];
    int read = ReadProfileValue("DIR", "", recorded, sizeof recorded);
    return read == 0 ? absent : read > 0 && SameText(recorded, args.programDir);
}

// This program's own file; 0 when its path does not fit.
static int OwnPath(char *path, DWORD size)
{
    DWORD length = GetModuleFileNameA(nullptr, path, size);
    return length != 0 && length < size;
}

// Something of the product is still there: a payload file, or the record
// in WIN.INI naming this directory.
static int IsInstalled(const Arguments &args)
{
    char path[PATH_SIZE];
    if (FindProductFile(args, path, sizeof path))
        return 1;
    return RecordedHere(args, 0);
}

// Copies this program into the temporary directory and starts the copy with
// the same arguments; 0 when that could not be done.
static int HandOverToCopy(const char *arguments)
{
    char self[PATH_SIZE], temp[PATH_SIZE], copy[MAX_PATH];
    if (!OwnPath(self, sizeof self))
        return 0;
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp || GetTempFileNameA(temp, "rtl", 0, copy) == 0)
        return 0;
    if (!CopyFileA(self, copy, FALSE)) {
        DeleteFileA(copy);
        return 0;
    }
    HANDLE process = GetCurrentProcess();
    HANDLE inherited;
    char command[COMMAND_SIZE + PATH_SIZE];
    if (!DuplicateHandle(process, process, process, &inherited, SYNCHRONIZE, TRUE, 0)) {
        DeleteFileA(copy);
        return 0;
    }
    // Handle values fit in 32 bits on every Windows, so the number is the
    // same for both builds.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    int ok = FormatText(command, sizeof command, "\"%s\" -w %u %s", copy,
                        (unsigned)(ULONG_PTR)inherited, arguments) &&
             CreateProcessA(copy, command, nullptr, nullptr, TRUE, 0, nullptr, temp, &startup,
                            &started);
    CloseHandle(inherited);
    if (!ok) {
        DeleteFileA(copy);
        return 0;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 1;
}

// The copy's own file goes at the next restart: NT keeps the request in the
// registry, Windows 95 reads WININIT.INI.
static void DeleteSelfAtRestart()
{
    char self[PATH_SIZE];
    if (!OwnPath(self, sizeof self))
        return;
    if (!(GetVersion() & 0x80000000)) {
        MoveFileExA(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    char shortPath[PATH_SIZE];
    DWORD length = GetShortPathNameA(self, shortPath, sizeof shortPath);
    if (length > 0 && length < sizeof shortPath)
        WritePrivateProfileStringA("rename", "NUL", shortPath, "WININIT.INI");
}

// Where something stays, the Uninstall entry stays, and the program it names
// must be there to try again: the copy is the same file.
static void PutUninstallerBack(const Arguments &args)
{
    char self[PATH_SIZE], installed[PATH_SIZE];
    if (OwnPath(self, sizeof self) &&
        JoinPath(installed, sizeof installed, args.programDir, UNINSTALLER_NAME) &&
        lstrcmpiA(self, installed) != 0)
        CopyFileA(self, installed, TRUE);
}

static int Remove(const Arguments &args)
{
    RemovalReport report;
    RemoveProduct(args.programDir, args.group, report);
    RemoveEmptyVendorKeys();
    // A drive root stays, and is all that stays.
    int complete = report.filesLeft == 0 &&
                   (report.directoryRemoved || IsDriveRoot(args.programDir));

    // The records go only when they are this installation's: a later one
    // elsewhere keeps its own.
    if (RecordedHere(args, 1)) {
        WriteProfileStringA(PRODUCT_NAME, nullptr, nullptr);
        // Where something stays, the entry stays, to run the uninstaller again.
        if (complete)
            DeleteUninstallEntry();
    }

    if (complete) {
        ReportMessage(nullptr, caption, MB_ICONINFORMATION, IDS_UNINSTALLDONE);
        return EXIT_REMOVED;
    }
    // Named before the uninstaller is put back beside it.
    char left[PATH_SIZE];
    int fileLeft = report.filesLeft > 0 && FindProductFile(args, left, sizeof left);
    PutUninstallerBack(args);
    if (fileLeft)
        ReportMessage(nullptr, caption, MB_ICONEXCLAMATION, IDS_UNINSTALLFILELEFT, left);
    else
        ReportMessage(nullptr, caption, MB_ICONEXCLAMATION, IDS_UNINSTALLDIRLEFT,
                      args.programDir);
    return EXIT_PARTLY_REMOVED;
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

    if (args.firstProcess != nullptr) {
        WaitForSingleObject(args.firstProcess, HANDOVER_WAIT);
        CloseHandle(args.firstProcess);
        int result = Remove(args);
        DeleteSelfAtRestart();
        return result;
    }

    if (!IsInstalled(args)) {
        ReportMessage(nullptr, caption, MB_ICONINFORMATION, IDS_UNINSTALLNOTHING,
                      args.programDir);
        return EXIT_NOTHING_DONE;
    }
    if (!session.quiet && ReportMessage(nullptr, caption, MB_YESNO | MB_ICONQUESTION,
                                        IDS_UNINSTALLASK, args.programDir) != IDYES)
        return EXIT_NOTHING_DONE;
    if (HandOverToCopy(arguments))
        return EXIT_REMOVED;
    // Without a copy everything but this program's own file goes.
    return Remove(args);
}
