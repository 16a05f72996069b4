// Installations as a user runs them: quiet, through the real dialogs, on
// emulated Windows versions, and the failures that must not lose anything.
#include "e2e_support.h"

#include <algorithm>
#include <functional>

#include "progman_support.h"
#include "resources/resource.h"

namespace {

using Install = Scenario;

TEST_F(Install, QuietInstallLeavesEveryRecord)
{
    // Files planted in the shared temporary directory under the names of the
    // carried ones (compressed and plain, one read-only) are not installed.
    const std::string planted = ReadFileBytes(BuildPath("packed\\mib.tx_"));
    const char *names[] = {"tarnlink.ex_", "tarnlink.dl_", "removetl.ex_", "tarnlink.hlp"};
    for (const char *name : names)
        WriteFileBytes(TempPath() + name, planted);
    SetFileAttributesA((TempPath() + "tarnlink.hlp").c_str(), FILE_ATTRIBUTE_READONLY);
    // Our values replace what anyone left under the entry's name; theirs stay.
    ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, std::string(UNINSTALL_KEY) + "\\Extra"));
    ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "QuietUninstallString",
                                 REG_SZ, "C:\\evil.exe"));
    ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "NoRemove", REG_DWORD,
                                 std::string("\1\0\0\0", 4)));

    ASSERT_EQ(0, RunQuiet("-q -l"));
    // The run extracted into a directory of its own under the temporary one.
    MachineState kept = InstallLog(DEFAULT_DIR);
    for (const char *name : names)
        kept["temp " + TempPath() + name] = FileState(planted);
    const std::string entry = std::string("reg HKLM\\") + UNINSTALL_KEY;
    kept[entry + "\\Extra"] = "key";
    kept[entry + " : NoRemove"] = "REG_DWORD 1";
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite", kept);
    for (const char *name : names)
        DeleteTree(TempPath() + name);
    EXPECT_EQ(nullptr, FindTopWindow(0, "TLInstal", nullptr));
}

// The program of the build that signs (the sign_setup test makes it): its
// carried programs were signed before their sums were recorded, and the
// signature appended to setup.exe leaves the carried files intact. The
// installed programs are the signed ones, not those of this build.
TEST_F(Install, SignedCopyInstallsQuietly)
{
    std::string signedCopy = BuildPath("signed\\setup.exe");
    ASSERT_TRUE(FileExists(signedCopy)) << signedCopy << ": run the sign_setup test first";
    ASSERT_EQ(0, RunQuiet("-q", signedCopy));
    programs = "signed\\build\\";
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite");
    for (const char *name : {"removetl.exe", "tarnlink.exe", "tarnlink.dll"})
        EXPECT_FALSE(ReadFileBytes(BuildPath(name)) ==
                     ReadFileBytes(std::string(DEFAULT_DIR) + "\\" + name)) << name;
}

TEST_F(Install, DialogsCarryTheInstallAndASecondRunProposesTheFirst)
{
    std::string chosen = "C:\\tltest\\Net Tools";
    {
        Program program;
        Start(program, "");
        HWND mode = WaitForDialog(program.pid, "Install", 15000);
        ASSERT_NE(nullptr, mode);
        EXPECT_EQ("Install or update Tarnlink Suite", ItemText(mode, IDC_INSTALLCHOICE));
        EXPECT_EQ("Remove prior installation of Tarnlink Suite", ItemText(mode, IDC_REMOVECHOICE));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(mode, IDC_REMOVECHOICE)));
        PressButton(mode, IDOK);

        HWND prompt = WaitForDialog(program.pid, "PROGRAM files directory", 15000);
        ASSERT_NE(nullptr, prompt);
        EXPECT_EQ("Please enter the destination directory:", ItemText(prompt, IDC_PROMPT));
        EXPECT_EQ(DEFAULT_DIR, ItemText(prompt, IDC_DIRECTORY));
        SetItemText(prompt, IDC_DIRECTORY, chosen);
        PressButton(prompt, IDOK);

        HWND group = WaitForDialog(program.pid, "Program Manager Group", 30000);
        ASSERT_NE(nullptr, group);
        EXPECT_EQ("Tarnlink Suite", ItemText(group, IDC_GROUPLIST));
        SetItemText(group, IDC_GROUPLIST, "Net Tools");
        PressButton(group, IDOK);

        EXPECT_EQ("Installation successful!", Answer(program, "Congratulations!", IDOK));
        EXPECT_EQ(0, program.Wait(15000));
    }
    ExpectInstalledIn(chosen, "Net Tools");

    // The second run offers removal and proposes the first run's choices;
    // leaving at the destination prompt says so and changes nothing.
    Program program;
    Start(program, "");
    HWND mode = WaitForDialog(program.pid, "Install", 15000);
    ASSERT_NE(nullptr, mode);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(mode, IDC_REMOVECHOICE)));
    EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(mode, IDC_INSTALLCHOICE), BM_GETCHECK, 0, 0));
    PressButton(mode, IDOK);
    HWND prompt = WaitForDialog(program.pid, "PROGRAM files directory", 15000);
    ASSERT_NE(nullptr, prompt);
    EXPECT_EQ(chosen, ItemText(prompt, IDC_DIRECTORY));
    PressButton(prompt, IDCANCEL);
    EXPECT_EQ("Can't continue without a destination directory!",
              Answer(program, "Tarnlink Suite Install", IDOK));
    EXPECT_EQ(1, program.Wait(15000));
    ExpectInstalledIn(chosen, "Net Tools");
}

const char FAILED[] = "Some portion of installation process failed.";

TEST_F(Install, CancelledGroupPromptKeepsFilesAndSettingsAndRecordsNothing)
{
    Program program;
    HWND prompt = StartToPrompt(program, "-i -l");
    ASSERT_NE(nullptr, prompt);
    PressButton(prompt, IDOK);
    HWND group = WaitForDialog(program.pid, "Program Manager Group", 30000);
    ASSERT_NE(nullptr, group);
    PressButton(group, IDCANCEL);
    EXPECT_EQ(FAILED, Answer(program, "Tarnlink Suite Install", IDOK));
    EXPECT_EQ(1, program.Wait(15000));

    // What was done stays; nothing is recorded, and no group is made.
    ExpectState(Copied(DEFAULT_DIR, InstallLog(DEFAULT_DIR, {FAILED})));
}

TEST_F(Install, QuietInstallGoesToTheSystemsDefaultFromAnyTemporaryDirectory)
{
    // A recorded DIR too long to be read whole counts as none; a temporary
    // directory of any length the system allows works.
    std::string longTemp = "C:\\tltest\\" + std::string(189, 't');
    const struct {
        const char *version;
        const char *directory;
        std::string recorded, temp;
    } cases[] = {{"win95", "C:\\Program Files\\Tarnlink", "", ""},
                 {"nt40", "C:\\Program Files\\Tarnlink", "", ""},
                 {"nt351", "C:\\WIN32APP\\Tarnlink", "", ""},
                 {"win31", "C:\\Tarnlink", "", ""},
                 {"", DEFAULT_DIR, "C:\\" + std::string(253, 'd'), ""},
                 {"", DEFAULT_DIR, "", longTemp}};
    for (const auto &c : cases) {
        ResetMachineState();
        EmulateWindows(c.version);
        if (!c.recorded.empty())
            WriteProfileStringA("Tarnlink Suite", "DIR", c.recorded.c_str());
        if (!c.temp.empty())
            CreateDirectoryA(c.temp.c_str(), nullptr);
        DeleteLog();
        int code;
        {
            ScopedVariable temp("TMP", c.temp.empty() ? nullptr : c.temp.c_str());
            code = RunQuiet("-q -l");
        }
        EXPECT_EQ(0, code) << c.version << c.recorded << c.temp;
        EXPECT_TRUE(FileExists(std::string(c.directory) + "\\tarnlink.exe")) << c.version;
        EXPECT_EQ(c.directory, ProfileString("Tarnlink Suite", "DIR")) << c.version;
        std::string log = ReadFileBytes(directory + "\\setup.log");
        EXPECT_EQ(!c.recorded.empty(), log.find("DIR in WIN.INI is too long: C:\\ddd") !=
                                           std::string::npos);
        if (!c.temp.empty())
            DeleteTree(c.temp);
    }
}

TEST_F(Install, Nt350IsRefusedAfterExtractionAndCleanedUp)
{
    const char key[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    std::string version, build;
    ASSERT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, key, "CurrentVersion", version));
    ASSERT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, key, "CurrentBuildNumber", build));
    // Where the system has them (Windows 10, Wine 10), the numbers go before
    // the text "CurrentVersion".
    DWORD major = 0, minor = 0;
    bool numbers = RegistryDword(HKEY_LOCAL_MACHINE, key, "CurrentMajorVersionNumber", major) &&
                   RegistryDword(HKEY_LOCAL_MACHINE, key, "CurrentMinorVersionNumber", minor);
    HKEY opened;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE, &opened));
    auto set = [&](const char *name, const std::string &value) {
        RegSetValueExA(opened, name, 0, REG_SZ, (const BYTE *)value.c_str(),
                       (DWORD)value.size() + 1);
    };
    auto setNumber = [&](const char *name, DWORD value) {
        if (numbers)
            RegSetValueExA(opened, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value);
    };
    set("CurrentVersion", "3.50");
    set("CurrentBuildNumber", "807");
    setNumber("CurrentMajorVersionNumber", 3);
    setNumber("CurrentMinorVersionNumber", 50);
    int code = RunQuiet("-q -l");
    set("CurrentVersion", version);
    set("CurrentBuildNumber", build);
    setNumber("CurrentMajorVersionNumber", major);
    setNumber("CurrentMinorVersionNumber", minor);
    RegCloseKey(opened);

    EXPECT_EQ(1, code);
    EXPECT_TRUE(Logged("You are running NT 3.50."));
    // No destination, no settings, no extraction directory or file.
    std::vector<std::string> lines = Log();
    ExpectState(Clean(LogState(lines)));
    // The extracted files were removed, each with its line.
    EXPECT_EQ(0u, lines.back().find("Removing " + TempPath() + "~tl")) << lines.back();
    EXPECT_EQ(".tmp\\mib.txt", lines.back().substr(lines.back().size() - 12));
}

// The files of a run that stopped at the file `from`: it and those after it
// are not there.
MachineState NotCopied(const std::string &dir, const std::string &from)
{
    MachineState absent;
    for (const PayloadFile &file : PayloadFiles())
        if (absent.size() > 0 || from == file.name)
            absent["file " + dir + "\\" + file.name] = "";
    return absent;
}

// Every failure that has a box in an interactive run: quiet, nothing waits
// for a click, the log holds the texts and the exit code says it failed. A
// run whose items alone were refused succeeds.
TEST_F(Install, QuietFailuresShowNothingAndExitWithOne)
{
    // Its files fit their paths, but not the items' commands.
    std::string itemsDir = "C:\\tltest\\" + std::string(235, 'd');
    std::string lockedDir = "C:\\tltest\\locked";
    std::string fullDir = "C:\\tltest\\" + std::string(245, 'f');
    // A temporary directory where, below the run's own "~tlNNNNN.tmp\\", the
    // carried files' names (12 characters) do not fit a path but "mib.txt"
    // does: the primary file is missing.
    std::string crampedTemp = "C:\\tltest\\cramped";
    crampedTemp += "\\" + std::string(236 - crampedTemp.size() - 1, 't');
    const std::string winIni = WindowsFile("win.ini");
    // A file held open without sharing cannot be written by anyone else,
    // whatever the user's rights.
    HANDLE locked = INVALID_HANDLE_VALUE;
    auto Lock = [](const std::string &path, DWORD disposition) {
        return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    char savedTmp[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", savedTmp, sizeof savedTmp);
    const struct {
        const char *name;
        std::function<void()> arrange, restore;
        std::vector<std::string> logged;   // texts the log must hold
        int succeeds = 0;
    } cases[] = {
        {"destination on a missing drive",
         [] { WriteProfileStringA("Tarnlink Suite", "DIR", "Q:\\nowhere"); }, [] {},
         {"Creation of Q: failed. (", "Creation of Q:\\nowhere failed. (",
          "Failed to create requested directory!\r\r\nQ:\\nowhere\r\n"}},
        {"relative destination",
         [] { WriteProfileStringA("Tarnlink Suite", "DIR", "Tarnlink"); }, [] {},
         {"Failed to create requested directory!\r\r\nTarnlink\r\n"}},
        // A recorded one that fills its 256-byte field is read whole, and is
        // too long for the files' paths.
        {"destination of 255 characters",
         [&] { WriteProfileStringA("Tarnlink Suite", "DIR", fullDir.c_str()); },
         [&] { DeleteTree(fullDir); },
         {"Copy of tarnlink.exe to " + fullDir + " failed. (206)"}},
        {"destination too long for its items' commands",
         [&] {
             DeleteTree(itemsDir);
             WriteProfileStringA("Tarnlink Suite", "DIR", itemsDir.c_str());
         },
         [&] {
             EXPECT_EQ(itemsDir, ProfileString("Tarnlink Suite", "DIR"));
             EXPECT_EQ(7u, FolderEntries(itemsDir, "*").size());
             DeleteTree(itemsDir);
         },
         {"creating icon for " + itemsDir + "\\tarnlink.exe", "icon refused: Tarnlink Suite",
          "icon refused: Uninstall Tarnlink Suite", "Installation successful!"},
         1},
        {"no temporary directory",
         [] { SetEnvironmentVariableA("TMP", "C:\\tltest\\no-such-temp"); },
         [&] { SetEnvironmentVariableA("TMP", savedTmp); },
         {"File extraction to temporary directory failed."}},
        {"primary file missing",
         [&] {
             CreateDirectoryA("C:\\tltest\\cramped", nullptr);
             CreateDirectoryA(crampedTemp.c_str(), nullptr);
             SetEnvironmentVariableA("TMP", crampedTemp.c_str());
         },
         [&] {
             SetEnvironmentVariableA("TMP", savedTmp);
             DeleteTree("C:\\tltest\\cramped");
         },
         {"Please locate source directory!", "Can't continue with no source."}},
        // Half-way: the files copied before it stay, and so does the one that
        // was there.
        {"destination file that cannot be opened",
         [&] {
             DeleteTree(lockedDir);
             CreateDirectoryA(lockedDir.c_str(), nullptr);
             locked = Lock(lockedDir + "\\tarnlink.txt", CREATE_ALWAYS);
             WriteProfileStringA("Tarnlink Suite", "DIR", lockedDir.c_str());
         },
         [&] {
             CloseHandle(locked);
             ExpectState(Copied(lockedDir, LogState(Log()) + NotCopied(lockedDir, "tarnlink.txt") +
                                               MachineState{{"file " + lockedDir + "\\tarnlink.txt",
                                                             FileState("")},
                                                            {"ini DIR", "= " + lockedDir}}));
             DeleteTree(lockedDir);
         },
         {"Failed to open destination file tarnlink.txt",
          "Copy of tarnlink.txt to " + lockedDir + " failed. (", FAILED}},
        // The records written before it stay, with the files.
        {"WIN.INI that cannot be written",
         [&] { locked = Lock(winIni, OPEN_EXISTING); },
         [&] {
             CloseHandle(locked);
             ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite",
                               LogState(Log()) + MachineState{{"ini DIR", ""}, {"ini DEFDIR", ""},
                                                              {"ini GROUP", ""}, {"ini INSTOPTS", ""}});
         },
         {"Failed to write WIN.INI [Tarnlink Suite] DIR", FAILED}},
    };
    for (const auto &c : cases) {
        ResetMachineState();
        DeleteLog();
        c.arrange();
        int dialogs = -1;
        int code = RunQuietWatched("-q -l", dialogs);
        c.restore();
        EXPECT_EQ(c.succeeds ? 0 : 1, code) << c.name;
        EXPECT_EQ(0, dialogs) << c.name;
        std::string log = ReadFileBytes(directory + "\\setup.log");
        for (const std::string &text : c.logged)
            EXPECT_NE(std::string::npos, log.find(text)) << c.name << ": " << text;
        EXPECT_EQ(c.succeeds, log.find("Installation successful!") != std::string::npos)
            << c.name;
        // Nothing is made where a relative path would have put it.
        EXPECT_FALSE(DirectoryExists(directory + "\\Tarnlink")) << c.name;
    }
    ExpectNoTempFiles();
}

// Names that hold characters the Program Manager's command syntax gives a
// meaning to still make their group and items, with the right targets and
// working directories.
TEST_F(Install, GroupAndDestinationNamesWithSyntaxCharactersMakeTheirItems)
{
    std::string longGroup(255, 'g');
    // Whose longest item's path fills MAX_PATH to its last character, and
    // one more.
    std::string fitGroup(MAX_PATH - 1 - ProgramsFolder().size() -
                             sizeof "\\\\Tarnlink Suite Release Notes.lnk" + 1, 'f'),
        overGroup = fitGroup + "f";
    const struct {
        const char *recorded;   // GROUP in WIN.INI
        const char *group;      // the group made
        const char *destination;
    } cases[] = {{"Net Tools (beta)", "Net Tools (beta)",
                  "C:\\tltest\\Program Files (x86)\\Tarnlink"},
                 {"Net, Tools", "Net, Tools", "C:\\tltest\\a,b [c]"},
                 // A recorded name that cannot be sent, or cannot be one folder
                 // of the Start Menu, is not used.
                 {"Net \"Tools\"", "Tarnlink Suite", "C:\\tltest\\Tarnlink"},
                 {"..\\..\\Desktop", "Tarnlink Suite", "C:\\tltest\\Tarnlink"},
                 {"CON", "Tarnlink Suite", "C:\\tltest\\Tarnlink"},
                 {fitGroup.c_str(), fitGroup.c_str(), "C:\\tltest\\Tarnlink"},
                 {overGroup.c_str(), "Tarnlink Suite", "C:\\tltest\\Tarnlink"},
                 {longGroup.c_str(), "Tarnlink Suite", "C:\\tltest\\Tarnlink"}};
    for (const auto &c : cases) {
        ResetMachineState();
        WriteProfileStringA("Tarnlink Suite", "GROUP", c.recorded);
        WriteProfileStringA("Tarnlink Suite", "DIR", c.destination);
        ASSERT_EQ(0, RunQuiet("-q")) << c.group;
        // The items' targets and working directories are part of the state.
        ExpectInstalledIn(c.destination, c.group);
        std::string folder = ProgramsFolder() + "\\" + c.group;
        std::string refused = ProgramsFolder() + "\\" + c.recorded + "\\Tarnlink Suite.lnk";
        EXPECT_EQ(std::string(c.group) == c.recorded, FileExists(refused)) << refused;
        DeleteTree(folder);
        DeleteTree("C:\\tltest\\Program Files (x86)");
        DeleteTree(c.destination);
    }
}

// Settings that are there already: "Applets" is reset, "RawSock" kept when it
// holds two to four bytes, and a value of the user's stays.
TEST_F(Install, RawSockIsKeptOnlyWhenItHoldsTwoToFourBytes)
{
    const struct {
        DWORD type;
        std::string data;
        const char *kept;   // as the state shows it; null: reset to 0
    } cases[] = {{REG_BINARY, std::string("\x01\x02", 2), "type 3: 01 02"},
                 {REG_BINARY, std::string("\x07\x08\x09\x0a", 4), "type 3: 07 08 09 0a"},
                 {REG_SZ, "ab", "REG_SZ ab"},   // with its closing zero, as below
                 {REG_BINARY, std::string("\x05", 1), nullptr},
                 {REG_SZ, "too long", nullptr}};
    const std::string settings = std::string("reg HKLM\\") + SETTINGS_PATH;
    for (const auto &c : cases) {
        ResetMachineState();
        ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, SETTINGS_PATH, "RawSock", c.type, c.data));
        SetRegistryValue(HKEY_LOCAL_MACHINE, SETTINGS_PATH, "Applets", REG_DWORD,
                         std::string("\5\0\0\0", 4));
        SetRegistryValue(HKEY_LOCAL_MACHINE, SETTINGS_PATH, "Proxy", REG_SZ, "gw:8080");
        ASSERT_EQ(0, RunQuiet("-q"));
        ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite",
                          {{settings + " : RawSock", c.kept ? c.kept : "REG_DWORD 0"},
                           {settings + " : Proxy", "REG_SZ gw:8080"}});
    }
}

} // namespace

namespace {

TEST_F(Install, NoProgramManagerStillSucceedsWithEveryRecord)
{
    // On a desktop where no shell runs no Program Manager answers.
    IsolatedProgman isolated(IsolatedProgman::ABSENT);
    ASSERT_TRUE(isolated.ready);
    int code = -1;
    DWORD started = GetTickCount();
    ASSERT_TRUE(isolated.Run([&] { code = RunQuiet("-q -l"); }, 70000));
    EXPECT_EQ(0, code);
    // Every DDE command gives up at once or after its time-out: no hang.
    EXPECT_LT(GetTickCount() - started, 30000u);

    for (const PayloadFile &file : PayloadFiles())
        EXPECT_TRUE(FileExists(std::string(DEFAULT_DIR) + "\\" + file.name)) << file.name;
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_EQ(DEFAULT_DIR, ProfileString("Tarnlink Suite", "DIR"));
    EXPECT_EQ("Tarnlink Suite", ProfileString("Tarnlink Suite", "GROUP"));
    EXPECT_FALSE(DirectoryExists(ProgramsFolder() + "\\Tarnlink Suite"));
    EXPECT_TRUE(Logged("Installation successful!"));
    // Nobody took the group, and no item was sent after it.
    EXPECT_TRUE(Logged("group not made: Tarnlink Suite"));
    EXPECT_FALSE(Logged("creating icon for " + std::string(DEFAULT_DIR) + "\\tarnlink.exe"));
}

TEST_F(Install, ItemsPointAtTheInstalledFiles)
{
    ASSERT_EQ(0, RunQuiet("-q"));
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite");
    // A second install replaces the items rather than doubling them.
    ASSERT_EQ(0, RunQuiet("-q"));
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite");
}

} // namespace

namespace {

const char DAMAGED[] = "The setup program is damaged. Please obtain a new copy of it.";
const char RUNNING[] =
    "Setup or Uninstall of Tarnlink Suite is already running. Please wait until it has finished.";

// The bytes of a carried resource as the build packed them.
std::string PackedBytes(const char *packedName)
{
    return ReadFileBytes(BuildPath((std::string("packed\\") + packedName).c_str()));
}

// The resource name as the resource directory holds it (UTF-16).
std::string WideName(const char *name)
{
    std::string wide;
    for (const char *c = name; *c != '\0'; c++)
        wide += std::string(1, *c) + '\0';
    return wide;
}

// A copy of setup.exe at `path` whose resource `resource` (packed as
// `packedName`) is damaged in place by `damage`, or, when `cut` is set,
// replaced by its first bytes. Without a packed name, the resource is
// renamed to `damage`-changed name: the program no longer has one of that
// name.
void MakeDamagedCopy(const std::string &path, const char *resource, const char *packedName,
                     const std::function<void(std::string &)> &damage, size_t cut)
{
    std::string program = ReadFileBytes(BuildPath("setup.exe"));
    if (packedName == nullptr) {
        std::string name = WideName(resource), renamed = name;
        damage(renamed);
        size_t at = program.find(name);
        ASSERT_NE(std::string::npos, at) << resource;
        program.replace(at, name.size(), renamed);
        WriteFileBytes(path, program);
        return;
    }
    std::string packed = PackedBytes(packedName);
    if (cut == 0) {
        size_t at = program.find(packed);
        ASSERT_NE(std::string::npos, at) << packedName;
        std::string changed = packed;
        damage(changed);
        program.replace(at, packed.size(), changed);
        WriteFileBytes(path, program);
        return;
    }
    WriteFileBytes(path, program);
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    ASSERT_NE(nullptr, update);
    ASSERT_TRUE(UpdateResourceA(update, "EXE", resource,
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), &packed[0],
                                (DWORD)(packed.size() - cut)));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
}

TEST_F(Install, DamagedProgramSaysSoAndChangesNothing)
{
    const struct {
        const char *label, *resource, *packed;
        std::function<void(std::string &)> damage;
        size_t cut;
        const char *switches = "-q -l", *message = DAMAGED;
    } cases[] = {
        // A question the program cannot show at all is not an answer.
        {"install question renamed", "DLG_INSTALL", nullptr, [](std::string &b) { b[20] = 'Y'; },
         0, "-l", "The install or remove question could not be shown."},
        {"one data byte flipped", "DLLFILE", "tarnlink.dl_",
         [](std::string &b) { b[b.size() / 2] ^= 0x10; }, 0},
        {"last byte flipped", "TXTFILE", "tarnlink.tx_", [](std::string &b) { b.back() ^= 1; }, 0},
        {"bad signature", "EXEFILE", "tarnlink.ex_", [](std::string &b) { b[3] = 'X'; }, 0},
        {"bad mode", "HLPFILE", "tarnlink.hl_", [](std::string &b) { b[8] = 'B'; }, 0},
        {"header length", "REMFILE", "removetl.ex_", [](std::string &b) { b[10] ^= 1; }, 0},
        {"cut short", "MIBFILE", "mib.tx_", nullptr, 100},
        // Missing altogether, even the one optional file.
        {"renamed", "MIBFILE", nullptr, [](std::string &b) { b[12] = 'Z'; }, 0},
    };
    std::string damaged = directory + "\\damaged.exe";
    for (const auto &c : cases) {
        MakeDamagedCopy(damaged, c.resource, c.packed, c.damage, c.cut);
        if (HasFailure())
            return;
        DeleteLog();
        Program program;
        ASSERT_TRUE(program.Start(damaged, c.switches, directory));
        EXPECT_EQ(1, program.Wait(30000)) << c.label;
        ExpectState(Clean(LogState({c.message})), c.label);
    }

    // Not quiet: a message box says it.
    Program program;
    ASSERT_TRUE(program.Start(damaged, "", directory));
    EXPECT_EQ(DAMAGED, Answer(program, "Tarnlink Suite Install", IDOK));
    EXPECT_EQ(1, program.Wait(15000));
    ExpectState(Clean(LogState({DAMAGED})));
}

TEST_F(Install, SecondSetupWhileOneRunsChangesNothing)
{
    Program first;
    HWND prompt = StartToPrompt(first, "-i -l");
    ASSERT_NE(nullptr, prompt);
    std::vector<std::string> extracted = ExtractionDirectories();
    ASSERT_EQ(1u, extracted.size());
    MachineState during = State();

    std::string other = ScratchDirectory("e2e-second");
    {
        Program quiet;
        ASSERT_TRUE(quiet.Start(BuildPath("setup.exe"), "-q -l", other));
        EXPECT_EQ(1, quiet.Wait(15000));
        EXPECT_EQ(std::vector<std::string>{RUNNING}, ReadLogLines(other + "\\setup.log"));
        Program shown;
        ASSERT_TRUE(shown.Start(BuildPath("setup.exe"), "-i", other));
        EXPECT_EQ(RUNNING, Answer(shown, "Tarnlink Suite Install", IDOK));
        EXPECT_EQ(1, shown.Wait(15000));
        // Nor does the uninstaller start, for the directory the first run
        // is about to fill.
        WriteProfileStringA("Tarnlink Suite", "DIR", DEFAULT_DIR);
        Program uninstall;
        ASSERT_TRUE(uninstall.Start(BuildPath("removetl.exe"),
                                    std::string("-f \"") + DEFAULT_DIR + "\" -g \"Tarnlink Suite\"",
                                    other));
        EXPECT_EQ("Setup or Uninstall of Tarnlink Suite is already running.\n"
                  "Please wait until it has finished.",
                  Answer(uninstall, "Uninstall Tarnlink Suite", IDOK));
        EXPECT_EQ(1, uninstall.Wait(15000));
        DeleteProfileSection("Tarnlink Suite");
    }
    DeleteTree(other);
    // Nothing changed: the first run's files are where it left them.
    ExpectState(during);

    PressButton(prompt, IDOK);
    HWND group = WaitForDialog(first.pid, "Program Manager Group", 30000);
    ASSERT_NE(nullptr, group);
    // While it waits there, its directory can be neither renamed nor removed.
    std::string held = extracted[0].substr(0, extracted[0].size() - 1);
    EXPECT_FALSE(MoveFileA(held.c_str(), (held + "x").c_str()));
    PressButton(group, IDOK);
    EXPECT_EQ("Installation successful!", Answer(first, "Congratulations!", IDOK));
    EXPECT_EQ(0, first.Wait(15000));
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite", InstallLog(DEFAULT_DIR));

    // Any object under the lock's name stops a setup as well: the machine's
    // name where the system has sessions, the plain one before them.
    const struct {
        const char *version, *name;
    } locks[] = {{"", "Global\\Quorvale Tarnlink Setup"}, {"nt40", "Quorvale Tarnlink Setup"}};
    for (const auto &lock : locks) {
        EmulateWindows(lock.version);
        HANDLE impostor = CreateEventA(nullptr, FALSE, FALSE, lock.name);
        ASSERT_NE(nullptr, impostor);
        Program quiet;
        ASSERT_TRUE(quiet.Start(BuildPath("setup.exe"), "-q -l", directory));
        EXPECT_EQ(1, quiet.Wait(15000)) << lock.name;
        CloseHandle(impostor);
        EXPECT_EQ(RUNNING, Log().back()) << lock.name;
    }
}

TEST_F(Install, FileSwappedWhileAPromptIsOpenIsNotInstalled)
{
    Program program;
    HWND prompt = StartToPrompt(program, "-i -l");
    ASSERT_NE(nullptr, prompt);
    std::vector<std::string> extracted = ExtractionDirectories();
    ASSERT_EQ(1u, extracted.size());
    // Someone else's program under the name the copy reads.
    WriteFileBytes(extracted[0] + "tarnlink.dll", ReadFileBytes(BuildPath("removetl.exe")));
    PressButton(prompt, IDOK);

    // No prompt for a disk: the run's own file is not the carried one.
    EXPECT_EQ("The copy of tarnlink.dll does not match the file this setup program carries.",
              Answer(program, "Error", IDOK, 30000));
    EXPECT_EQ(std::string("Copy of tarnlink.dll to ") + DEFAULT_DIR + " failed. (23)",
              Answer(program, "Install", IDOK));
    EXPECT_EQ(FAILED, Answer(program, "Tarnlink Suite Install", IDOK));
    program.Wait(15000);

    // The files before it stay; it and those after it are not there.
    ExpectState(Copied(DEFAULT_DIR, LogState(Log()) + NotCopied(DEFAULT_DIR, "tarnlink.dll")));
}

TEST_F(Install, DestinationFileThatCannotBeWrittenFailsTheRunAndStays)
{
    // Read-only, and in use by the running product (root, as CI runs, may
    // write a read-only file under Wine).
    std::string dll = std::string(DEFAULT_DIR) + "\\tarnlink.dll";
    ASSERT_TRUE(CreateDirectoryA("C:\\Program Files\\Tarnlink", nullptr));
    WriteFileBytes(dll, "old version");
    SetFileAttributesA(dll.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE running = CreateFileA(dll.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, running);

    Program program;
    HWND prompt = StartToPrompt(program, "-i -l");
    ASSERT_NE(nullptr, prompt);
    PressButton(prompt, IDOK);
    EXPECT_EQ("Failed to open destination file tarnlink.dll",
              Answer(program, "Error", IDCANCEL, 30000));
    // The real error: access denied, or the sharing violation.
    std::string failure = Answer(program, "Install", IDOK);
    std::string prefix = std::string("Copy of tarnlink.dll to ") + DEFAULT_DIR + " failed. (";
    EXPECT_TRUE(failure == prefix + "5)" || failure == prefix + "32)") << failure;
    EXPECT_EQ(FAILED, Answer(program, "Tarnlink Suite Install", IDOK));
    program.Wait(15000);
    CloseHandle(running);

    ExpectState(Copied(DEFAULT_DIR, LogState(Log()) + NotCopied(DEFAULT_DIR, "tarnlink.dll") +
                                        MachineState{{dll.insert(0, "file "), FileState("old version")}}));
}

// Drive T: is a small tmpfs that fills up at once (tests/support/fulldisk.sh);
// it exists only where the suites may mount one.
const char FULL_DRIVE[] = "T:\\";

// Carries a run through its dialogs until it ends: OK on the destination and
// group prompts, Cancel (else OK) on every message box. Returns the boxes' texts.
struct QuestionSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK IsQuestion(HWND window, LPARAM data)
{
    QuestionSearch &search = *(QuestionSearch *)data;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (owner != search.pid || std::string(className) != "#32770" || !IsWindowVisible(window) ||
        WindowText(window) == "Installation")
        return TRUE;
    search.found = window;
    return FALSE;
}

// A visible dialog of the process other than the progress window.
HWND FindQuestion(DWORD pid)
{
    QuestionSearch search = {pid, nullptr};
    EnumWindows(IsQuestion, (LPARAM)&search);
    return search.found;
}

std::vector<std::string> AnswerUntilEnd(Program &program)
{
    std::vector<std::string> texts;
    DWORD started = GetTickCount();
    while (WaitForSingleObject(program.process, 100) == WAIT_TIMEOUT &&
           GetTickCount() - started < 90000) {
        HWND dialog = FindQuestion(program.pid);
        if (dialog == nullptr)
            continue;
        std::string caption = WindowText(dialog);
        if (caption == "PROGRAM files directory" || caption == "Program Manager Group") {
            PressButton(dialog, IDOK);
        } else if (GetDlgItem(dialog, 0xFFFF) == nullptr) {
            // A prompt still being set up, not a message box: look again.
            continue;
        } else {
            texts.push_back(MessageBoxText(dialog));
            PressButton(dialog, HasButton(dialog, IDCANCEL) ? IDCANCEL : IDOK);
        }
        WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 5000);
    }
    return texts;
}

TEST_F(Install, FullDiskFailsTheRunAndRecordsNothing)
{
    if (GetDriveTypeA(FULL_DRIVE) != DRIVE_FIXED && GetDriveTypeA(FULL_DRIVE) != DRIVE_RAMDISK)
        GTEST_SKIP() << "no small drive T: (mounting a tmpfs needs root)";
    const char *failed = FAILED;

    // As the destination: the drive is filled first, so the first file does
    // not fit, whatever the carried files' sizes.
    std::string filler = std::string(FULL_DRIVE) + "filler";
    {
        HANDLE file = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        char block[1024] = {};
        DWORD put = sizeof block;
        while (put == sizeof block && WriteFile(file, block, sizeof block, &put, nullptr))
            ;
        CloseHandle(file);
    }
    WriteProfileStringA("Tarnlink Suite", "DIR", "T:\\Tarnlink");
    {
        Program program;
        Start(program, "-i -l");
        std::vector<std::string> texts = AnswerUntilEnd(program);
        std::vector<std::string> expected = {
            "The disk is full: tarnlink.exe could not be written. (112)",
            "Copy of tarnlink.exe to T:\\Tarnlink failed. (112)", failed};
        EXPECT_EQ(expected, texts);
    }
    EXPECT_FALSE(Logged("Installation successful!"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_EQ("T:\\Tarnlink", ProfileString("Tarnlink Suite", "DIR"));   // only ours
    DeleteTree("T:\\Tarnlink");
    DeleteFileA(filler.c_str());
    ExpectNoTempFiles();

    // As the temporary directory: the files that did not fit are not there to
    // be installed, short or whole.
    ResetMachineState();
    DeleteLog();
    std::vector<std::string> texts;
    {
        ScopedVariable tmp("TMP", FULL_DRIVE), temp("TEMP", FULL_DRIVE);
        Program program;
        Start(program, "-i -l");
        texts = AnswerUntilEnd(program);
    }
    std::string seen;
    for (const std::string &text : texts)
        seen += "[" + text + "] ";
    ASSERT_EQ(3u, texts.size()) << seen;
    EXPECT_EQ(0u, texts[0].find("Insert disk 1 containing ")) << texts[0];
    EXPECT_EQ(failed, texts[2]);
    EXPECT_TRUE(Logged(failed));
    std::vector<std::string> lines = Log();
    // The run's directory on T: is gone with everything in it.
    std::string missing = texts[0].substr(texts[0].rfind(' ') + 1);
    ExpectState(Copied(DEFAULT_DIR, LogState(lines) + NotCopied(DEFAULT_DIR, missing)));
}

// A run killed half-way leaves its directory; the next run takes it away,
// and nothing that is not a dead run's: a live run's (its marker held), one
// that only looks like one, with or without a marker (a name that differs in
// its last digit, or is not a run's at all), a dead run's file whose bytes
// differ though its length does not, a link to somewhere else, and
// files that are links to someone else's (which the platform may delete in a
// link's place), under an empty marker or under one with a run's text.
TEST_F(Install, NextRunTakesAwayWhatAKilledRunLeftInTheTemporaryDirectory)
{
    Program killed;
    ASSERT_NE(nullptr, StartToPrompt(killed, "-i"));
    std::vector<std::string> dead = ExtractionDirectories();
    ASSERT_EQ(1u, dead.size());
    TerminateProcess(killed.process, 9);
    killed.Wait(5000);

    // A run's marker and a carried file's bytes stay under a live run's
    // marker (held as a run holds it) and one digit off a run's name.
    const std::string packed = ReadFileBytes(BuildPath("packed\\tarnlink.ex_"));
    const std::string runText = "Tarnlink Suite setup run\r\n";
    std::string alive = TempPath() + "~tl99991.tmp", link = TempPath() + "~tl99993.tmp",
                elsewhere = ScratchDirectory("e2e-elsewhere");
    const struct {
        std::string dir;
        const char *marker;   // null for none
        std::string program;
    } planted[] = {{alive, runText.c_str(), packed},
                   {TempPath() + "~tl99992.tmp", nullptr, "kept"},
                   {TempPath() + "~tlkept.tmp", "", "kept"},
                   {TempPath() + "~tl1234x.tmp", runText.c_str(), packed},
                   {TempPath() + "~tl99994.tmp", runText.c_str(), packed.substr(1) + "!"},
                   {elsewhere, "", "kept"},
                   // Runs that ended before they made a marker, or whose
                   // marker the restart took (Windows 95 keeps an uninstaller
                   // copy's directory): they go as far as their bytes are ours.
                   {TempPath() + "~tl99995.tmp", nullptr, packed},
                   {TempPath() + "~rt99996.tmp", nullptr, ""}};
    for (const auto &p : planted) {
        CreateDirectoryA(p.dir.c_str(), nullptr);
        if (!p.program.empty())
            WriteFileBytes(p.dir + "\\tarnlink.exe", p.program);
        if (p.marker != nullptr)
            WriteFileBytes(p.dir + "\\setup.run", p.marker);
    }
    HANDLE marker = CreateFileA((alive + "\\setup.run").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(MakeHostLink(elsewhere, link));
    // Directories of links to someone else's files, under an empty marker
    // that is a link too, and under a run's marker.
    std::string linked[] = {TempPath() + "~tl12345.tmp", TempPath() + "~tl12346.tmp"};
    std::string victims = ScratchDirectory("e2e-victims");
    std::vector<std::string> links;
    for (const std::string &dir : linked) {
        CreateDirectoryA(dir.c_str(), nullptr);
        for (const char *name : {"setup.run", "tarnlink.exe", "tarnlink.txt", "mib.txt"}) {
            std::string victim = victims + "\\" + name + dir.substr(dir.size() - 5, 1);
            WriteFileBytes(victim, "someone else's");
            if (dir == linked[1] && std::string(name) == "setup.run") {
                WriteFileBytes(dir + "\\" + name, runText);
                continue;
            }
            ASSERT_TRUE(MakeHostLink(victim, dir + "\\" + name));
            links.push_back(dir + "\\" + name);
        }
    }
    // Everything in the temporary directory stays as it is but the dead
    // run's, and the run's marker among the links; the files the links
    // lead to stay too.
    MachineState before = State();
    MachineState kept = Only(before, "temp ") + Only(before, "file " + elsewhere) +
                        Only(before, "file " + victims);
    for (const std::string &gone : {dead[0], planted[6].dir, planted[7].dir})
        for (const auto &item : Only(kept, "temp " + gone))
            kept[item.first] = "";
    kept["temp " + linked[1] + "\\setup.run"] = "";
    kept["temp " + planted[4].dir + "\\setup.run"] = "";

    int code = RunQuiet("-q");
    CloseHandle(marker);
    EXPECT_EQ(0, code);
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite", kept);
    RemoveHostLink(link);
    for (const std::string &planted : links)
        RemoveHostLink(planted);
    for (const auto &p : planted)
        DeleteTree(p.dir);
    for (const std::string &dir : {linked[0], linked[1], victims})
        DeleteTree(dir);
}

// A DLL under a system DLL's name beside the program (a downloads folder),
// preferred over the system's as Windows would take it: it is never loaded.
TEST_F(Install, DllPlantedBesideTheProgramIsNeverLoaded)
{
    std::string folder = ScratchDirectory("e2e-downloads");
    ASSERT_TRUE(CopyFileA(BuildPath("setup.exe").c_str(), (folder + "\\setup.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(BuildPath("tests\\planted.dll").c_str(),
                          (folder + "\\lz32.dll").c_str(), FALSE));
    char overrides[512] = "";
    GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
    int code;
    {
        ScopedVariable dlls("WINEDLLOVERRIDES", (std::string(overrides) + ";lz32=n,b").c_str());
        code = RunQuiet("-q", folder + "\\setup.exe");
    }
    EXPECT_EQ(0, code);
    EXPECT_FALSE(FileExists(folder + "\\planted-ran"));
    DeleteTree(folder);
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite");
}

} // namespace
