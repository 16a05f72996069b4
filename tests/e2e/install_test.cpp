// Installations as a user runs them: quiet, through the real dialogs, on
// emulated Windows versions, and the failures that must not lose anything.
#include "e2e_support.h"

#include <functional>

#include "progman_support.h"
#include "resources/resource.h"

namespace {

using Install = Scenario;

TEST_F(Install, QuietInstallLeavesEveryRecord)
{
    ASSERT_EQ(0, RunQuiet("-q -l"));
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite");
    ExpectNoTempFiles();
    DWORD rawSock = 99;
    EXPECT_TRUE(RegistryDword(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "RawSock", rawSock));
    EXPECT_EQ(0u, rawSock);

    std::string temp = TempPath();
    std::vector<std::string> expected;
    for (const PayloadFile &file : PayloadFiles())
        expected.push_back("Extracting to " + temp + file.name + ", ");
    expected.push_back("installing 7 files");
    expected.push_back("");
    for (const PayloadFile &file : PayloadFiles())
        expected.push_back("Copying " + temp + file.name + " to " + DEFAULT_DIR + "\\" + file.name);
    expected.push_back("Creating group");
    for (const char *name : {"tarnlink.exe", "tarnlink.hlp", "tarnlink.txt", "removetl.exe"})
        expected.push_back(std::string("creating icon for ") + DEFAULT_DIR + "\\" + name);
    expected.push_back("Installation successful!");
    for (const PayloadFile &file : PayloadFiles())
        expected.push_back("Removing " + temp + file.name);

    std::vector<std::string> lines = Log();
    ASSERT_EQ(expected.size(), lines.size());
    for (size_t i = 0; i < lines.size(); i++) {
        if (i < 7)   // the sizes follow the path
            EXPECT_EQ(0u, lines[i].find(expected[i])) << lines[i];
        else
            EXPECT_EQ(expected[i], lines[i]);
    }
    EXPECT_EQ(nullptr, FindTopWindow(0, "TLInstal", nullptr));
}

// The copy that tools/sign.sh signed (the sign_setup test makes it): the
// signature appended to the file leaves the carried files intact.
TEST_F(Install, SignedCopyInstallsQuietly)
{
    std::string signedCopy = BuildPath("signed\\setup.exe");
    ASSERT_TRUE(FileExists(signedCopy)) << signedCopy << ": run the sign_setup test first";
    Program program;
    ASSERT_TRUE(program.Start(signedCopy, "-q", directory));
    ASSERT_EQ(0, program.Wait(60000));
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite");
    ExpectNoTempFiles();
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
    ExpectNoTempFiles();
}

TEST_F(Install, CancelledGroupPromptKeepsFilesButRecordsNothing)
{
    Program program;
    Start(program, "-i -l");
    HWND prompt = WaitForDialog(program.pid, "PROGRAM files directory", 15000);
    ASSERT_NE(nullptr, prompt);
    PressButton(prompt, IDOK);
    HWND group = WaitForDialog(program.pid, "Program Manager Group", 30000);
    ASSERT_NE(nullptr, group);
    PressButton(group, IDCANCEL);
    EXPECT_EQ("Some portion of installation process failed.",
              Answer(program, "Tarnlink Suite Install", IDOK));
    EXPECT_EQ(1, program.Wait(15000));

    EXPECT_TRUE(FileExists(std::string(DEFAULT_DIR) + "\\tarnlink.exe"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, SETTINGS_KEY));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_EQ("", ProfileString("Tarnlink Suite", "DIR"));
    EXPECT_FALSE(DirectoryExists(ProgramsFolder() + "\\Tarnlink Suite"));
    ExpectNoTempFiles();
}

TEST_F(Install, DefaultDirectoryFollowsTheWindowsVersion)
{
    const struct {
        const char *version;
        const char *directory;
    } cases[] = {{"win95", "C:\\Program Files\\Tarnlink"},
                 {"nt40", "C:\\Program Files\\Tarnlink"},
                 {"nt351", "C:\\WIN32APP\\Tarnlink"},
                 {"win31", "C:\\Tarnlink"}};
    for (const auto &c : cases) {
        ResetMachineState();
        EmulateWindows(c.version);
        ASSERT_EQ(0, RunQuiet("-q")) << c.version;
        EXPECT_TRUE(FileExists(std::string(c.directory) + "\\tarnlink.exe")) << c.version;
        EXPECT_EQ(c.directory, ProfileString("Tarnlink Suite", "DIR")) << c.version;
    }
}

TEST_F(Install, Nt350IsRefusedAfterExtractionAndCleanedUp)
{
    const char key[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    std::string version, build;
    ASSERT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, key, "CurrentVersion", version));
    ASSERT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, key, "CurrentBuildNumber", build));
    HKEY opened;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE, &opened));
    auto set = [&](const char *name, const std::string &value) {
        RegSetValueExA(opened, name, 0, REG_SZ, (const BYTE *)value.c_str(),
                       (DWORD)value.size() + 1);
    };
    set("CurrentVersion", "3.50");
    set("CurrentBuildNumber", "807");
    int code = RunQuiet("-q -l");
    set("CurrentVersion", version);
    set("CurrentBuildNumber", build);
    RegCloseKey(opened);

    EXPECT_EQ(1, code);
    std::vector<std::string> lines = Log();
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "You are running NT 3.50."));
    EXPECT_FALSE(DirectoryExists(DEFAULT_DIR));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, SETTINGS_KEY));
    ExpectNoTempFiles();
    // The extracted files were removed, each with its line.
    EXPECT_EQ("Removing " + TempPath() + "mib.txt", lines.back());
}

// Every failure that has a box in an interactive run: quiet, nothing waits
// for a click, the log holds the texts and the exit code says it failed.
TEST_F(Install, QuietFailuresShowNothingAndExitWithOne)
{
    std::string longDir = "C:\\tltest\\" + std::string(280, 'd');
    std::string deepDir = "C:\\tltest\\" + std::string(120, 'L');
    // A temporary directory where the carried files' names (12 characters)
    // do not fit a path but "mib.txt" does: the primary file is missing.
    std::string crampedTemp = "C:\\tltest\\cramped";
    crampedTemp += "\\" + std::string(245 - crampedTemp.size() - 1, 't');
    std::string winIni;
    {
        char windows[MAX_PATH];
        GetWindowsDirectoryA(windows, sizeof windows);
        winIni = std::string(windows) + "\\win.ini";
    }
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
    } cases[] = {
        {"destination on a missing drive",
         [] { WriteProfileStringA("Tarnlink Suite", "DIR", "Q:\\nowhere"); }, [] {},
         {"Creation of Q: failed. (", "Creation of Q:\\nowhere failed. (",
          "Failed to create requested directory!\r\r\nQ:\\nowhere\r\n"}},
        {"relative destination",
         [] { WriteProfileStringA("Tarnlink Suite", "DIR", "Tarnlink"); }, [] {},
         {"Failed to create requested directory!\r\r\nTarnlink\r\n"}},
        {"destination too long to be read whole",
         [&] { WriteProfileStringA("Tarnlink Suite", "DIR", longDir.c_str()); }, [] {},
         {"DIR in WIN.INI is too long: C:\\tltest\\ddd", "Failed to create requested directory!"}},
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
        // LZ32 opens no path of 128 characters or more.
        {"destination file that cannot be opened",
         [&] { WriteProfileStringA("Tarnlink Suite", "DIR", deepDir.c_str()); },
         [&] { DeleteTree(deepDir); },
         {"Failed to open destination file tarnlink.exe",
          "Copy of tarnlink.exe to " + deepDir + " failed. (",
          "Some portion of installation process failed."}},
        {"WIN.INI that cannot be written",
         [&] { locked = Lock(winIni, OPEN_EXISTING); }, [&] { CloseHandle(locked); },
         {"Failed to write WIN.INI [Tarnlink Suite] DIR",
          "Some portion of installation process failed."}},
    };
    for (const auto &c : cases) {
        ResetMachineState();
        DeleteFileA((directory + "\\setup.log").c_str());
        c.arrange();
        int dialogs = -1;
        int code = RunQuietWatched("-q -l", dialogs);
        c.restore();
        EXPECT_EQ(1, code) << c.name;
        EXPECT_EQ(0, dialogs) << c.name;
        std::string log = ReadFileBytes(directory + "\\setup.log");
        for (const std::string &text : c.logged)
            EXPECT_NE(std::string::npos, log.find(text)) << c.name << ": " << text;
        EXPECT_EQ(std::string::npos, log.find("Installation successful!")) << c.name;
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
    const struct {
        const char *recorded;   // GROUP in WIN.INI
        const char *group;      // the group made
        const char *destination;
    } cases[] = {{"Net Tools (beta)", "Net Tools (beta)",
                  "C:\\tltest\\Program Files (x86)\\Tarnlink"},
                 {"Net, Tools", "Net, Tools", "C:\\tltest\\a,b [c]"},
                 // A recorded name that cannot be sent is not used.
                 {"Net \"Tools\"", "Tarnlink Suite", "C:\\tltest\\Tarnlink"}};
    for (const auto &c : cases) {
        ResetMachineState();
        WriteProfileStringA("Tarnlink Suite", "GROUP", c.recorded);
        WriteProfileStringA("Tarnlink Suite", "DIR", c.destination);
        ASSERT_EQ(0, RunQuiet("-q")) << c.group;
        ExpectInstalledIn(c.destination, c.group);
        std::string folder = ProgramsFolder() + "\\" + c.group;
        std::string target, workingDirectory;
        ASSERT_TRUE(ReadShortcut(folder + "\\Tarnlink Suite.lnk", target, workingDirectory))
            << c.group;
        EXPECT_TRUE(SameFile(std::string(c.destination) + "\\tarnlink.exe", target)) << target;
        EXPECT_TRUE(SameFile(c.destination, workingDirectory)) << workingDirectory;
        DeleteTree(folder);
        DeleteTree("C:\\tltest\\Program Files (x86)");
        DeleteTree(c.destination);
    }
}

TEST_F(Install, RawSockIsKeptOnlyWhenItHoldsTwoToFourBytes)
{
    const struct {
        DWORD type;
        std::string data;
        bool kept;
    } cases[] = {{REG_BINARY, std::string("\x01\x02", 2), true},
                 {REG_BINARY, std::string("\x07\x08\x09\x0a", 4), true},
                 {REG_SZ, std::string("ab\0", 3), true},
                 {REG_BINARY, std::string("\x05", 1), false},
                 {REG_SZ, std::string("too long\0", 9), false}};
    for (const auto &c : cases) {
        ResetMachineState();
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &key));
        RegSetValueExA(key, "RawSock", 0, c.type, (const BYTE *)c.data.data(),
                       (DWORD)c.data.size());
        DWORD five = 5;
        RegSetValueExA(key, "Applets", 0, REG_DWORD, (const BYTE *)&five, sizeof five);
        RegCloseKey(key);
        ASSERT_EQ(0, RunQuiet("-q"));

        BYTE data[64];
        DWORD size = sizeof data, type = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "RawSock",
                                              RRF_RT_ANY, &type, data, &size));
        if (c.kept) {
            EXPECT_EQ(c.type, type);
            EXPECT_EQ(c.data, std::string((const char *)data, size));
        } else {
            EXPECT_EQ((DWORD)REG_DWORD, type);
            EXPECT_EQ(4u, size);
            EXPECT_EQ(0u, *(DWORD *)data);
        }
        DWORD applets = 99;
        EXPECT_TRUE(RegistryDword(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "Applets", applets));
        EXPECT_EQ(0u, applets);
    }
}

} // namespace

namespace {

TEST_F(Install, NoProgramManagerStillSucceedsWithEveryRecord)
{
    // On a desktop of a private window station no Program Manager answers.
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
    std::vector<std::string> lines = Log();
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "Installation successful!"));
}

TEST_F(Install, ItemsPointAtTheInstalledFiles)
{
    ASSERT_EQ(0, RunQuiet("-q"));
    const char *files[4] = {"tarnlink.exe", "tarnlink.hlp", "tarnlink.txt", "removetl.exe"};
    for (int i = 0; i < 4; i++) {
        std::string target, workingDirectory;
        ASSERT_TRUE(ReadShortcut(ProgramsFolder() + "\\Tarnlink Suite\\" + ITEM_TITLES[i] + ".lnk",
                                 target, workingDirectory))
            << ITEM_TITLES[i];
        EXPECT_TRUE(SameFile(std::string(DEFAULT_DIR) + "\\" + files[i], target)) << target;
        EXPECT_TRUE(SameFile(DEFAULT_DIR, workingDirectory)) << workingDirectory;
    }
    // A second install replaces the items rather than doubling them.
    ASSERT_EQ(0, RunQuiet("-q"));
    EXPECT_EQ(4u, FolderEntries(ProgramsFolder() + "\\Tarnlink Suite", "*.lnk").size());
}

} // namespace
