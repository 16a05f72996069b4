// Removal of a prior installation recorded in WIN.INI, run in-process and
// quiet, each run judged by the whole state of the machine it leaves.
#include <gtest/gtest.h>

#include <algorithm>

#include <aclapi.h>

#include "base/session.h"
#include "payload/table.h"
#include "remove/remove.h"
#include "remove/rules.h"
#include "progman_support.h"
#include "state.h"
#include "wintest.h"

namespace {

const char TEST_KEY[] = "Software\\TarnlinkTest";

void CreateKey(HKEY root, const std::string &path)
{
    ASSERT_TRUE(SetRegistryValue(root, path, "value", REG_SZ, "x"));
}

TEST(DeleteRegistryTree, RemovesEveryLevel)
{
    std::string base = TEST_KEY;
    for (const char *sub : {"\\a", "\\a\\b", "\\a\\b\\c", "\\d", "\\e\\f"})
        CreateKey(HKEY_CURRENT_USER, base + sub);
    EXPECT_EQ(1, DeleteRegistryTree(TEST_KEY, HKEY_CURRENT_USER));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, TEST_KEY));
    EXPECT_EQ(0, DeleteRegistryTree(TEST_KEY, HKEY_CURRENT_USER));
}

TEST(DeleteRegistryTree, EndsWhenASubkeyCannotBeRemoved)
{
    std::string base = TEST_KEY;
    // Its name fills the 256 bytes a subkey's name is read into (and is made
    // below an open key: an ANSI path holds no more than MAX_PATH).
    const std::string name(255, 'k');
    CreateKey(HKEY_CURRENT_USER, base + "\\a");
    CreateKey(HKEY_CURRENT_USER, base + "\\z");
    HKEY parent, locked;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, TEST_KEY, 0, KEY_ALL_ACCESS, &parent));
    CreateKey(parent, name);
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS | WRITE_DAC, &locked));
    CreateKey(locked, "inner");
    // An empty access list: the key can be neither opened nor deleted.
    ACL empty;
    InitializeAcl(&empty, sizeof empty, ACL_REVISION);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE);
    LONG secured = RegSetKeySecurity(locked, DACL_SECURITY_INFORMATION, &descriptor);
    RegCloseKey(locked);
    HKEY probe;
    bool enforced = secured == ERROR_SUCCESS &&
                    RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, &probe) != ERROR_SUCCESS;
    RegCloseKey(parent);
    if (!enforced)
        GTEST_SKIP() << "the platform does not enforce key security";

    EXPECT_EQ(0, DeleteRegistryTree(TEST_KEY, HKEY_CURRENT_USER));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, (base + "\\a").c_str()));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, (base + "\\z").c_str()));

    // Give the key back its rights and clear it away.
    std::wstring path = L"CURRENT_USER\\Software\\TarnlinkTest\\" + std::wstring(255, L'k');
    SetNamedSecurityInfoW(&path[0], SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          nullptr, nullptr);
    DeleteRegistryKeyTree(HKEY_CURRENT_USER, TEST_KEY);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, TEST_KEY));
}

// A drive root is never removed, written with or without its backslash.
TEST(IsDriveRoot, DriveAloneOrWithItsBackslash)
{
    const struct {
        const char *path;
        int root;
    } cases[] = {{"C:", 1}, {"C:\\", 1}, {"C:\\x", 0}, {"C:x", 0}, {"C:\\\\", 0}, {"", 0},
                 {"\\\\server\\share", 0}};
    for (const auto &c : cases)
        EXPECT_EQ(c.root, IsDriveRoot(c.path)) << c.path;
}

// Each row starts from an installation planted in a scratch directory (its
// files, the product keys in both hives, WIN.INI's records), changes it to a
// machine found in the field, and removes it quietly with the log in another
// scratch directory, the current one, while a Program Manager of the test's
// own records the commands. What the row expects is what its arranged
// machine becomes: the state after the removal is compared whole.
class Removal : public testing::Test {
protected:
    void SetUp() override
    {
        GetCurrentDirectoryA(sizeof previous, previous);
        session.quiet = 1;
        session.logEnabled = 1;
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(previous);
        session.quiet = 0;
        session.logEnabled = 0;
        DeleteTree(installDir);
        DeleteTree(logDir);
        ResetMachineState();
    }
    void Plant()
    {
        ResetMachineState();
        installDir = ScratchDirectory("removal");
        logDir = ScratchDirectory("removal-log");
        SetCurrentDirectoryA(logDir.c_str());
        lstrcpyA(session.groupName, "Tarnlink Suite");
        for (int i = 0; i < payloadCount; i++)
            WriteFileBytes(installDir + "\\" + payloadTable[i].destName, "payload");
        WriteFileBytes(installDir + "\\tarnlink.gid", "help index");
        CreateKey(HKEY_CURRENT_USER, "Software\\Quorvale\\Tarnlink\\Settings");
        CreateKey(HKEY_LOCAL_MACHINE, "Software\\Quorvale\\Tarnlink\\Settings");
        WriteProfileStringA("Tarnlink Suite", "DIR", installDir.c_str());
        WriteProfileStringA("Tarnlink Suite", "DEFDIR", installDir.c_str());
        WriteProfileStringA("Tarnlink Suite", "INSTOPTS", "1");
    }
    MachineState State() { return TakeState(logDir + "\\setup.log", logDir + "\\setup.log"); }
    // The items of `state` under `prefix`, as items that must be gone.
    static MachineState Gone(const MachineState &state, const std::string &prefix)
    {
        MachineState gone = Only(state, prefix);
        for (auto &item : gone)
            item.second.clear();
        return gone;
    }
    // Everything of the planted installation gone, but the items named.
    MachineState AllGoneBut(const MachineState &arranged, const std::vector<std::string> &kept = {})
    {
        MachineState state = Gone(arranged, "file " + installDir + "\\") +
                             Gone(arranged, "reg HKCU\\Software\\Quorvale\\Tarnlink") +
                             Gone(arranged, "reg HKLM\\Software\\Quorvale\\Tarnlink") +
                             Gone(arranged, "ini ");
        for (const std::string &name : kept)
            state = state + Only(arranged, name);
        return state;
    }
    // The log of a removal from `dir` that went as far as its files and keys,
    // with the lines before and after those given: every file goes but
    // `missing`, or none where their paths begin with `shownDir` (cut).
    std::vector<std::string> Lines(const std::string &dir, std::vector<std::string> before,
                                   const std::vector<std::string> &after,
                                   const char *missing = "", const std::string &shownDir = "")
    {
        before.insert(before.begin(), {"", "Removing installation of Tarnlink Suite from " + dir});
        for (int i = 0; i < payloadCount; i++)
            if (lstrcmpA(payloadTable[i].destName, "removetl.exe") != 0)
                before.push_back("Removing " + (shownDir.empty() ? dir : shownDir) + "\\" +
                                 payloadTable[i].destName +
                                 (lstrcmpA(payloadTable[i].destName, missing) == 0 ||
                                          !shownDir.empty()
                                      ? " (failed)"
                                      : " (ok)"));
        before.push_back("Removing HKEY_CURRENT_USER registry entries");
        before.push_back("Removing HKEY_LOCAL_MACHINE registry entries");
        before.insert(before.end(), after.begin(), after.end());
        return before;
    }
    std::string installDir = "C:\\tltest\\removal", logDir = "C:\\tltest\\removal-log";
    char previous[MAX_PATH];
};

TEST_F(Removal, WhatGoesAndWhatStays)
{
    IsolatedProgman progman(IsolatedProgman::ANSWERING);
    ASSERT_TRUE(progman.ready);
    const std::vector<std::string> noInfo = {"Insufficient information available to",
                                             "remove this application."};
    auto leftovers = [](const std::string &dir) {
        return std::vector<std::string>{"Removal process complete.",
                                        "Check the directory " + dir + " for excess files",
                                        "that caused the removal process to not cleanup entirely."};
    };
    // installDir\.\.\... names installDir itself at any length; one that fills
    // its 256-byte field would be cut to another directory (here the
    // installation itself), and is refused whole. 255 characters are taken.
    auto dotted = [&](size_t length) {
        std::string dir = installDir;
        while (dir.size() + 2 <= length)
            dir += "\\.";
        if (dir.size() < length)
            dir += "\\";
        return dir;
    };
    struct Row {
        std::string name;
        std::function<void()> arrange;
        int result;
        // What the arranged machine becomes, with the whole log.
        std::function<MachineState(const MachineState &)> changes;
        std::vector<std::string> commands;
    };
    std::vector<Row> rows = {
        {"nothing recorded changes nothing",
         [&] {
             DeleteProfileSection("Tarnlink Suite");
             WriteProfileStringA("Tarnlink Suite", "GROUP", "Tarnlink Suite");
         },
         0, [&](const MachineState &) { return LogState(noInfo); }, {}},
    };
    // An empty "GROUP": no Program Manager command, no directory removal;
    // the directory stays, and with it the uninstaller, to try again. A file
    // already gone is reported and the rest goes on; absent keys still get
    // their lines.
    for (const char *missing : {"", "tarnlink.cnt"})
        rows.push_back(
            {missing[0] == '\0' ? "an empty group keeps the directory and names it"
                                : "a file already gone and no user keys",
             [&, missing] {
                 WriteProfileStringA("Tarnlink Suite", "GROUP", "");
                 if (missing[0] != '\0') {
                     DeleteFileA((installDir + "\\" + missing).c_str());
                     DeleteRegistryKeyTree(HKEY_CURRENT_USER, "Software\\Quorvale");
                 }
             },
             0,
             [&, missing](const MachineState &arranged) {
                 return AllGoneBut(arranged, {"file " + installDir + "\\removetl.exe"}) +
                        MachineState{{"file " + installDir + "\\", "dir"}} +
                        LogState(Lines(installDir, {}, leftovers(installDir), missing));
             },
             {}});
    // A recorded directory that would name files somewhere else is refused
    // whole: a relative one (resolved against the removal's own directory,
    // which holds files of the same names) and one too long for its field.
    const struct {
        size_t length;   // of installDir\.\.\... (0: ".")
        const char *beyond;
    } dirs[] = {{0, ""}, {256, "\\elsewhere"}, {256, ""}, {255, ""}};
    ASSERT_EQ(256u, dotted(256).size());
    for (const auto &d : dirs) {
        auto recorded = [&, d] { return d.length == 0 ? "." : dotted(d.length) + d.beyond; };
        bool accepted = d.length == 255;
        rows.push_back(
            {"recorded directory of " + std::to_string(d.length) + d.beyond,
             [&, recorded] {
                 for (int i = 0; i < payloadCount; i++)
                     WriteFileBytes(logDir + "\\" + payloadTable[i].destName, "not installed here");
                 WriteProfileStringA("Tarnlink Suite", "DIR", recorded().c_str());
                 WriteProfileStringA("Tarnlink Suite", "GROUP", "");
             },
             0,
             [&, recorded, accepted](const MachineState &arranged) {
                 if (!accepted)
                     return LogState(noInfo);
                 // A payload file's path would not fit: it is refused, never cut.
                 return AllGoneBut(arranged, {"file " + installDir + "\\"}) +
                        LogState(Lines(recorded(), {}, leftovers(recorded()), "",
                                       recorded().substr(0, 200) + "..."));
             },
             {}});
    }
    // The default group goes whole, and the Uninstall entry and the product
    // keys with whatever anyone put under them. A recorded group that could
    // reach outside the Programs folder, or break the command syntax, is left
    // alone, as is another group's folder; everything else goes as for any
    // group, the directory included. Any other name an earlier version
    // recorded gets its items deleted. The Uninstall entry of another
    // installation, whose 255 characters are read whole, stays.
    const std::string victim = ProgramsFolder() + "\\Victim Group";
    const struct {
        const char *group;
        bool withheld;
    } groups[] = {{"Tarnlink Suite", false}, {"x,7)][DeleteGroup(Victim Group)][ShowGroup(y", true},
                  {"Say \"hi\"", true}, {"Tab\tName", true}, {"..", true}, {".", true},
                  {"a\\b", true}, {"a/b", true}, {"C:Tools", true}, {"Net: Tools", false},
                  {"CON", false}};
    for (const auto &g : groups) {
        const bool ours = lstrcmpA(g.group, "Tarnlink Suite") == 0;
        std::vector<std::string> sent, before, after;
        if (g.withheld)
            before.push_back(std::string("GROUP in WIN.INI cannot be used: ") + g.group);
        else
            sent.push_back(std::string("[ShowGroup(") + g.group + ",7)]");
        for (int i = 0; i < payloadCount; i++)
            if (payloadTable[i].makeItem && !g.withheld) {
                sent.push_back(std::string("[DeleteItem(\"") + payloadTable[i].itemTitle + "\")]");
                after.push_back(std::string("Removing icon for ") + payloadTable[i].itemTitle);
            }
        if (ours)
            sent.push_back("[DeleteGroup(Tarnlink Suite)]");
        rows.push_back(
            {std::string("group ") + g.group,
             [&, g, ours] {
                 WriteProfileStringA("Tarnlink Suite", "GROUP", g.group);
                 CreateKey(HKEY_LOCAL_MACHINE, std::string(UNINSTALL_KEY) + "\\Extra");
                 CreateKey(HKEY_CURRENT_USER, "Software\\Quorvale\\Tarnlink\\Recent");
                 ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "InstallLocation",
                                              REG_SZ,
                                              ours ? installDir : "C:\\" + std::string(252, 'o')));
                 CreateDirectoryA(victim.c_str(), nullptr);
                 WriteFileBytes(victim + "\\Keep Me.lnk", "not ours");
             },
             1,
             [&, ours, before, after](const MachineState &arranged) {
                 std::vector<std::string> end = after;
                 end.insert(end.end(), {"Removing " + installDir + "\\removetl.exe (ok)",
                                        "Removing " + installDir + " (ok)",
                                        "Removal process complete.", "All files removed."});
                 return AllGoneBut(arranged) + LogState(Lines(installDir, before, end)) +
                        (ours ? Gone(arranged, std::string("reg HKLM\\") + UNINSTALL_KEY)
                              : MachineState());
             },
             sent});
    }
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Plant();
        row.arrange();
        MachineState arranged = State();
        size_t before = progman.Commands().size();
        int result = -1;
        ASSERT_TRUE(progman.Run([&] { result = RemoveInstallation(nullptr); }));
        EXPECT_EQ(row.result, result);
        ExpectState(arranged + row.changes(arranged), State(), row.name);
        std::vector<std::string> commands = progman.Commands();
        EXPECT_EQ(row.commands, std::vector<std::string>(commands.begin() + before, commands.end()));
        DeleteTree(victim);
    }
}

} // namespace
