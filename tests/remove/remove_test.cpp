// Removal of a prior installation recorded in WIN.INI, run in-process and
// quiet, read back from the disk, the registry, WIN.INI and the log.
#include <gtest/gtest.h>

#include <algorithm>

#include <aclapi.h>

#include "base/session.h"
#include "payload/table.h"
#include "remove/remove.h"
#include "remove/rules.h"
#include "progman_support.h"
#include "wintest.h"

namespace {

const char TEST_KEY[] = "Software\\TarnlinkTest";

void CreateKey(HKEY root, const std::string &path)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(root, path.c_str(), &key));
    const char data[] = "x";
    RegSetValueExA(key, "value", 0, REG_SZ, (const BYTE *)data, sizeof data);
    RegCloseKey(key);
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

// A recorded installation in a scratch directory, removed quietly with the
// log in another scratch directory.
class Removal : public testing::Test {
protected:
    void SetUp() override
    {
        ResetMachineState();
        installDir = ScratchDirectory("removal");
        logDir = ScratchDirectory("removal-log");
        GetCurrentDirectoryA(sizeof previous, previous);
        SetCurrentDirectoryA(logDir.c_str());
        session.quiet = 1;
        session.logEnabled = 1;
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
    void TearDown() override
    {
        SetCurrentDirectoryA(previous);
        session.quiet = 0;
        session.logEnabled = 0;
        DeleteTree(installDir);
        DeleteTree(logDir);
        ResetMachineState();
    }
    std::vector<std::string> Log() { return ReadLogLines(logDir + "\\setup.log"); }
    std::string installDir, logDir;
    char previous[MAX_PATH];
};

TEST_F(Removal, NothingRecordedChangesNothing)
{
    DeleteProfileSection("Tarnlink Suite");
    WriteProfileStringA("Tarnlink Suite", "GROUP", "Tarnlink Suite");
    EXPECT_EQ(0, RemoveInstallation(nullptr));
    std::vector<std::string> lines = Log();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Insufficient information available to", lines[0]);
    EXPECT_EQ("remove this application.", lines[1]);
    EXPECT_TRUE(FileExists(installDir + "\\tarnlink.exe"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\Quorvale\\Tarnlink"));
    EXPECT_EQ("Tarnlink Suite", ProfileString("Tarnlink Suite", "GROUP"));
}

TEST_F(Removal, EmptyGroupLeavesTheDirectoryAndReportsLeftovers)
{
    // An empty "GROUP": no Program Manager command, no directory removal.
    WriteProfileStringA("Tarnlink Suite", "GROUP", "");
    EXPECT_EQ(0, RemoveInstallation(nullptr));

    // The directory stays, and with it the uninstaller, to try again.
    for (int i = 0; i < payloadCount; i++)
        EXPECT_EQ(i == 5, FileExists(installDir + "\\" + payloadTable[i].destName)) << i;
    EXPECT_FALSE(FileExists(installDir + "\\tarnlink.gid"));
    EXPECT_TRUE(DirectoryExists(installDir));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, "Software\\Quorvale\\Tarnlink"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\Quorvale\\Tarnlink"));
    EXPECT_EQ("", ProfileString("Tarnlink Suite", "DIR"));
    EXPECT_EQ("", ProfileString("Tarnlink Suite", "INSTOPTS"));

    std::vector<std::string> expected = {
        "",
        "Removing installation of Tarnlink Suite from " + installDir,
    };
    for (int i = 0; i < payloadCount; i++)
        if (i != 5)
            expected.push_back("Removing " + installDir + "\\" + payloadTable[i].destName + " (ok)");
    expected.push_back("Removing HKEY_CURRENT_USER registry entries");
    expected.push_back("Removing HKEY_LOCAL_MACHINE registry entries");
    expected.push_back("Removal process complete.");
    expected.push_back("Check the directory " + installDir + " for excess files");
    expected.push_back("that caused the removal process to not cleanup entirely.");
    EXPECT_EQ(expected, Log());
}

// A recorded directory that would name files somewhere else is refused
// whole: a relative one (resolved against the removal's own directory) and
// one too long for its 256-byte field, whose cut text would name another
// directory (here the installation itself). 255 characters are taken.
TEST_F(Removal, DirectoryThatIsRelativeOrFillsItsBufferRemovesNothing)
{
    // installDir\.\.\... names installDir itself at any length.
    auto dotted = [&](size_t length) {
        std::string dir = installDir;
        while (dir.size() + 2 <= length)
            dir += "\\.";
        if (dir.size() < length)
            dir += "\\";
        return dir;
    };
    ASSERT_EQ(256u, dotted(256).size());
    for (int i = 0; i < payloadCount; i++)
        WriteFileBytes(logDir + "\\" + payloadTable[i].destName, "not installed here");
    const struct {
        std::string dir;
        bool accepted;
    } cases[] = {
        {".", false},   // the removal's own current directory
        {dotted(256) + "\\elsewhere", false},
        {dotted(256), false},
        {dotted(255), true},
    };
    for (const auto &c : cases) {
        DeleteFileA((logDir + "\\setup.log").c_str());
        WriteProfileStringA("Tarnlink Suite", "DIR", c.dir.c_str());
        WriteProfileStringA("Tarnlink Suite", "GROUP", "");
        EXPECT_EQ(0, RemoveInstallation(nullptr)) << c.dir;
        EXPECT_TRUE(FileExists(logDir + "\\tarnlink.exe")) << c.dir;
        std::vector<std::string> lines = Log();
        ASSERT_GE(lines.size(), 2u) << c.dir;
        if (c.accepted) {
            EXPECT_EQ("Removing installation of Tarnlink Suite from " + c.dir, lines[1]);
        } else {
            EXPECT_EQ("Insufficient information available to", lines[0]) << c.dir;
            EXPECT_EQ(2u, lines.size()) << c.dir;
            EXPECT_TRUE(FileExists(installDir + "\\tarnlink.exe")) << c.dir;
            EXPECT_EQ(c.dir, ProfileString("Tarnlink Suite", "DIR")) << c.dir;
        }
    }
}

// A recorded group that could reach outside the Programs folder, or break
// the command syntax, is left alone; everything else goes as for any group,
// the directory included. Any other name an earlier version recorded gets
// its items deleted. The Uninstall entry of another installation, whose
// 255 characters are read whole, stays.
TEST_F(Removal, UnusableGroupSendsNoCommandButEverythingElseGoes)
{
    IsolatedProgman progman(IsolatedProgman::ANSWERING);
    ASSERT_TRUE(progman.ready);
    HKEY entry;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY, &entry));
    const std::string other = "C:\\" + std::string(252, 'o');
    RegSetValueExA(entry, "InstallLocation", 0, REG_SZ, (const BYTE *)other.c_str(), 256);
    RegCloseKey(entry);
    const struct {
        const char *group;
        bool withheld;
    } cases[] = {{"x,7)][DeleteGroup(Victim Group)][ShowGroup(y", true}, {"Say \"hi\"", true},
                 {"Tab\tName", true}, {"..", true}, {".", true}, {"a\\b", true}, {"a/b", true},
                 {"C:Tools", true}, {"Net: Tools", false}, {"CON", false}};
    for (const auto &c : cases) {
        CreateDirectoryA(installDir.c_str(), nullptr);
        for (int i = 0; i < payloadCount; i++)
            WriteFileBytes(installDir + "\\" + payloadTable[i].destName, "payload");
        WriteProfileStringA("Tarnlink Suite", "DIR", installDir.c_str());
        WriteProfileStringA("Tarnlink Suite", "GROUP", c.group);
        DeleteFileA((logDir + "\\setup.log").c_str());
        size_t before = progman.Commands().size();
        int result = -1;
        ASSERT_TRUE(progman.Run([&] { result = RemoveInstallation(nullptr); }));
        EXPECT_EQ(1, result) << c.group;
        EXPECT_FALSE(DirectoryExists(installDir)) << c.group;
        std::string location;
        EXPECT_TRUE(RegistryString(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY, "InstallLocation",
                                   location));
        EXPECT_EQ(other, location) << c.group;
        std::vector<std::string> lines = Log();
        EXPECT_EQ(c.withheld,
                  std::find(lines.begin(), lines.end(),
                            std::string("GROUP in WIN.INI cannot be used: ") + c.group) !=
                      lines.end())
            << c.group;
        std::vector<std::string> commands = progman.Commands();
        std::vector<std::string> sent(commands.begin() + before, commands.end());
        std::vector<std::string> expected;
        if (!c.withheld) {
            expected.push_back(std::string("[ShowGroup(") + c.group + ",7)]");
            for (int i = 0; i < payloadCount; i++)
                if (payloadTable[i].makeItem)
                    expected.push_back(std::string("[DeleteItem(\"") + payloadTable[i].itemTitle +
                                       "\")]");
        }
        EXPECT_EQ(expected, sent) << c.group;
    }
}

TEST_F(Removal, MissingFileIsReportedAndTheRestGoesOn)
{
    WriteProfileStringA("Tarnlink Suite", "GROUP", "");
    DeleteFileA((installDir + "\\tarnlink.cnt").c_str());
    // Absent keys still get their lines.
    DeleteRegistryKeyTree(HKEY_CURRENT_USER, "Software\\Quorvale");
    EXPECT_EQ(0, RemoveInstallation(nullptr));
    std::vector<std::string> lines = Log();
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     "Removing " + installDir + "\\tarnlink.cnt (failed)"));
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     "Removing HKEY_CURRENT_USER registry entries"));
    EXPECT_FALSE(FileExists(installDir + "\\mib.txt"));
}

} // namespace
