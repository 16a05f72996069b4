// Removals after a real installation, by setup.exe itself: its exit codes,
// what the user is told, and what Wine's Program Manager does with the items
// (the rows of tests/remove judge the removal itself, in-process).
#include "e2e_support.h"

#include <algorithm>

#include "resources/resource.h"

namespace {

using Remove = Scenario;

TEST_F(Remove, QuietRemovalTakesEverythingAway)
{
    ASSERT_EQ(0, RunQuiet("-q"));
    WriteFileBytes(std::string(DEFAULT_DIR) + "\\tarnlink.gid", "help index");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Quorvale\\Tarnlink\\Recent", &key));
    RegCloseKey(key);
    // The entry goes with whatever anyone put under it.
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyA(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\Extra").c_str(),
                            &key));
    RegCloseKey(key);

    ASSERT_EQ(0, RunQuiet("-q -r -l"));
    // Every line in order; the uninstaller goes last, and the entry, which
    // would name it, before it. The maker's keys stay.
    const std::string dir = DEFAULT_DIR;
    std::vector<std::string> lines = {"", "Removing installation of Tarnlink Suite from " + dir};
    for (const PayloadFile &file : PayloadFiles())
        if (file.name != std::string("removetl.exe"))
            lines.push_back("Removing " + dir + "\\" + file.name + " (ok)");
    lines.push_back("Removing HKEY_CURRENT_USER registry entries");
    lines.push_back("Removing HKEY_LOCAL_MACHINE registry entries");
    for (const char *title : ITEM_TITLES)
        lines.push_back(std::string("Removing icon for ") + title);
    for (const char *last : {"\\removetl.exe (ok)", " (ok)"})
        lines.push_back("Removing " + dir + last);
    lines.push_back("Removal process complete.");
    lines.push_back("All files removed.");
    ExpectState(Clean(LogState(lines) + MachineState{{"reg HKLM\\Software\\Quorvale", "key"},
                                                      {"reg HKCU\\Software\\Quorvale", "key"}}));
}

TEST_F(Remove, InteractiveRemovalThenNothingLeftToRemove)
{
    ASSERT_EQ(0, RunQuiet("-q"));
    {
        Program program;
        Start(program, "");
        HWND mode = WaitForDialog(program.pid, "Install", 15000);
        ASSERT_NE(nullptr, mode);
        ASSERT_TRUE(IsWindowEnabled(GetDlgItem(mode, IDC_REMOVECHOICE)));
        PressButton(mode, IDC_REMOVECHOICE);
        WaitUntil([&] {
            return SendMessageA(GetDlgItem(mode, IDC_REMOVECHOICE), BM_GETCHECK, 0, 0) ==
                   BST_CHECKED;
        }, 5000);
        PressButton(mode, IDOK);
        EXPECT_EQ("Removal process complete.\nAll files removed.",
                  Answer(program, "Remove", IDOK));
        EXPECT_EQ(0, program.Wait(15000));
    }
    EXPECT_FALSE(DirectoryExists(DEFAULT_DIR));

    // A second removal finds no record.
    Program program;
    Start(program, "-r");
    EXPECT_EQ("Insufficient information available to\nremove this application.",
              Answer(program, "Remove", IDOK));
    EXPECT_EQ(1, program.Wait(15000));
}

TEST_F(Remove, AnotherGroupKeepsItsFolderAndLeftoversAreNamed)
{
    // The install takes the group recorded in WIN.INI.
    WriteProfileStringA("Tarnlink Suite", "GROUP", "Other Tools");
    ASSERT_EQ(0, RunQuiet("-q"));
    std::string group = ProgramsFolder() + "\\Other Tools";
    ASSERT_TRUE(FileExists(group + "\\Tarnlink Suite.lnk"));
    WriteFileBytes(group + "\\Keep Me.lnk", "not ours");
    WriteFileBytes(std::string(DEFAULT_DIR) + "\\notes.txt", "the user's");

    // Something was left: the run says so.
    ASSERT_EQ(1, RunQuiet("-q -r -l"));
    // The directory stays, and so do the entry and the uninstaller it names.
    ExpectState(Left(DEFAULT_DIR, {"removetl.exe"}, "Other Tools") + LogState(Log()) +
                MachineState{{"item " + group + "\\", "dir"},
                             {"item " + group + "\\Keep Me.lnk", FileState("not ours")},
                             {std::string("file ") + DEFAULT_DIR + "\\notes.txt",
                              FileState("the user's")},
                             {"reg HKLM\\Software\\Quorvale", "key"}});
    std::vector<std::string> lines = Log();
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     std::string("Removing ") + DEFAULT_DIR + " (failed)"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::string("Check the directory ") + DEFAULT_DIR + " for excess files",
              lines[lines.size() - 2]);
    DeleteTree(group);
}

// A recorded group that cannot be named in a command withholds the Program
// Manager's part only: everything else goes as for any group.
TEST_F(Remove, InjectedGroupTouchesNoGroupButEverythingElseGoes)
{
    ASSERT_EQ(0, RunQuiet("-q"));
    std::string victim = ProgramsFolder() + "\\Victim Group";
    CreateDirectoryA(victim.c_str(), nullptr);
    WriteFileBytes(victim + "\\Keep Me.lnk", "not ours");
    const char injected[] = "x,7)][DeleteGroup(Victim Group)][ShowGroup(y";
    WriteProfileStringA("Tarnlink Suite", "GROUP", injected);

    EXPECT_EQ(0, RunQuiet("-q -r -l"));
    // No command at all: the items stay where the install put them.
    ExpectState(Clean(LogState(Log()) + Only(Installed(DEFAULT_DIR, "Tarnlink Suite"), "item ") +
                      MachineState{{"item " + victim + "\\", "dir"},
                                   {"item " + victim + "\\Keep Me.lnk", FileState("not ours")},
                                   {"reg HKLM\\Software\\Quorvale", "key"}}));
    std::vector<std::string> lines = Log();
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     std::string("GROUP in WIN.INI cannot be used: ") + injected));
    EXPECT_EQ("All files removed.", lines.back());
    DeleteTree(victim);
}

} // namespace
