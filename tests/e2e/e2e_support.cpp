#include "e2e_support.h"

#include "progman_support.h"

#include <algorithm>

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
    // What earlier scenarios left in the scratch folder would be part of the
    // state; a link there goes as a link.
    for (const std::string &name : FolderEntries("C:\\tltest", "*")) {
        std::string path = "C:\\tltest\\" + name;
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            RemoveHostLink(path);
        else
            DeleteTree(path);
    }
    directory = ScratchDirectory("e2e");
    clean = State();
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

HWND Scenario::StartToPrompt(Program &program, const std::string &switches)
{
    if (!program.Start(BuildPath("setup.exe"), switches, directory))
        return nullptr;
    return WaitForDialog(program.pid, "PROGRAM files directory", 15000);
}

int Scenario::RunQuiet(const std::string &switches, const std::string &exe)
{
    Program program;
    if (!program.Start(exe.empty() ? BuildPath("setup.exe") : exe, switches, directory))
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

bool Scenario::Logged(const std::string &line)
{
    std::vector<std::string> lines = Log();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string WindowsFile(const char *name)
{
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows) + "\\" + name;
}

void Scenario::EmulateWindows(const char *version)
{
    const char key[] = "Software\\Wine\\AppDefaults\\setup.exe";
    if (version[0] == '\0') {
        DeleteRegistryKeyTree(HKEY_CURRENT_USER, key);
        return;
    }
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, key, "Version", REG_SZ, version));
}

MachineState Scenario::Clean(const MachineState &overrides)
{
    return clean + overrides;
}

MachineState Scenario::Copied(const std::string &dir, const MachineState &overrides)
{
    MachineState state = clean + DirectoryState(dir);
    std::string files = dir.size() > 2 ? dir + "\\" : "C:\\";
    for (const PayloadFile &file : PayloadFiles(programs)) {
        std::string original = ReadFileBytes(file.original);
        EXPECT_FALSE(original.empty()) << file.original;
        state["file " + files + file.name] = FileState(original);
    }
    const std::string settings = std::string("reg HKLM\\") + SETTINGS_PATH;
    state["reg HKLM\\Software\\Quorvale"] = state["reg HKLM\\Software\\Quorvale\\Tarnlink"] =
        state[settings] = "key";
    state[settings + " : Applets"] = state[settings + " : RawSock"] = "REG_DWORD 0";
    return state + overrides;
}

MachineState Scenario::Installed(const std::string &dir, const std::string &group,
                                 const MachineState &overrides)
{
    MachineState state = Copied(dir);
    std::string files = dir.size() > 2 ? dir + "\\" : "C:\\";
    DWORD bytes = 0;
    for (const PayloadFile &file : PayloadFiles(programs))
        bytes += (DWORD)ReadFileBytes(file.original).size();
    SYSTEMTIME today;
    GetLocalTime(&today);
    std::string arguments = "-f \"" + dir + "\" -d \"" + dir + "\" -g \"" + group + "\"";
    const std::string entry = std::string("reg HKLM\\") + UNINSTALL_KEY;
    const MachineState records = {
        {entry, "key"},
        {entry + " : DisplayName", "REG_SZ Quorvale Tarnlink Suite Uninstall"},
        {entry + " : UninstallString", "REG_SZ \"" + dir + "\\removetl.exe\" " + arguments},
        {entry + " : QuietUninstallString",
         "REG_SZ \"" + dir + "\\removetl.exe\" -q " + arguments},
        // What Add/Remove Programs shows beside the name, and what deployment
        // tools read: the date of the install and the version as numbers.
        {entry + " : Publisher", "REG_SZ Quorvale"},
        {entry + " : DisplayVersion", "REG_SZ 2.1"},
        {entry + " : DisplayIcon", "REG_SZ " + dir + "\\removetl.exe"},
        {entry + " : InstallLocation", "REG_SZ " + dir},
        {entry + " : EstimatedSize", "REG_DWORD " + std::to_string((bytes + 1023) / 1024)},
        {entry + " : InstallDate",
         "REG_SZ " + std::to_string(today.wYear * 10000 + today.wMonth * 100 + today.wDay)},
        {entry + " : VersionMajor", "REG_DWORD 2"},
        {entry + " : VersionMinor", "REG_DWORD 1"},
        {entry + " : NoModify", "REG_DWORD 1"},
        {entry + " : NoRepair", "REG_DWORD 1"},
        {"ini DIR", "= " + dir},
        {"ini DEFDIR", "= " + dir},
        {"ini GROUP", "= " + group},
        {"ini INSTOPTS", "= 1"},
    };
    std::string folder = "item " + ProgramsFolder() + "\\" + group;
    state[folder + "\\"] = "dir";
    const char *targets[4] = {"tarnlink.exe", "tarnlink.hlp", "tarnlink.txt", "removetl.exe"};
    for (int i = 0; i < 4; i++)
        state[folder + "\\" + ITEM_TITLES[i] + ".lnk"] = "-> " + files + targets[i] + " in " + dir;
    return state + records + overrides;
}

MachineState Scenario::Left(const std::string &dir, const std::vector<std::string> &names,
                            const std::string &group)
{
    MachineState installed = Installed(dir, group);
    MachineState left = clean + Only(installed, std::string("reg HKLM\\") + UNINSTALL_KEY);
    if (dir.size() > 2)
        left["file " + dir + "\\"] = "dir";
    for (const std::string &name : names)
        left = left + Only(installed, "file " + (dir.size() > 2 ? dir : "C:") + "\\" + name);
    return left;
}

MachineState Scenario::InstallLog(const std::string &dir, std::vector<std::string> outcome)
{
    std::string temp = TempPath() + "~tl#####.tmp\\";
    std::vector<std::string> lines;
    for (const PayloadFile &file : PayloadFiles()) {
        std::string packed = std::string("packed\\") + file.name;
        packed.back() = '_';
        lines.push_back("Extracting to " + temp + file.name + ", " +
                        std::to_string(ReadFileBytes(BuildPath(packed.c_str())).size()) + " bytes");
    }
    lines.push_back("installing 7 files");
    lines.push_back("");
    for (const PayloadFile &file : PayloadFiles())
        lines.push_back("Copying " + temp + file.name + " to " + dir + "\\" + file.name);
    if (outcome.empty()) {
        outcome.push_back("Creating group");
        for (const char *name : {"tarnlink.exe", "tarnlink.hlp", "tarnlink.txt", "removetl.exe"})
            outcome.push_back("creating icon for " + dir + "\\" + name);
        outcome.push_back("Installation successful!");
    }
    lines.insert(lines.end(), outcome.begin(), outcome.end());
    for (const PayloadFile &file : PayloadFiles())
        lines.push_back("Removing " + temp + file.name);
    return LogState(lines);
}

void Scenario::ExpectNoTempFiles()
{
    for (const PayloadFile &file : PayloadFiles(programs))
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

std::string EntryValue(const char *name)
{
    std::string data;
    RegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, name, data);
    return data;
}

void RemoveUninstallerCopies()
{
    WIN32_FIND_DATAA found;
    HANDLE search;
    for (int i = 0; i < 10 && (search = FindFirstFileA((TempPath() + "~rt*.tmp").c_str(),
                                                       &found)) != INVALID_HANDLE_VALUE; i++) {
        FindClose(search);
        DeleteTree(TempPath() + found.cFileName);
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "PendingFileRenameOperations");
        RegCloseKey(key);
    }
}

std::string Lowered(std::string text)
{
    for (char &c : text)
        c = c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
    return text;
}

// The requests to delete files at the next restart, lower case, each text
// followed by '|'.
std::string PendingDeletes()
{
    std::string data;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                      0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return data;
    char buffer[8192];
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr, (BYTE *)buffer,
                         &size) == ERROR_SUCCESS)
        data.assign(buffer, size);
    RegCloseKey(key);
    std::replace(data.begin(), data.end(), '\0', '|');
    return Lowered(data);
}
