// removetl.exe after a real installation, started as Add/Remove Programs and
// the Start Menu start it: what goes, what stays, what the user is told, and
// the exit codes.
#include "e2e_support.h"

#include <aclapi.h>
#include <algorithm>
#include <functional>
#include <tlhelp32.h>

#include "progman_support.h"

namespace {

// One run of the uninstaller: the process started, and the copy in a
// directory of its own under the temporary one that it hands the removal to.
struct Uninstaller {
    Program first;
    HANDLE copy = nullptr;
    DWORD copyPid = 0;
    std::string copyName;

    ~Uninstaller()
    {
        if (copy != nullptr)
            CloseHandle(copy);
    }

    // The whole line, program included, as Windows starts an UninstallString.
    bool Start(const std::string &commandLine, const std::string &directory)
    {
        std::string line = commandLine;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                            directory.c_str(), &startup, &info))
            return false;
        CloseHandle(info.hThread);
        first.process = info.hProcess;
        first.pid = info.dwProcessId;
        return true;
    }

    void FindCopy()
    {
        if (copy != nullptr)
            return;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more;
             more = Process32Next(snapshot, &entry)) {
            // By name too: Wine may list one of its own services as a child of
            // the first process it starts in a session.
            bool isCopy = _stricmp(entry.szExeFile, "removetl.exe") == 0;
            if (entry.th32ParentProcessID == first.pid && entry.th32ProcessID != first.pid &&
                isCopy) {
                copy = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE,
                                   entry.th32ProcessID);
                copyPid = entry.th32ProcessID;
                copyName = entry.szExeFile;
                break;
            }
        }
        CloseHandle(snapshot);
    }

    // Waits for the first process, watching for the copy it starts; returns
    // the first one's exit code. With `dialogs`, every box either shows is
    // counted there and answered.
    int WaitFirst(DWORD ms, int *dialogs = nullptr)
    {
        DWORD start = GetTickCount();
        while (WaitForSingleObject(first.process, 5) == WAIT_TIMEOUT) {
            FindCopy();
            for (DWORD pid : {first.pid, copyPid}) {
                HWND box;
                if (dialogs != nullptr && pid != 0 &&
                    (box = FindTopWindow(pid, "#32770", nullptr)) != nullptr) {
                    ++*dialogs;
                    PressButton(box, HasButton(box, IDNO) ? IDNO : IDOK);
                    WaitUntil([&] { return !IsWindow(box); }, 5000);
                }
            }
            if (GetTickCount() - start > ms)
                return first.Wait(0);
        }
        FindCopy();
        return first.Wait(0);
    }

    // The copy's exit code, -1 when none was started.
    int WaitCopy(DWORD ms)
    {
        if (copy == nullptr)
            return -1;
        if (WaitForSingleObject(copy, ms) != WAIT_OBJECT_0)
            return -1000;
        DWORD code = 0;
        GetExitCodeProcess(copy, &code);
        return (int)code;
    }
};

class Uninstall : public Scenario {
protected:
    // Copies of earlier runs would wait for a restart that never comes; they
    // go before the state the scenario starts from is taken.
    void SetUp() override
    {
        RemoveUninstallerCopies();
        Scenario::SetUp();
    }

    void TearDown() override
    {
        // The copies that were to go at the next restart go now.
        RemoveUninstallerCopies();
        EmulateWindowsEverywhere("");
        WritePrivateProfileStringA("rename", nullptr, nullptr, "WININIT.INI");
        Scenario::TearDown();
    }

    // A quiet install into `dir` with `group`, as WIN.INI proposes them.
    void InstallInto(const std::string &dir, const std::string &group,
                     const char *proposed = nullptr)
    {
        WriteProfileStringA("Tarnlink Suite", "DIR", proposed ? proposed : dir.c_str());
        WriteProfileStringA("Tarnlink Suite", "GROUP", group.c_str());
        ASSERT_EQ(0, RunQuiet("-q"));
        ExpectInstalledIn(dir, group);
    }

    // A quiet run of `line` to its end: the first process's exit code, which
    // is the copy's when it handed the removal over.
    int RunToEnd(const std::string &line, int *dialogs = nullptr)
    {
        Uninstaller run;
        if (!run.Start(line, directory))
            return -2000;
        int first = run.WaitFirst(60000, dialogs);
        if (run.copy == nullptr) {
            EXPECT_NE(0, first) << "a removal is handed to a copy";
            return first;
        }
        EXPECT_EQ(first, run.WaitCopy(5000)) << "a quiet run ends with its copy's outcome";
        NoteCopy(run);
        return first;
    }

    // A run that ends at its first message, answered with `button`: no copy,
    // exit code 1. Returns the message's text.
    std::string RunToFirstAnswer(const std::string &line, int button)
    {
        Uninstaller run;
        if (!run.Start(line, directory))
            return "<not started>";
        std::string text = Answer(run.first, "Uninstall Tarnlink Suite", button);
        EXPECT_EQ(1, run.WaitFirst(15000)) << line;
        EXPECT_EQ(nullptr, run.copy) << line;
        return text;
    }

    // A run that the user confirms: the text of the copy's final message,
    // and its exit code in `code`; `meanwhile` runs while that message is up.
    std::string RunAnsweringYes(const std::string &line, int &code,
                                const std::function<void()> &meanwhile = nullptr)
    {
        Uninstaller run;
        if (!run.Start(line, directory))
            return "<not started>";
        Answer(run.first, "Uninstall Tarnlink Suite", IDYES);
        // The first process waits for the copy, whose final message is shown.
        WaitUntil([&] {
            run.FindCopy();
            return run.copy != nullptr;
        }, 15000);
        if (run.copy == nullptr)
            return "<no copy>";
        Program copy;
        copy.pid = run.copyPid;
        if (meanwhile && WaitForDialog(copy.pid, "Uninstall Tarnlink Suite", 30000))
            meanwhile();
        std::string text = Answer(copy, "Uninstall Tarnlink Suite", IDOK, 30000);
        code = run.WaitFirst(15000);
        EXPECT_EQ(code, run.WaitCopy(15000)) << "the first process ends with its copy's outcome";
        NoteCopy(run);
        return text;
    }

    // The copy's own directory, the only one of its kind under the
    // temporary directory.
    static std::string CopyDirectory()
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((TempPath() + "~rt*.tmp").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return std::string();
        FindClose(search);
        return TempPath() + found.cFileName;
    }

    void NoteCopy(const Uninstaller &run)
    {
        if (run.copyName.empty())
            return;
        // Its own file, and on NT its directory, are deleted at the next restart.
        std::string dir = CopyDirectory(), copy = dir + "\\removetl.exe";
        ASSERT_FALSE(dir.empty());
        if (windows95) {
            // Windows 95 reads the requests from WININIT.INI, by the short
            // name, one line each.
            char shortPath[MAX_PATH] = "";
            std::string lines = ReadFileBytes(WindowsFile("WININIT.INI"));
            // One section, whatever the case of the header that was there,
            // and its requests stay.
            std::string lower = Lowered(lines);
            EXPECT_EQ(lower.rfind("[rename]\r\n"), lower.find("[rename]\r\n")) << lines;
            EXPECT_NE(std::string::npos,
                      lower.find(Lowered(restartLines), lower.find("[rename]\r\n")))
                << lines;
            for (const std::string &file : {copy, dir + "\\setup.run"}) {
                GetShortPathNameA(file.c_str(), shortPath, sizeof shortPath);
                EXPECT_NE(std::string::npos, lines.find("\r\nNUL=" + std::string(shortPath) + "\r\n"))
                    << file << ": " << lines;
            }
        } else {
            std::string lower = Lowered(copy);
            size_t file = PendingDeletes().find(lower + "||");
            EXPECT_NE(std::string::npos, file) << lower;
            EXPECT_LT(file, PendingDeletes().find(lower.substr(0, lower.rfind('\\')) + "||"));
        }
        // Gone now, so that the next run's is the only one.
        DeleteTree(dir);
    }

    // Every program of the prefix takes this Windows version ("" the default).
    void EmulateWindowsEverywhere(const char *version)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Wine", &key));
        if (version[0] == '\0')
            RegDeleteValueA(key, "Version");
        else
            RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE *)version,
                           lstrlenA(version) + 1);
        RegCloseKey(key);
        windows95 = version[0] != '\0';
        restartLines.clear();
    }

    bool windows95 = false;
    std::string restartLines;   // what WININIT.INI's [rename] held before

    // Nothing of the installation, not even the maker's empty keys.
    void ExpectNothingLeft(const MachineState &overrides = {}) { ExpectState(Clean(overrides)); }
};

// Either program removes an installation, on machines where the maker's key
// holds a value of another product's, and where WIN.INI names another
// installation: that record stays.
TEST_F(Uninstall, RecordedLineRemovesEverything)
{
    enum Line { QUIET, RECORDED, LEGACY, ROOT, SETUP };
    struct Row {
        const char *dir;
        const char *group;
        // QuietUninstallString as recorded; UninstallString with -q; the
        // unquoted arguments earlier versions recorded, with -q; the drive
        // root written "C:\"; setup.exe -q -r
        Line line;
        const char *windows;
        const char *otherInstallation = nullptr;   // WIN.INI's DIR, or null
        // InstallLocation rewritten with this type: one of another type
        // names no directory, as in an entry of an earlier version.
        DWORD locationType = REG_SZ;
    } rows[] = {
        {DEFAULT_DIR, "Tarnlink Suite", QUIET, ""},
        {"C:\\tltest\\Net Tools -x", "Other Tools", RECORDED, ""},
        {"C:\\tltest\\Net Tools", "My Tools", LEGACY, ""},
        {DEFAULT_DIR, "Tarnlink Suite", RECORDED, "win95"},
        {"C:", "Tarnlink Suite", ROOT, ""},
        {DEFAULT_DIR, "Tarnlink Suite", QUIET, "", "C:\\tltest\\Other"},
        {DEFAULT_DIR, "Tarnlink Suite", SETUP, ""},
        // WIN.INI names an earlier installation that is gone: the one the
        // entry names keeps its entry and files.
        {DEFAULT_DIR, "Tarnlink Suite", SETUP, "", "C:\\tltest\\Other"},
        {DEFAULT_DIR, "Tarnlink Suite", QUIET, "", nullptr, REG_BINARY},
        // Another volume than the temporary directory's (drive U:, where the
        // suites may mount one).
        {"U:\\Tarnlink", "Tarnlink Suite", QUIET, ""},
    };
    const std::string vendor = "reg HKCU\\Software\\Quorvale";
    for (const Row &row : rows) {
        SCOPED_TRACE(row.dir);
        if (row.dir[0] == 'U' && GetDriveTypeA("U:\\") != DRIVE_FIXED &&
            GetDriveTypeA("U:\\") != DRIVE_RAMDISK)
            continue;
        InstallInto(row.dir, row.group, row.line == ROOT ? "C:\\" : nullptr);
        if (row.locationType != REG_SZ) {
            ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "InstallLocation",
                                         row.locationType,
                                         std::string(row.dir, strlen(row.dir) + 1)));
        }
        ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, "Software\\Quorvale", "Licence", REG_SZ,
                                     "Q-1234"));
        MachineState kept = {{vendor, "key"}, {vendor + " : Licence", "REG_SZ Q-1234"}};
        std::string group = ProgramsFolder() + "\\" + row.group;
        if (std::string(row.group) != "Tarnlink Suite") {
            WriteFileBytes(group + "\\Keep Me.lnk", "not ours");
            kept["item " + group + "\\"] = "dir";
            kept["item " + group + "\\Keep Me.lnk"] = FileState("not ours");
        }
        if (row.otherInstallation != nullptr)
            WriteProfileStringA("Tarnlink Suite", "DIR", row.otherInstallation);
        if (row.otherInstallation != nullptr && row.line == SETUP)
            kept = kept + Left(row.dir, {"tarnlink.exe", "tarnlink.hlp", "tarnlink.cnt",
                                         "tarnlink.dll", "tarnlink.txt", "removetl.exe", "mib.txt"});
        else if (row.otherInstallation != nullptr)
            kept = kept + Only(Installed(row.dir, row.group), "ini ") +
                   MachineState{{"ini DIR", std::string("= ") + row.otherInstallation}};
        std::string dir = row.dir;
        std::string line = EntryValue("UninstallString") + " -q";
        if (row.line == QUIET)
            line = EntryValue("QuietUninstallString");
        if (row.line == LEGACY)
            line = "\"" + dir + "\\removetl.exe\" -f " + dir + " -d " + dir + " -g " + row.group +
                   " -q";
        if (row.line == ROOT)
            line = "\"C:\\removetl.exe\" -f C:\\ -d C:\\ -g \"Tarnlink Suite\" -q";

        EmulateWindowsEverywhere(row.windows);
        if (windows95) {
            // Another program's request waits for the restart already.
            restartLines = "NUL=C:\\EARLIER.TMP\r\n";
            WriteFileBytes(WindowsFile("WININIT.INI"), "[Rename]\r\n" + restartLines);
        }
        int dialogs = 0;
        EXPECT_EQ(0, row.line == SETUP ? RunQuiet("-q -r") : RunToEnd(line, &dialogs));
        EXPECT_EQ(0, dialogs);
        EmulateWindowsEverywhere("");
        // Only the uninstaller takes the maker's key when nothing is left in it.
        if (row.line == SETUP)
            kept["reg HKLM\\Software\\Quorvale"] = "key";
        ExpectNothingLeft(kept);
        if (row.line != ROOT && row.otherInstallation == nullptr) {
            EXPECT_FALSE(DirectoryExists(dir)) << dir;
        }
        DeleteTree(group);
        ResetMachineState();
    }
}

TEST_F(Uninstall, StartMenuItemAsksFirstAndSaysWhenNothingIsLeft)
{
    InstallInto(DEFAULT_DIR, "Tarnlink Suite");
    // Another product of the maker keeps the maker's key.
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, "Software\\Quorvale\\Netmon"));
    std::string uninstaller = "\"" + std::string(DEFAULT_DIR) + "\\removetl.exe\"";
    // The Start Menu item starts it without arguments.
    EXPECT_EQ("Remove Tarnlink Suite and all of its components from " + std::string(DEFAULT_DIR) +
                  "?",
              RunToFirstAnswer(uninstaller, IDNO));
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite",
                      {{"reg HKCU\\Software\\Quorvale", "key"},
                       {"reg HKCU\\Software\\Quorvale\\Netmon", "key"}});
    // While the copy still works, a setup started meanwhile does nothing.
    int code = -1;
    EXPECT_EQ("Removal process complete.\nTarnlink Suite has been removed from your computer.",
              RunAnsweringYes(uninstaller, code, [&] { EXPECT_EQ(1, RunQuiet("-q -l")); }));
    EXPECT_EQ(0, code);
    ExpectNothingLeft(LogState({"Setup or Uninstall of Tarnlink Suite is already running. Please "
                                "wait until it has finished."}) +
                      MachineState{{"reg HKCU\\Software\\Quorvale", "key"},
                                   {"reg HKCU\\Software\\Quorvale\\Netmon", "key"}});

    // A second run, with the arguments that were recorded.
    EXPECT_EQ("Tarnlink Suite is not installed in " + std::string(DEFAULT_DIR) +
                  ".\nThere is nothing to remove.",
              RunToFirstAnswer("\"" + BuildPath("removetl.exe") + "\" -f \"" + DEFAULT_DIR +
                                   "\" -d \"" + DEFAULT_DIR + "\" -g \"Tarnlink Suite\"",
                               IDOK));
}

TEST_F(Uninstall, FileInUseIsNamedAndCanBeRemovedLater)
{
    InstallInto(DEFAULT_DIR, "Tarnlink Suite");
    std::string held = std::string(DEFAULT_DIR) + "\\tarnlink.dll";
    HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    int code = -1;
    EXPECT_EQ("Removal process complete, except for\n" + held +
                  "\nwhich is in use or could not be deleted.\n"
                  "Close the program that uses it and run Uninstall again.",
              RunAnsweringYes(EntryValue("UninstallString"), code));
    EXPECT_EQ(2, code);
    // A deployment tool running the quiet line learns that something stayed.
    std::string quietLine = EntryValue("QuietUninstallString");
    EXPECT_EQ(2, RunToEnd(quietLine));
    CloseHandle(file);

    // The entry stays, and the uninstaller it names is there to try again.
    ExpectState(Left(DEFAULT_DIR, {"tarnlink.dll", "removetl.exe"}));

    // A copy killed before it gives its outcome (here while a Program
    // Manager keeps it waiting) is a failure to its caller; its directory
    // goes with the next run.
    std::string dead;
    {
        IsolatedProgman stalling(IsolatedProgman::STALLING);
        ASSERT_TRUE(stalling.ready);
        Uninstaller run;
        int first = -1;
        ASSERT_TRUE(stalling.Run([&] {
            if (!run.Start(quietLine, directory))
                return;
            WaitUntil([&] {
                run.FindCopy();
                return run.copy != nullptr;
            }, 15000);
            HANDLE copy = OpenProcess(PROCESS_TERMINATE, FALSE, run.copyPid);
            TerminateProcess(copy, 9);
            CloseHandle(copy);
            first = run.WaitFirst(15000);
        }, 60000));
        EXPECT_EQ(2, first);
        dead = CopyDirectory();
        EXPECT_FALSE(dead.empty());
    }

    EXPECT_EQ(0, RunToEnd(quietLine));
    EXPECT_FALSE(DirectoryExists(dead)) << dead;
    ExpectNothingLeft();

    // The uninstaller itself held open: the rest goes, and it is deleted at
    // the next restart.
    InstallInto(DEFAULT_DIR, "Tarnlink Suite");
    std::string uninstaller = std::string(DEFAULT_DIR) + "\\removetl.exe";
    file = CreateFileA(uninstaller.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       0, nullptr);
    EXPECT_EQ(0, RunToEnd(quietLine));
    CloseHandle(file);
    EXPECT_EQ(std::vector<std::string>{"removetl.exe"}, FolderEntries(DEFAULT_DIR, "*"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_NE(std::string::npos, PendingDeletes().find(Lowered(uninstaller) + "||"))
        << PendingDeletes();
}

// setup.exe -r keeps the uninstaller, and the entry that names it, while
// anything else stays, the uninstaller included (held open by another
// program, or read-only); the recorded line then takes the rest. A
// read-only uninstaller stays with its entry there too, until it may go.
TEST_F(Uninstall, SetupRemovalThatKeepsAFileKeepsTheUninstallerToFinishIt)
{
    const struct {
        const char *file;
        bool readOnly;   // else held open, nobody else deleting it
    } rows[] = {{"tarnlink.dll", false}, {"removetl.exe", false}, {"removetl.exe", true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file + std::string(row.readOnly ? " read-only" : " held"));
        InstallInto(DEFAULT_DIR, "Tarnlink Suite");
        std::string kept = std::string(DEFAULT_DIR) + "\\" + row.file;
        HANDLE file = INVALID_HANDLE_VALUE;
        if (row.readOnly)
            SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_READONLY);
        else
            file = CreateFileA(kept.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        std::string quietLine = EntryValue("QuietUninstallString");
        EXPECT_EQ(1, RunQuiet("-q -r"));
        MachineState left = Left(DEFAULT_DIR, {row.file, "removetl.exe"});
        ExpectState(left + MachineState{{"reg HKLM\\Software\\Quorvale", "key"}});
        if (row.readOnly) {
            EXPECT_EQ(2, RunToEnd(quietLine));
            ExpectState(left);
            SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        EXPECT_EQ(0, RunToEnd(quietLine));
        ExpectNothingLeft();
    }
}

// Gives a registry key an empty access list (nobody may open or delete
// it), or its rights back; false where the platform does not enforce it.
bool LockKey(const std::string &path, bool lock)
{
    std::string name = "MACHINE\\" + path;
    ACL empty;
    InitializeAcl(&empty, sizeof empty, ACL_REVISION);
    if (SetNamedSecurityInfoA(&name[0], SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, lock ? &empty : nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    HKEY probe;
    bool opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &probe) ==
                  ERROR_SUCCESS;
    if (opened)
        RegCloseKey(probe);
    return opened != lock;
}

// An entry that cannot be deleted is said, and the run is not a success.
TEST_F(Uninstall, EntryThatCannotBeDeletedIsNoSuccess)
{
    InstallInto(DEFAULT_DIR, "Tarnlink Suite");
    // A key with a subkey of its own that nobody may open.
    std::string locked = std::string(UNINSTALL_KEY) + "\\Locked";
    ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, locked + "\\Inner"));
    if (!LockKey(locked, true))
        GTEST_SKIP() << "the platform does not enforce key security";
    std::string quietLine = EntryValue("QuietUninstallString");

    EXPECT_EQ(1, RunQuiet("-q -r -l"));
    EXPECT_EQ("The Add/Remove Programs entry of Tarnlink Suite could not be removed.",
              Log().back());
    // The program the entry names stays with it, to try again.
    EXPECT_EQ(std::vector<std::string>{"removetl.exe"}, FolderEntries(DEFAULT_DIR, "*"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_EQ(2, RunToEnd(quietLine));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));

    ASSERT_TRUE(LockKey(locked, false));
    EXPECT_EQ(0, RunToEnd(quietLine));
    ExpectNothingLeft(LogState(Log()));
}

// The copy's directory is a new one: a directory already under the name the
// run would try first, with a program of someone else's in it, is left alone.
TEST_F(Uninstall, CopyNeverGoesIntoADirectoryThatWasThere)
{
    InstallInto(DEFAULT_DIR, "Tarnlink Suite");
    std::string quietLine = EntryValue("QuietUninstallString");
    // Its own file held by another program in a way that keeps it from being
    // read as the copy's source: nothing is done, and no directory is left.
    HANDLE held = CreateFileA((std::string(DEFAULT_DIR) + "\\removetl.exe").c_str(), DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(1, RunToEnd(quietLine));
    CloseHandle(held);
    EXPECT_EQ("", CopyDirectory());
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite");

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &quietLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, directory.c_str(), &startup, &info));
    std::string planted = TempPath() + "~rt" + std::to_string(info.dwProcessId % 90000 + 10000) +
                          ".tmp";
    CreateDirectoryA(planted.c_str(), nullptr);
    WriteFileBytes(planted + "\\removetl.exe", "someone else's");
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    Uninstaller run;
    run.first.process = info.hProcess;
    run.first.pid = info.dwProcessId;
    EXPECT_EQ(0, run.WaitFirst(60000));
    EXPECT_EQ("someone else's", ReadFileBytes(planted + "\\removetl.exe"));
    // With the copy's own directory, which is to go at the next restart.
    for (std::string dir = CopyDirectory(); !dir.empty(); dir = CopyDirectory())
        DeleteTree(dir);
    ExpectNothingLeft();
}

TEST_F(Uninstall, RefusesWhatItCannotUseAndKeepsTheRootOfADrive)
{
    InstallInto("C:", "Tarnlink Suite", "C:\\");
    WriteFileBytes("C:\\keep.txt", "not ours");
    std::string program = "\"" + BuildPath("removetl.exe") + "\" ";
    // What the uninstaller cannot use, as its own parser reads it (the
    // uninstall suite has every case), and the copy's switches given by hand,
    // are refused as such, not taken for a line that names nothing installed.
    for (const std::string arguments :
         {"-f Tarnlink -g \"Tarnlink Suite\"", "-w 8 -o 4 -f C: -g \"Tarnlink Suite\""}) {
        std::string text = RunToFirstAnswer(program + arguments, IDOK);
        EXPECT_EQ(0u, text.find("Uninstall cannot tell what to remove")) << arguments << ": " << text;
    }
    ExpectInstalledIn("C:", "Tarnlink Suite", {{"file C:\\keep.txt", FileState("not ours")}});

    // In a drive's root, too, a file that stays keeps the uninstaller and
    // the entry.
    HANDLE held = CreateFileA("C:\\tarnlink.dll", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(2, RunToEnd(EntryValue("UninstallString") + " -q"));
    CloseHandle(held);
    ExpectState(Left("C:", {"tarnlink.dll", "removetl.exe"}) +
                MachineState{{"file C:\\keep.txt", FileState("not ours")}});

    EXPECT_EQ(0, RunToEnd(EntryValue("UninstallString") + " -q"));
    ExpectNothingLeft({{"file C:\\keep.txt", FileState("not ours")}});
    EXPECT_TRUE(DirectoryExists("C:\\windows"));
    DeleteFileA("C:\\keep.txt");

    // A directory whose name holds what looks like a quiet switch: its line,
    // from Add/Remove Programs, still asks first, and No keeps everything.
    const std::string apps = "C:\\tltest\\Apps -s Net";
    InstallInto(apps, "Tarnlink Suite");
    EXPECT_EQ("Remove Tarnlink Suite and all of its components from " + apps + "?",
              RunToFirstAnswer(EntryValue("UninstallString"), IDNO));
    ExpectInstalledIn(apps, "Tarnlink Suite");
}

} // namespace
