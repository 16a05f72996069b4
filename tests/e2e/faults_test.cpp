// The programs under the fault hook of the tests (tests/faults/): it leaves a
// run as it is, lists its call sites, fails the call it is told to and
// answers as an older Windows would.
#include "e2e_support.h"
#include "progman_support.h"

#include <algorithm>
#include <tlhelp32.h>
#include <random>

namespace {
// The tab-separated fields of a recorded site.
std::vector<std::string> Fields(std::string line)
{
    std::vector<std::string> fields;
    for (size_t tab; (tab = line.find('\t')) != std::string::npos; line.erase(0, tab + 1))
        fields.push_back(line.substr(0, tab));
    fields.push_back(line);
    return fields;
}
} // namespace

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
    // Ends what runs of setup.exe and removetl.exe in this prefix.
    static void EndPrograms()
    {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more;
             more = Process32Next(snapshot, &entry)) {
            if (_stricmp(entry.szExeFile, "setup.exe") != 0 &&
                _stricmp(entry.szExeFile, "removetl.exe") != 0)
                continue;
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (process != nullptr && TerminateProcess(process, 9))
                WaitForSingleObject(process, 5000);
            if (process != nullptr)
                CloseHandle(process);
        }
        CloseHandle(snapshot);
    }
    // Runs `line` (a program and its arguments) under the hook; `sites` gets
    // the call sites it recorded.
    int Run(const std::string &line, const char *faults, DWORD ms = 60000,
            const char *profile = nullptr)
    {
        const std::string record = directory + "\\sites.txt";
        DeleteFileA(record.c_str());
        SetEnvironmentVariableA("TL_FAULTS", faults);
        SetEnvironmentVariableA("TL_FAULTS_PROFILE", profile);
        SetEnvironmentVariableA("TL_FAULTS_SITES", record.c_str());
        Program program;
        int code = program.Start(BuildPath("tests\\tlfaults.exe"), line, directory)
                       ? program.Wait(ms) : -2000;
        // A program that hung still holds the lock of every later run.
        if (code == -1000)
            EndPrograms();
        sites = ReadLogLines(record);
        return code;
    }
    int Install(const char *faults, const char *profile = nullptr)
    {
        return Run("\"" + BuildPath("setup.exe") + "\" -q -l", faults, 60000, profile);
    }
    // The recorded sites of a function in a process (depth 1, or 2 for a
    // program it started): each line's fields, "setup.exe" "1" "CreateFileA"
    // "setup.exe+0x1234" CALLS FAILED.
    std::vector<std::vector<std::string>> Sites(const std::string &function,
                                                const char *program = "setup.exe", int depth = 1)
    {
        std::vector<std::vector<std::string>> found;
        for (const std::string &line : sites) {
            std::vector<std::string> fields = Fields(line);
            if (fields.size() == 6 && fields[0] == program && fields[1] == std::to_string(depth) &&
                fields[2] == function)
                found.push_back(fields);
        }
        return found;
    }
    std::vector<std::string> sites;
};

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

// Under the hook, and under each older system it answers as, an install
// makes its group and items, and setup.exe -q -r and the uninstaller's quiet
// line (its copy under the hook too) each take it all away. The hook is in
// at the program's first call: the look-up of the DLL search functions.
// Windows 95 has no DLL search functions, no NTDLL and no desktops (the
// Program Manager's worker keeps the one it has); NT 3.51 none of the DLL
// search functions; Windows 7 before its 2011 update only SetDllDirectoryA.
// On NT, a desktop that cannot be set is no reason to send nothing.
TEST_F(Faults, ProfilesAnswerAsTheirWindows)
{
    const struct {
        const char *profile, *faults, *dir;
        std::vector<const char *> absent, present;
    } rows[] = {
        {nullptr, "", DEFAULT_DIR, {},
         {"CreateFileA", "RegCreateKeyA", "DdeConnect", "SetDefaultDllDirectories"}},
        {"win95", "", DEFAULT_DIR,
         {"SetDefaultDllDirectories", "SetDllDirectoryA", "NtSetInformationFile",
          "GetThreadDesktop", "SetThreadDesktop"}, {}},
        {"nt351", "", "C:\\WIN32APP\\Tarnlink", {"SetDefaultDllDirectories", "SetDllDirectoryA"},
         {"NtSetInformationFile", "SetThreadDesktop"}},
        {"win7rtm", "", DEFAULT_DIR, {"SetDefaultDllDirectories"}, {"SetDllDirectoryA"}},
        {nullptr, "SetThreadDesktop", DEFAULT_DIR, {}, {"SetThreadDesktop"}},
    };
    const std::string setup = "\"" + BuildPath("setup.exe") + "\"";
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.profile ? row.profile : "no profile") + " " + row.faults);
        // A parent the install made stays.
        MachineState kept;
        if (std::string(row.dir) != DEFAULT_DIR)
            kept["file C:\\WIN32APP\\"] = "dir";
        ResetMachineState();
        DeleteLog();
        ASSERT_EQ(0, Install(row.faults, row.profile));
        ExpectInstalledIn(row.dir, "Tarnlink Suite", InstallLog(row.dir));
        ASSERT_FALSE(sites.empty());
        EXPECT_EQ(0u, sites[0].find("setup.exe\t1\tGetModuleHandleA\tsetup.exe+0x")) << sites[0];
        for (const char *name : row.absent)
            EXPECT_TRUE(Sites(name).empty()) << name;
        for (const char *name : row.present) {
            ASSERT_FALSE(Sites(name).empty()) << name;
            EXPECT_EQ(0u, Sites(name)[0][3].find("setup.exe+0x")) << name;
        }
        // No call fails but the one named.
        if (row.faults[0] == '\0') {
            for (const std::string &line : sites)
                EXPECT_NE(std::string::npos, std::string("\t0 \t-").find(line.substr(line.size() - 2)))
                    << line;
        } else {
            ASSERT_EQ(1u, Sites(row.faults).size());
            EXPECT_EQ("1", Sites(row.faults)[0][5]);
        }
        EXPECT_EQ(0, Run(setup + " -q -r", "", 60000, row.profile));
        ExpectState(Clean(kept + LogState(Log()) +
                          MachineState{{"reg HKLM\\Software\\Quorvale", "key"}}));

        DeleteLog();
        ASSERT_EQ(0, Install("", row.profile));
        std::string line = EntryValue("QuietUninstallString");
        ASSERT_NE("", line);
        EXPECT_EQ(0, Run(line, "", 60000, row.profile));
        EXPECT_EQ(1u, Sites("CreateProcessA", "removetl.exe").size());
        EXPECT_FALSE(Sites("RemoveDirectoryA", "removetl.exe", 2).empty());
        // The copy's own files wait for a restart.
        RemoveUninstallerCopies();
        WritePrivateProfileStringA("rename", nullptr, nullptr, "WININIT.INI");
        ExpectState(Clean(kept + LogState(Log())));
    }
}

TEST_F(Faults, AFailedCallReturnsTheFunctionsFailureAndLeavesTheStackAsTheFunctionWould)
{
    // Each bit of the exit code is a call of the probe that went wrong.
    EXPECT_EQ(0, Run("\"" + BuildPath("tests\\tlprobe.exe") + "\"",
                     "RegCreateKeyA,RegOpenKeyExA=112,CreateFileA,GetFileAttributesA,"
                     "DeleteFileA=32,wsprintfA"));
}

// The sweep: each scenario once to list its call sites, then once per call
// site (all of them with TL_SWEEP=all, else a draw of TL_SWEEP of them, 6 by
// default, the TL_SWEEP_DRAW'th draw), the first call there failing. Each run
// ends one way: an honest failure (an exit code but 0, and its failure as
// the log's last line where it keeps one), a success that leaves what the
// run without a fault left, or else a false success (or a failure without a
// word), a crash, a hang, or something of someone else's lost.
namespace {
enum Verdict { HONEST, WHOLE, FALSE_SUCCESS, CRASH, HANG, LOST, VERDICTS };

bool StartsWith(const std::string &text, const std::string &start)
{
    return text.compare(0, start.size(), start) == 0;
}

// A log line as any run writes it: a run directory (~tlNNNNN.tmp) is numbered
// for its run.
std::string Unnumbered(std::string line)
{
    for (size_t at = line.find("~tl"); at != std::string::npos; at = line.find("~tl", at + 1))
        while (at + 3 < line.size() && line[at + 3] >= '0' && line[at + 3] <= '9')
            line.erase(at + 3, 1);
    return line;
}

// What a successful run may leave undone when it says so: items that the
// Program Manager refused, left or never answered for, the Uninstall
// entry's values beyond its name and command, and what goes at the next
// restart. The maker's key is the maker's, and stays while it can.
bool Explained(const std::string &item, const std::vector<std::string> &log)
{
    const std::string entry = std::string("reg HKLM\\") + UNINSTALL_KEY + " : ";
    if (item == "reg HKLM\\Software\\Quorvale" || item == "reg HKCU\\Software\\Quorvale")
        return true;
    if (StartsWith(item, "file ")) {
        std::string path = Lowered(item.substr(5));
        if (path.back() == '\\')
            path.pop_back();
        return PendingDeletes().find(path + "|") != std::string::npos;
    }
    for (const std::string &line : log) {
        if (StartsWith(item, "item ") &&
            (StartsWith(line, "group refused") || StartsWith(line, "group not made") ||
             StartsWith(line, "icon refused") || StartsWith(line, "icon not made") ||
             StartsWith(line, "icon left") || StartsWith(line, "group left")))
            return true;
        if (StartsWith(item, entry) && item != entry + "DisplayName" &&
            item != entry + "UninstallString" &&
            line == "Failed to write " + std::string(UNINSTALL_KEY) + " " +
                        item.substr(entry.size()))
            return true;
    }
    return false;
}
} // namespace

TEST_F(Faults, EveryFailedCallEndsHonestly)
{
    const struct {
        const char *name;
        bool installedFirst;
        const char *switches;   // setup.exe's; null: the uninstaller's quiet line
    } scenarios[] = {{"quiet install", false, "-q -l"},
                     {"install over an earlier one", true, "-q -l"},
                     {"setup.exe -q -r", true, "-q -r -l"},
                     {"QuietUninstallString", true, nullptr}};
    char text[32] = "";
    GetEnvironmentVariableA("TL_SWEEP", text, sizeof text);
    const bool all = std::string(text) == "all";
    const size_t drawn = text[0] >= '0' && text[0] <= '9' ? strtoul(text, nullptr, 10) : 6;
    text[0] = '\0';
    GetEnvironmentVariableA("TL_SWEEP_DRAW", text, sizeof text);
    std::mt19937 draw(text[0] != '\0' ? strtoul(text, nullptr, 10) : 1);
    // PROGRAM:FUNCTION pairs never failed: calls the build makes that the
    // shipped programs do not (an instrumented build's own runtime).
    std::string skipped(GetEnvironmentVariableA("TL_SWEEP_SKIP", nullptr, 0) + 2, ' ');
    GetEnvironmentVariableA("TL_SWEEP_SKIP", &skipped[1], (DWORD)skipped.size() - 1);
    std::replace(skipped.begin(), skipped.end(), '\0', ' ');
    // Someone else's, where a run might reach: they stay as they are.
    const MachineState others = {{"file C:\\tltest\\keep.txt", FileState("the user's")},
                                 {"reg HKCU\\Software\\Quorvale : Licence", "REG_SZ Q-1234"}};
    const MachineState ours = Installed(DEFAULT_DIR, "Tarnlink Suite");
    std::string line;
    auto prepare = [&](bool installedFirst) {
        ResetMachineState();
        RemoveUninstallerCopies();
        WriteFileBytes("C:\\tltest\\keep.txt", "the user's");
        SetRegistryValue(HKEY_CURRENT_USER, "Software\\Quorvale", "Licence", REG_SZ, "Q-1234");
        if (installedFirst) {
            EXPECT_EQ(0, RunQuiet("-q"));
            line = EntryValue("QuietUninstallString");
        }
        DeleteLog();
    };
    int totals[VERDICTS] = {}, runs = 0;
    printf("%-28s %6s %5s %7s %7s %6s %6s %5s %5s\n", "scenario", "sites", "runs", "honest",
           "whole", "false", "crash", "hang", "lost");
    for (const auto &s : scenarios) {
        MachineState before, success;
        std::string command;
        {
            GroupWindowGuard windows;
            prepare(s.installedFirst);
            command = s.switches != nullptr ? "\"" + BuildPath("setup.exe") + "\" " + s.switches
                                            : line;
            before = State();
            ASSERT_EQ(0, Run(command, "")) << s.name;
            success = State();
        }
        std::vector<std::string> successLog = Log();
        std::transform(successLog.begin(), successLog.end(), successLog.begin(), Unnumbered);
        // Each site once, with the process it is in; "-" marks a call never failed.
        std::vector<std::string> faults;
        for (const std::string &record : sites) {
            std::vector<std::string> f = Fields(record);
            if (f.size() != 6 || f[5] == "-" || f[3].find(".exe+0x") == std::string::npos ||
                skipped.find(" " + f[3].substr(0, f[3].find('+')) + ":" + f[2] + " ") !=
                    std::string::npos)
                continue;
            bool late = f[2] == "SetThreadDesktop" || f[2] == "SetDefaultDllDirectories" ||
                        f[2] == "NtSetInformationFile" || f[2] == "GetProcessId";
            faults.push_back(f[1] + ":" + f[2] + "@" + f[3].substr(f[3].find('+')) +
                             (late ? "=120" : ""));
        }
        std::sort(faults.begin(), faults.end());
        faults.erase(std::unique(faults.begin(), faults.end()), faults.end());
        const size_t count = faults.size();
        std::shuffle(faults.begin(), faults.end(), draw);
        if (!all && faults.size() > drawn)
            faults.resize(drawn);
        int verdicts[VERDICTS] = {};
        for (const std::string &fault : faults) {
            Verdict verdict = WHOLE;
            int code;
            {
                GroupWindowGuard windows;
                prepare(s.installedFirst);
                code = Run(command, fault.c_str(), 30000);
            }
            const MachineState after = State();
            const std::vector<std::string> log = Log();
            if (code == -1000)
                verdict = HANG;
            else if (((DWORD)code & 0xF0000000u) == 0xC0000000u)
                verdict = CRASH;
            for (const auto &item : before) {
                bool product = ours.count(item.first) || StartsWith(item.first, "log ") ||
                               StartsWith(item.first, "temp ");
                auto now = after.find(item.first);
                if (verdict == WHOLE && !product &&
                    (now == after.end() || now->second != item.second))
                    verdict = LOST;
            }
            if (verdict == WHOLE && code != 0) {
                // It says so: its log holds a line the run without a fault
                // never wrote (its files' removal may follow it).
                bool said = false;
                for (const std::string &written : log)
                    said = said || std::find(successLog.begin(), successLog.end(),
                                             Unnumbered(written)) == successLog.end();
                verdict = s.switches == nullptr || said ? HONEST : FALSE_SUCCESS;
            } else if (verdict == WHOLE) {
                MachineState keys = after + success;
                for (const auto &item : keys) {
                    auto was = success.find(item.first);
                    auto now = after.find(item.first);
                    bool same = was != success.end() && now != after.end() &&
                                was->second == now->second;
                    if (!same && !StartsWith(item.first, "log ") &&
                        !StartsWith(item.first, "temp ") && !Explained(item.first, log)) {
                        verdict = FALSE_SUCCESS;
                        ADD_FAILURE() << s.name << ", " << fault << ": " << item.first;
                        break;
                    }
                }
            }
            if (verdict != HONEST && verdict != WHOLE)
                ADD_FAILURE() << s.name << ", " << fault << ": verdict " << verdict << ", exit "
                              << code << (log.empty() ? "" : ", log ends: " + log.back());
            verdicts[verdict]++;
            totals[verdict]++;
            runs++;
        }
        printf("%-28s %6u %5u %7d %7d %6d %6d %5d %5d\n", s.name, (unsigned)count,
               (unsigned)faults.size(), verdicts[HONEST], verdicts[WHOLE],
               verdicts[FALSE_SUCCESS], verdicts[CRASH], verdicts[HANG], verdicts[LOST]);
    }
    printf("faults: %d runs, %d honest failures, %d whole successes, %d false successes, "
           "%d crashes, %d hangs, %d lost\n",
           runs, totals[HONEST], totals[WHOLE], totals[FALSE_SUCCESS], totals[CRASH],
           totals[HANG], totals[LOST]);
    fflush(stdout);
}
