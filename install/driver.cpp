#include "driver.h"

#include <string.h>

#include "../base/messages.h"
#include "../base/names.h"
#include "../base/product.h"
#include "../base/session.h"
#include "../base/text.h"
#include "../payload/copy.h"
#include "../payload/extract.h"
#include "../payload/table.h"
#include "../progman/progman.h"
#include "../remove/remove.h"
#include "../resources/resource.h"
#include "../resources/version.h"
#include "prompts.h"

// Two copies of the program directory, the data directory and the group
// name, with the switches: the longest uninstall command they can make fits.
static_assert(3 * DIR_SIZE + TEXT_FIELD + 64 <= COMMAND_SIZE, "the uninstall line fits");

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA as the platform expects it");


// A run's directories. The source directory ends in a backslash, the others
// do not.
struct RunDirectories {
    char source[PATH_SIZE];
    char program[DIR_SIZE];
    char data[DIR_SIZE];
    char web[PATH_SIZE];   // the program directory's \web: always fits
};

// The default destination by platform; 0 when the system is older than
// NT 3.51 and the run is refused.
static int ChooseDefaultDirectory(HWND mainWindow, const char *caption, char *directory)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        CopyText(directory, DIR_SIZE, session.defaultDirProgramFiles);
        return 1;
    }
    if (version.dwPlatformId != VER_PLATFORM_WIN32s && version.dwMajorVersion >= 4)
        CopyText(directory, DIR_SIZE, session.defaultDirProgramFiles);
    else if (version.dwPlatformId == VER_PLATFORM_WIN32_NT)
        CopyText(directory, DIR_SIZE, session.defaultDirWin32App);
    else
        CopyText(directory, DIR_SIZE, session.defaultDirRoot);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 3 &&
        version.dwMinorVersion < 51) {
        ReportMessage(mainWindow, caption, MB_ICONERROR, IDS_OLDNT,
                      (unsigned)version.dwMajorVersion, (unsigned)version.dwMinorVersion);
        return 0;
    }
    return 1;
}

// Reads a recorded value: 1 when it replaced `value`, 0 when there is none,
// -1 when it fills the buffer and may have been cut (logged, not used).
static int ReadProfileEntry(const char *key, char *value, size_t size)
{
    char text[DIR_SIZE];
    Outcome read = ReadProfileValue(key, "", text, sizeof text);
    if (read == OUTCOME_UNUSABLE) {
        char line[DIR_SIZE + 64];
        FormatText(line, sizeof line, "%s in WIN.INI is too long: %s", key, text);
        LogLine(line);
        return -1;
    }
    return read > 0 && CopyText(value, size, text) ? 1 : 0;
}

static int SetStringValue(HKEY key, const char *name, const char *text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, strlen(text) + 1) ==
           ERROR_SUCCESS;
}

static int SetDwordValue(HKEY key, const char *name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value) ==
           ERROR_SUCCESS;
}

// "Applets" is reset on every run; "RawSock" only when it is missing or does
// not hold 2 to 4 bytes. 1 when the key holds both.
static int WriteSettingsKey()
{
    HKEY key;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &key) != ERROR_SUCCESS)
        return 0;
    int written = SetDwordValue(key, "Applets", 0);
    BYTE data[4];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, "RawSock", nullptr, nullptr, data, &size) != ERROR_SUCCESS ||
        size < 2)
        written &= SetDwordValue(key, "RawSock", 0);
    RegCloseKey(key);
    return written;
}

static void LogWithName(const char *format, const char *name)
{
    char line[PATH_SIZE + 64];
    FormatText(line, sizeof line, format, name);
    LogLine(line);
}

// Makes the group and an item for every copied row that asks for one and
// whose file is there. A group or item that the Program Manager refuses, or
// that cannot be named in a command, is logged; none of it fails the run.
// Without a DDE link there is nobody to ask, and no item is made.
static void MakeProgramItems(const RunDirectories &dirs)
{
    const char *group = session.groupName;
    LogMessage(IDS_CREATINGGROUP);
    Outcome created = ProgmanCreateGroup(group);
    // A refused group leaves the link open. The names the install takes can
    // always be sent, so a closed one means there is no DDE to ask.
    if (created != OUTCOME_DONE)
        LogOutcome("group", created == OUTCOME_NONE && progmanLink.isOpen ? "refused" : "not made",
                   group);
    for (int i = 0; created == OUTCOME_DONE && i < payloadCount; i++) {
        const PayloadEntry &row = payloadTable[i];
        if (!(row.state & PAYLOAD_COPIED) || !row.makeItem)
            continue;
        char path[PATH_SIZE];
        int fits = JoinPath(path, sizeof path, dirs.program, row.destName);
        if (fits && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
            LogOutcome("icon", "not made", row.itemTitle);
            continue;
        }
        if (fits)
            LogWithName("creating icon for %s", path);
        Outcome added =
            fits ? ProgmanAddItem(row.itemTitle, dirs.data, row.destName, path) : OUTCOME_NONE;
        if (added != OUTCOME_DONE)
            LogOutcome("icon", added == OUTCOME_NONE ? "refused" : "not made", row.itemTitle);
    }
    PumpMessages();
    ProgmanClose();
}

// Logs a record that could not be written; returns whether it was.
static int Recorded(int written, const char *where, const char *name)
{
    if (!written) {
        char line[TEXT_FIELD + 64];
        FormatText(line, sizeof line, "Failed to write %s %s", where, name);
        LogLine(line);
    }
    return written;
}

static int WriteUninstallText(HKEY key, const char *name, const char *text)
{
    return Recorded(SetStringValue(key, name, text), PRODUCT_UNINSTALL_KEY, name);
}

static int WriteUninstallNumber(HKEY key, const char *name, DWORD value)
{
    return Recorded(SetDwordValue(key, name, value), PRODUCT_UNINSTALL_KEY, name);
}

// Kilobytes of the product's files in the program directory (where data
// and web rows go too), as Add/Remove Programs shows them; 0 when a file
// that was copied cannot be found to count.
static DWORD InstalledKilobytes(const RunDirectories &dirs)
{
    DWORD bytes = 0;
    for (int i = 0; i < payloadCount; i++) {
        char path[PATH_SIZE];
        WIN32_FIND_DATAA found;
        HANDLE search;
        if (JoinPath(path, sizeof path, dirs.program, payloadTable[i].destName) &&
            (search = FindFirstFileA(path, &found)) != INVALID_HANDLE_VALUE) {
            bytes += found.nFileSizeLow;
            FindClose(search);
        } else if (payloadTable[i].state & PAYLOAD_COPIED) {
            return 0;
        }
    }
    return (bytes + 1023) / 1024;
}

// Returns 1 when every record was written. Each one is tried, so that as
// much as possible of the installation can be found again.
static int WriteRecords(const RunDirectories &dirs)
{
    // Our values replace what is there; values of others stay.
    int written = 1;
    HKEY key;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY, &key) == ERROR_SUCCESS) {
        char text[COMMAND_SIZE];
        FormatText(text, sizeof text, "Quorvale %s Uninstall", PRODUCT_NAME);
        written &= WriteUninstallText(key, "DisplayName", text);
        // Quoted: Windows tries every blank-separated prefix of an unquoted
        // line as a program ("C:\Program.exe" first).
        // COMMAND_SIZE holds the longest line, so it is never cut.
        static const char line[] = "\"%s\\removetl.exe\"%s -f \"%s\" -d \"%s\" -g \"%s\"";
        FormatText(text, sizeof text, line, dirs.program, "", dirs.program, dirs.data,
                   session.groupName);
        written &= WriteUninstallText(key, "UninstallString", text);
        // What Add/Remove Programs and deployment tools read besides: one
        // that cannot be written is logged, and the installation stands.
        // The quiet line removes the product without a person.
        FormatText(text, sizeof text, line, dirs.program, " -q", dirs.program, dirs.data,
                   session.groupName);
        WriteUninstallText(key, "QuietUninstallString", text);
        WriteUninstallText(key, "Publisher", VERSION_COMPANY);
        WriteUninstallText(key, "DisplayVersion", VERSION_TEXT);
        WriteUninstallNumber(key, "VersionMajor", VERSION_MAJOR);
        WriteUninstallNumber(key, "VersionMinor", VERSION_MINOR);
        SYSTEMTIME today;
        GetLocalTime(&today);
        // YYYYMMDD.
        FormatText(text, sizeof text, "%u",
                   today.wYear * 10000u + today.wMonth * 100u + today.wDay);
        WriteUninstallText(key, "InstallDate", text);
        // The uninstaller carries the product's icon.
        JoinPath(text, sizeof text, dirs.program, UNINSTALLER_NAME);
        WriteUninstallText(key, "DisplayIcon", text);
        WriteUninstallText(key, LOCATION_VALUE, dirs.program);
        DWORD kilobytes = InstalledKilobytes(dirs);
        if (kilobytes != 0)
            WriteUninstallNumber(key, "EstimatedSize", kilobytes);
        else
            Recorded(0, PRODUCT_UNINSTALL_KEY, "EstimatedSize");
        WriteUninstallNumber(key, "NoModify", 1);
        WriteUninstallNumber(key, "NoRepair", 1);
        RegCloseKey(key);
    } else {
        written = Recorded(0, PRODUCT_UNINSTALL_KEY, "");
    }
    char options[16];
    FormatText(options, sizeof options, "%u", 1u);
    const char section[] = "WIN.INI [Tarnlink Suite]";
    written &= Recorded(WriteProfileStringA(PRODUCT_NAME, DIR_RECORD, dirs.program), section, DIR_RECORD);
    written &= Recorded(WriteProfileStringA(PRODUCT_NAME, "DEFDIR", dirs.data), section, "DEFDIR");
    written &= Recorded(WriteProfileStringA(PRODUCT_NAME, "GROUP", session.groupName), section,
                        "GROUP");
    written &= Recorded(WriteProfileStringA(PRODUCT_NAME, "INSTOPTS", options), section,
                        "INSTOPTS");
    return written;
}

static void ShowSuccess(HWND mainWindow)
{
    char text[TEMPLATE_SIZE], caption[TEMPLATE_SIZE];
    LoadMessageString(IDS_SUCCESS, text, sizeof text);
    LogLine(text);
    if (session.quiet)
        return;
    LoadMessageString(IDS_CONGRATULATIONS, caption, sizeof caption);
    MessageBoxA(mainWindow, text, caption, MB_OK);
}

int RunInstall(HWND mainWindow)
{
    char caption[TEXT_FIELD];
    CopyText(caption, sizeof caption, session.title);
    SetWindowTextA(mainWindow, caption);

    int mode = ChooseInstallMode(mainWindow, session.instance);
    // Exit at the mode prompt is what the user asked for; a prompt that
    // could not be shown at all is a failure.
    if (mode < 0) {
        LogLine("The install or remove question could not be shown.");
        return 0;
    }
    if (mode == 0)
        return 1;
    if (mode == 2)
        return RemoveInstallation(mainWindow);

    if (ExtractPayload(session.instance, mainWindow) == 0) {
        ReportMessage(mainWindow, "", MB_OK, IDS_EXTRACTFAILED);
        return 0;
    }

    RunDirectories dirs;
    // The copy reads only what this run extracted, from its own directory.
    CopyText(dirs.source, sizeof dirs.source, ExtractionDirectory());
    PumpMessages();

    if (!ChooseDefaultDirectory(mainWindow, caption, dirs.program))
        return 0;

    if (!LocateSourceDirectory(session.instance, mainWindow, dirs.source, sizeof dirs.source,
                               payloadTable[0].sourceName)) {
        ReportMessage(mainWindow, PRIMARY_FILE, MB_ICONERROR, IDS_NOSOURCE);
        return 0;
    }
    PumpMessages();

    // A reinstallation proposes the directory of the previous one; a
    // recorded one too long to be read whole counts as none (it is logged).
    ReadProfileEntry(DIR_RECORD, dirs.program, sizeof dirs.program);

    if (!session.quiet && !AskDestinationDirectory(session.instance, mainWindow, dirs.program,
                                                      sizeof dirs.program)) {
        ReportMessage(mainWindow, caption, MB_ICONERROR, IDS_NODEST);
        return 0;
    }
    // Only a drive or UNC path: a relative one would be recorded and later
    // resolved against whatever directory the removal starts in.
    if (!IsAbsolutePath(dirs.program) || !CreateDirectoryPath(dirs.program)) {
        char text[MESSAGE_SIZE];
        LoadMessageString(IDS_DIRFAILED, text, sizeof text);
        AppendText(text, sizeof text, "\r\n");
        AppendText(text, sizeof text, dirs.program);
        LogLine(text);
        return 0;
    }
    size_t length = strlen(dirs.program);
    if (length > 0 && dirs.program[length - 1] == '\\')
        dirs.program[length - 1] = '\0';
    PumpMessages();

    CopyText(dirs.data, sizeof dirs.data, dirs.program);
    PumpMessages();

    // The product reads its settings: an installation without them is none.
    if (!Recorded(WriteSettingsKey(), SETTINGS_KEY, "")) {
        ReportMessage(mainWindow, caption, MB_ICONERROR, IDS_INSTALLFAILED);
        return 0;
    }
    PumpMessages();

    CopyText(dirs.web, sizeof dirs.web, dirs.program);
    int done = CopyPayload(session.instance, mainWindow, dirs.source, dirs.program, dirs.data,
                           dirs.web);
    PumpMessages();

    if (done) {
        // A recorded group that cannot be a group is not used.
        char group[TEXT_FIELD];
        if (ReadRecordedGroup("", group, sizeof group, IsUsableGroupName) == OUTCOME_DONE) {
            if (GroupFits(group))
                CopyText(session.groupName, sizeof session.groupName, group);
            else
                LogUnusableGroup(group);
        }
        done = session.quiet || AskGroup(mainWindow, session.instance);
    }
    if (done) {
        if (session.groupName[0] == '\0')
            CopyText(session.groupName, sizeof session.groupName, PRODUCT_NAME);
        MakeProgramItems(dirs);
    }
    PumpMessages();
    // An installation whose records could not be written cannot be found
    // again: that is no success either.
    if (!done || !WriteRecords(dirs)) {
        ReportMessage(mainWindow, caption, MB_ICONERROR, IDS_INSTALLFAILED);
        return 0;
    }
    ShowSuccess(mainWindow);
    return 1;
}
