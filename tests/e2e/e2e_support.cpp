#include "e2e_support.h"

const char DEFAULT_DIR[] = "C:\\Program Files\\Tarnlink";
const char UNINSTALL_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnlink Suite";
const char SETTINGS_KEY[] = "Software\\Quorvale\\Tarnlink\\Settings";
const char *const ITEM_TITLES[4] = {"Tarnlink Suite", "Tarnlink Suite Help File",
                                    "Tarnlink Suite Release Notes", "Uninstall Tarnlink Suite"};

std::vector<PayloadFile> PayloadFiles(const std::string &programs)
{
    std::string sources = std::string(TEST_SOURCE_DIR) + "\\resources\\payload\\";
    return {
        {"tarnlink.exe", BuildPath((programs + "tarnlink.exe").c_str())},
        {"tarnlink.hlp", sources + "tarnlink.hlp"},
        {"tarnlink.cnt", sources + "tarnlink.cnt"},
        {"tarnlink.dll", BuildPath((programs + "tarnlink.dll").c_str())},
        {"tarnlink.txt", sources + "tarnlink.txt"},
        {"removetl.exe", BuildPath((programs + "removetl.exe").c_str())},
        {"mib.txt", sources + "mib.txt"},
    };
}

void Scenario::SetUp()
{
    ResetMachineState();
    EmulateWindows("");
    directory = ScratchDirectory("e2e");
}

void Scenario::TearDown()
{
    EmulateWindows("");
    ResetMachineState();
    DeleteTree(directory);
}

void Scenario::Start(Program &program, const std::string &switches)
{
    ASSERT_TRUE(program.Start(BuildPath("setup.exe"), switches, directory));
}

int Scenario::RunQuiet(const std::string &switches)
{
    Program program;
    if (!program.Start(BuildPath("setup.exe"), switches, directory))
        return -2000;
    return program.Wait(60000);
}

int Scenario::RunQuietWatched(const std::string &switches, int &dialogs)
{
    dialogs = 0;
    Program program;
    if (!program.Start(BuildPath("setup.exe"), switches, directory))
        return -2000;
    DWORD started = GetTickCount();
    while (WaitForSingleObject(program.process, 20) == WAIT_TIMEOUT &&
           GetTickCount() - started < 60000) {
        HWND dialog = FindTopWindow(program.pid, "#32770", nullptr);
        if (dialog != nullptr) {
            dialogs++;
            PressButton(dialog, IDCANCEL);
            WaitUntil([&] { return !IsWindow(dialog); }, 5000);
        }
    }
    return program.Wait(5000);
}

std::vector<std::string> Scenario::Log()
{
    return ReadLogLines(directory + "\\setup.log");
}

void Scenario::EmulateWindows(const char *version)
{
    const char key[] = "Software\\Wine\\AppDefaults\\setup.exe";
    if (version[0] == '\0') {
        DeleteRegistryKeyTree(HKEY_CURRENT_USER, key);
        return;
    }
    HKEY opened;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, key, &opened));
    RegSetValueExA(opened, "Version", 0, REG_SZ, (const BYTE *)version, lstrlenA(version) + 1);
    RegCloseKey(opened);
}

void Scenario::ExpectInstalledIn(const std::string &dir, const std::string &group,
                                 const std::string &programs)
{
    for (const PayloadFile &file : PayloadFiles(programs)) {
        std::string installed = ReadFileBytes(dir + "\\" + file.name);
        std::string original = ReadFileBytes(file.original);
        EXPECT_FALSE(original.empty()) << file.original;
        EXPECT_TRUE(installed == original) << file.name << " differs from " << file.original;
    }
    DWORD value = 99;
    EXPECT_TRUE(RegistryDword(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "Applets", value));
    EXPECT_EQ(0u, value);
    std::string text;
    EXPECT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayName", text));
    EXPECT_EQ("Quorvale Tarnlink Suite Uninstall", text);
    std::string arguments = "-f \"" + dir + "\" -d \"" + dir + "\" -g \"" + group + "\"";
    EXPECT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallString", text));
    EXPECT_EQ("\"" + dir + "\\removetl.exe\" " + arguments, text);
    EXPECT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "QuietUninstallString", text));
    EXPECT_EQ("\"" + dir + "\\removetl.exe\" -q " + arguments, text);
    // What Add/Remove Programs shows beside the name.
    EXPECT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "Publisher", text));
    EXPECT_EQ("Quorvale", text);
    EXPECT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayVersion", text));
    EXPECT_EQ("2.1", text);
    EXPECT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayIcon", text));
    EXPECT_EQ(dir + "\\removetl.exe", text);
    EXPECT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "InstallLocation", text));
    EXPECT_EQ(dir, text);
    DWORD bytes = 0;
    for (const PayloadFile &file : PayloadFiles())
        bytes += (DWORD)ReadFileBytes(dir + "\\" + file.name).size();
    EXPECT_TRUE(RegistryDword(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "EstimatedSize", value));
    EXPECT_EQ((bytes + 1023) / 1024, value);
    // What deployment tools read: the date of the install and the version
    // as numbers.
    SYSTEMTIME today;
    GetLocalTime(&today);
    EXPECT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "InstallDate", text));
    EXPECT_EQ(std::to_string(today.wYear * 10000 + today.wMonth * 100 + today.wDay), text);
    EXPECT_TRUE(RegistryDword(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "VersionMajor", value));
    EXPECT_EQ(2u, value);
    EXPECT_TRUE(RegistryDword(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "VersionMinor", value));
    EXPECT_EQ(1u, value);
    for (const char *flag : {"NoModify", "NoRepair"}) {
        value = 0;
        EXPECT_TRUE(RegistryDword(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, flag, value));
        EXPECT_EQ(1u, value) << flag;
    }
    EXPECT_EQ(dir, ProfileString("Tarnlink Suite", "DIR"));
    EXPECT_EQ(dir, ProfileString("Tarnlink Suite", "DEFDIR"));
    EXPECT_EQ(group, ProfileString("Tarnlink Suite", "GROUP"));
    EXPECT_EQ("1", ProfileString("Tarnlink Suite", "INSTOPTS"));
    for (const char *title : ITEM_TITLES)
        EXPECT_TRUE(FileExists(ProgramsFolder() + "\\" + group + "\\" + title + ".lnk")) << title;
}

void Scenario::ExpectNoTempFiles()
{
    for (const PayloadFile &file : PayloadFiles())
        EXPECT_FALSE(FileExists(TempPath() + file.name)) << file.name;
    EXPECT_EQ(std::vector<std::string>(), ExtractionDirectories());
}

std::string Answer(const Program &program, const char *caption, int button, DWORD ms)
{
    HWND dialog = WaitForDialog(program.pid, caption, ms);
    if (dialog == nullptr) {
        ADD_FAILURE() << "no dialog \"" << caption << "\"";
        return "<none>";
    }
    std::string text = MessageBoxText(dialog);
    PressButton(dialog, button);
    // Wait until it has gone, so the next look finds the next dialog.
    WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 5000);
    return text;
}

bool SameFile(const std::string &a, const std::string &b)
{
    char fullA[MAX_PATH], fullB[MAX_PATH];
    if (!GetFullPathNameA(a.c_str(), sizeof fullA, fullA, nullptr) ||
        !GetFullPathNameA(b.c_str(), sizeof fullB, fullB, nullptr))
        return false;
    return lstrcmpiA(fullA, fullB) == 0;
}
