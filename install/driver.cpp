#include "driver.h"

#include "../app/messages.h"
#include "../app/session.h"
#include "../app/text.h"
#include "../payload/copy.h"
#include "../payload/extract.h"
#include "../payload/table.h"
#include "../progman/progman.h"
#include "../remove/remove.h"
#include "../resources/resource.h"
#include "prompts.h"

constexpr size_t DIR_SIZE = 512;
constexpr size_t PROFILE_SIZE = 256;
constexpr size_t MESSAGE_SIZE = 1024;
// Two copies of the program directory, the data directory and the group
// name, with the switches: the longest uninstall command they can make.
constexpr size_t COMMAND_SIZE = 3 * DIR_SIZE + TEXT_FIELD + 64;

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA as the platform expects it");

static const char SETTINGS_KEY[] = "Software\\Quorvale\\Tarnlink\\Settings";

// A run's directories. The source directory ends in a backslash, the others
// do not.
struct RunDirectories {
    char source[DIR_SIZE];
    char program[DIR_SIZE];
    char data[DIR_SIZE];
    char web[DIR_SIZE];
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

static void ReadProfileEntry(const char *key, char *value, size_t size)
{
    char text[PROFILE_SIZE];
    GetProfileStringA(PRODUCT_NAME, key, "", text, sizeof text);
    if (text[0] != '\0')
        CopyText(value, size, text);
}

// "Applets" is reset on every run; "RawSock" only when it is missing or does
// not hold 2 to 4 bytes.
static void WriteSettingsKey()
{
    HKEY key;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &key) != ERROR_SUCCESS)
        return;
    DWORD zero = 0;
    RegSetValueExA(key, "Applets", 0, REG_DWORD, (const BYTE *)&zero, sizeof zero);
    BYTE data[4];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, "RawSock", nullptr, nullptr, data, &size) != ERROR_SUCCESS ||
        size < 2)
        RegSetValueExA(key, "RawSock", 0, REG_DWORD, (const BYTE *)&zero, sizeof zero);
    RegCloseKey(key);
}

static void MakeProgramItems(const RunDirectories &dirs)
{
    LogMessage(IDS_CREATINGGROUP);
    if (ProgmanCreateGroup(session.groupName)) {
        for (int i = 0; i < payloadCount; i++) {
            const PayloadEntry &row = payloadTable[i];
            if (!(row.state & PAYLOAD_COPIED) || !row.makeItem)
                continue;
            char path[DIR_SIZE];
            if (!FormatText(path, sizeof path, "%s\\%s", dirs.program, row.destName) ||
                GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
                continue;
            char line[DIR_SIZE + 32];
            FormatText(line, sizeof line, "creating icon for %s", path);
            LogLine(line);
            ProgmanAddItem(row.itemTitle, dirs.data, row.destName, path);
        }
    }
    PumpMessages();
    ProgmanClose();
}

static void WriteRecords(const RunDirectories &dirs)
{
    char keyPath[TEXT_FIELD];
    HKEY key;
    if (FormatText(keyPath, sizeof keyPath,
                   "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s", PRODUCT_NAME) &&
        RegCreateKeyA(HKEY_LOCAL_MACHINE, keyPath, &key) == ERROR_SUCCESS) {
        char text[COMMAND_SIZE];
        FormatText(text, sizeof text, "Quorvale %s Uninstall", PRODUCT_NAME);
        RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE *)text, lstrlenA(text) + 1);
        // Unquoted, as the uninstaller reads it.
        FormatText(text, sizeof text, "%s\\%s.exe -f %s -d %s -g %s", dirs.program, "removetl",
                   dirs.program, dirs.data, session.groupName);
        RegSetValueExA(key, "UninstallString", 0, REG_SZ, (const BYTE *)text,
                       lstrlenA(text) + 1);
        RegCloseKey(key);
    }
    char options[16];
    FormatText(options, sizeof options, "%u", 1u);
    WriteProfileStringA(PRODUCT_NAME, "DIR", dirs.program);
    WriteProfileStringA(PRODUCT_NAME, "DEFDIR", dirs.data);
    WriteProfileStringA(PRODUCT_NAME, "GROUP", session.groupName);
    WriteProfileStringA(PRODUCT_NAME, "INSTOPTS", options);
}

static void ShowSuccess(HWND mainWindow)
{
    char text[MESSAGE_SIZE], caption[MESSAGE_SIZE];
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
    if (mode == 0)
        return 0;
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

    if (!LocateSourceDirectory(session.instance, mainWindow, dirs.source,
                               payloadTable[0].sourceName)) {
        ReportMessage(mainWindow, "Tarnlink.exe", MB_ICONERROR, IDS_NOSOURCE);
        return 0;
    }
    PumpMessages();

    // A reinstallation proposes the directory of the previous one.
    ReadProfileEntry("DIR", dirs.program, sizeof dirs.program);

    if (!session.quiet && !AskDestinationDirectory(session.instance, mainWindow, dirs.program)) {
        ReportMessage(mainWindow, caption, MB_ICONERROR, IDS_NODEST);
        return 0;
    }
    if (!CreateDirectoryPath(dirs.program)) {
        char text[MESSAGE_SIZE];
        LoadMessageString(IDS_DIRFAILED, text, sizeof text);
        AppendText(text, sizeof text, "\r\n");
        AppendText(text, sizeof text, dirs.program);
        LogLine(text);
        return 0;
    }
    int result = 1;
    size_t length = lstrlenA(dirs.program);
    if (length > 0 && dirs.program[length - 1] == '\\')
        dirs.program[length - 1] = '\0';
    PumpMessages();

    CopyText(dirs.data, sizeof dirs.data, dirs.program);
    PumpMessages();

    WriteSettingsKey();
    PumpMessages();

    CopyText(dirs.web, sizeof dirs.web, dirs.program);
    result = CopyPayload(session.instance, mainWindow, dirs.source, dirs.program, dirs.data,
                         dirs.web);
    PumpMessages();

    if (result == 1) {
        ReadProfileEntry("GROUP", session.groupName, sizeof session.groupName);
        if (!session.quiet && !AskGroup(mainWindow, session.instance)) {
            result = 0;
        } else {
            if (session.groupName[0] == '\0')
                CopyText(session.groupName, sizeof session.groupName, PRODUCT_NAME);
            MakeProgramItems(dirs);
            result = 1;
        }
    }

    PumpMessages();
    if (result == 0) {
        ReportMessage(mainWindow, caption, MB_ICONERROR, IDS_INSTALLFAILED);
        return 0;
    }
    WriteRecords(dirs);
    ShowSuccess(mainWindow);
    return 1;
}
