// The programs under the fault hook of the tests (tests/faults/): it leaves a
// run as it is, lists its call sites, fails the call it is told to and
// answers as an older Windows would.
#include "e2e_support.h"

#include <algorithm>

class Faults : public Scenario {
protected:
    void SetUp() override
    {
        RemoveUninstallerCopies();
        Scenario::SetUp();
    }
    void TearDown() override
    {
        for (const char *name : {"TL_FAULTS", "TL_FAULTS_PROFILE", "TL_FAULTS_SITES"})
            SetEnvironmentVariableA(name, nullptr);
        RemoveUninstallerCopies();
        Scenario::TearDown();
    }
    // What removetl.exe's copy leaves for the next restart goes now.
    static void RemoveUninstallerCopies()
    {
        WIN32_FIND_DATAA found;
        HANDLE search;
        for (int i = 0; i < 10 && (search = FindFirstFileA((TempPath() + "~rt*.tmp").c_str(),
                                                           &found)) != INVALID_HANDLE_VALUE; i++) {
            FindClose(search);
            DeleteTree(TempPath() + found.cFileName);
        }
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                          0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "PendingFileRenameOperations");
            RegCloseKey(key);
        }
    }
    // Runs `line` (a program and its arguments) under the hook; `sites` gets
    // the call sites it recorded.
    int Run(const std::string &line, const char *faults, const char *profile = nullptr)
    {
        const std::string record = directory + "\\sites.txt";
        DeleteFileA(record.c_str());
        SetEnvironmentVariableA("TL_FAULTS", faults);
        SetEnvironmentVariableA("TL_FAULTS_PROFILE", profile);
        SetEnvironmentVariableA("TL_FAULTS_SITES", record.c_str());
        Program program;
        int code = program.Start(BuildPath("tests\\tlfaults.exe"), line, directory)
                       ? program.Wait(60000) : -2000;
        sites = ReadLogLines(record);
        return code;
    }
    int Install(const char *faults, const char *profile = nullptr)
    {
        return Run("\"" + BuildPath("setup.exe") + "\" -q -l", faults, profile);
    }
    // The recorded sites of a function in a process (depth 1, or 2 for a
    // program it started): each line's fields, "setup.exe" "1" "CreateFileA"
    // "setup.exe+0x1234" CALLS FAILED.
    std::vector<std::vector<std::string>> Sites(const std::string &function,
                                                const char *program = "setup.exe", int depth = 1)
    {
        std::vector<std::vector<std::string>> found;
        for (std::string line : sites) {
            std::vector<std::string> fields;
            for (size_t tab; (tab = line.find('\t')) != std::string::npos; line.erase(0, tab + 1))
                fields.push_back(line.substr(0, tab));
            fields.push_back(line);
            if (fields.size() == 6 && fields[0] == program && fields[1] == std::to_string(depth) &&
                fields[2] == function)
                found.push_back(fields);
        }
        return found;
    }
    bool Logged(const std::string &line)
    {
        std::vector<std::string> log = Log();
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    std::vector<std::string> sites;
};

TEST_F(Faults, QuietInstallIsUnchangedAndListsItsCallSitesFromTheFirstOn)
{
    ASSERT_EQ(0, Install(""));
    ExpectInstalledIn(DEFAULT_DIR, "Tarnlink Suite", InstallLog(DEFAULT_DIR));
    // In at the program's first call: the look-up of the DLL search functions.
    ASSERT_FALSE(sites.empty());
    EXPECT_EQ(0u, sites[0].find("setup.exe\t1\tGetModuleHandleA\tsetup.exe+0x")) << sites[0];
    for (const char *name :
         {"CreateFileA", "RegCreateKeyA", "DdeConnect", "SetDefaultDllDirectories"}) {
        ASSERT_FALSE(Sites(name).empty()) << name;
        EXPECT_EQ(0u, Sites(name)[0][3].find("setup.exe+0x")) << name;
    }
    for (const std::string &line : sites)
        EXPECT_EQ("\t0", line.substr(line.size() - 2)) << line;
}

TEST_F(Faults, AFailedCallFailsTheInstallAndIsLogged)
{
    const std::string entry = "Failed to write SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                              "Uninstall\\Tarnlink Suite ";
    EXPECT_EQ(1, Install("RegCreateKeyA@2"));
    auto keys = Sites("RegCreateKeyA");
    ASSERT_EQ(2u, keys.size());
    EXPECT_EQ("0", keys[0][5]);
    EXPECT_EQ("1", keys[1][5]);
    EXPECT_TRUE(Logged(entry));
    // The same call by its call site; a call failed with an error of its own.
    ResetMachineState();
    std::string site = keys[1][3];
    EXPECT_EQ(1, Install(("RegCreateKeyA@" + site.substr(site.find('+'))).c_str()));
    EXPECT_TRUE(Logged(entry));
    ResetMachineState();
    EXPECT_EQ(1, Install("CreateDirectoryA=112"));
    EXPECT_TRUE(Logged("File creation error on " + TempPath()));
}

TEST_F(Faults, ProfilesAnswerAsTheirWindows)
{
    // Windows 95 has no DLL search functions, no NTDLL and no desktops.
    ASSERT_EQ(0, Install("", "win95"));
    for (const char *name :
         {"SetDefaultDllDirectories", "SetDllDirectoryA", "NtSetInformationFile"})
        EXPECT_TRUE(Sites(name).empty()) << name;
    ASSERT_FALSE(Sites("SetThreadDesktop").empty());
    for (const auto &fields : Sites("SetThreadDesktop"))
        EXPECT_EQ(fields[4], fields[5]);
    // NT 3.51's programs go to C:\WIN32APP; it has no SetDllDirectoryA yet.
    ResetMachineState();
    ASSERT_EQ(0, Install("", "nt351"));
    EXPECT_TRUE(FileExists("C:\\WIN32APP\\Tarnlink\\tarnlink.exe"));
    EXPECT_TRUE(Sites("SetDllDirectoryA").empty());
    EXPECT_FALSE(Sites("NtSetInformationFile").empty());
}

TEST_F(Faults, TheUninstallersCopyRunsUnderTheHookToo)
{
    ASSERT_EQ(0, RunQuiet("-q"));
    std::string line;
    ASSERT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "QuietUninstallString", line));
    EXPECT_EQ(0, Run(line, ""));
    EXPECT_FALSE(DirectoryExists(DEFAULT_DIR));
    EXPECT_EQ(1u, Sites("CreateProcessA", "removetl.exe").size());
    EXPECT_FALSE(Sites("RemoveDirectoryA", "removetl.exe", 2).empty());
}

TEST_F(Faults, AFailedCallReturnsTheFunctionsFailureAndLeavesTheStackAsTheFunctionWould)
{
    // Each bit of the exit code is a call of the probe that went wrong.
    EXPECT_EQ(0, Run("\"" + BuildPath("tests\\tlprobe.exe") + "\"",
                     "RegCreateKeyA,RegOpenKeyExA=112,CreateFileA,GetFileAttributesA,"
                     "DeleteFileA=32,wsprintfA"));
}
