// Groups and items through Wine's own Program Manager: Start Menu folders and
// shortcuts. Wine's server hangs on a DeleteItem while it has no current
// group, so every test creates or shows a group before any item command.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "progman/progman.h"
#include "progman_support.h"
#include "wintest.h"

namespace {
using Texts = std::vector<std::string>;

bool SamePath(const std::string &a, const std::string &b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

bool Contains(const Texts &names, const std::string &name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}
class WineProgman : public testing::Test {
protected:
    GroupWindowGuard windows;
    std::string programs = ProgramsFolder();
    std::string files;

    void SetUp() override
    {
        ASSERT_FALSE(programs.empty());
        files = ScratchDirectory("progman");
        for (const char *name : {"one.exe", "two.exe", "three.exe"})
            WriteFileBytes(files + "\\" + name, "MZ");
        CreateDirectoryA((files + "\\data").c_str(), nullptr);
        for (const char *group : {"TL Net Tools", "Tarnlink Suite", "TL Kept Group"})
            DeleteTree(programs + "\\" + group);
    }

    void TearDown() override
    {
        ProgmanClose();
        for (const char *group : {"TL Net Tools", "Tarnlink Suite", "TL Kept Group"})
            DeleteTree(programs + "\\" + group);
        DeleteTree(files);
    }

    Texts Shortcuts(const std::string &group)
    {
        Texts names = FolderEntries(programs + "\\" + group, "*.lnk");
        std::sort(names.begin(), names.end());
        return names;
    }

};

} // namespace

TEST_F(WineProgman, InstallMakesGroupWithItemsAndListsIt)
{
    ASSERT_EQ(1, ProgmanCreateGroup("TL Net Tools"));
    ProgmanAddItem("Tool One", (files + "\\data").c_str(), "one.exe",
                   (files + "\\one.exe").c_str());
    ProgmanAddItem("", "", "two.exe", (files + "\\two.exe").c_str());
    ProgmanClose();

    ASSERT_TRUE(DirectoryExists(programs + "\\TL Net Tools"));
    EXPECT_EQ((Texts{"Tool One.lnk", "two.exe.lnk"}), Shortcuts("TL Net Tools"));
    std::string target, directory;
    ASSERT_TRUE(ReadShortcut(programs + "\\TL Net Tools\\Tool One.lnk", target, directory));
    EXPECT_TRUE(SamePath(files + "\\one.exe", target)) << target;
    EXPECT_TRUE(SamePath(files + "\\data", directory)) << directory;
    // No directory given: the process's current one.
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    ASSERT_TRUE(ReadShortcut(programs + "\\TL Net Tools\\two.exe.lnk", target, directory));
    EXPECT_TRUE(SamePath(files + "\\two.exe", target)) << target;
    EXPECT_TRUE(SamePath(current, directory)) << directory;

    Texts groups = ListedGroups();
    EXPECT_TRUE(Contains(groups, "TL Net Tools"));
    EXPECT_FALSE(Contains(groups, ""));
    EXPECT_FALSE(progmanLink.isOpen);
}

TEST_F(WineProgman, RepeatedInstallReplacesItemInsteadOfDoublingIt)
{
    ASSERT_EQ(1, ProgmanCreateGroup("TL Net Tools"));
    ProgmanAddItem("Tool", files.c_str(), "one.exe", (files + "\\one.exe").c_str());
    ProgmanClose();
    ASSERT_EQ(1, ProgmanCreateGroup("TL Net Tools"));
    ProgmanAddItem("Tool", (files + "\\data").c_str(), "three.exe",
                   (files + "\\three.exe").c_str());
    ProgmanClose();

    EXPECT_EQ(Texts{"Tool.lnk"}, Shortcuts("TL Net Tools"));
    std::string target, directory;
    ASSERT_TRUE(ReadShortcut(programs + "\\TL Net Tools\\Tool.lnk", target, directory));
    EXPECT_TRUE(SamePath(files + "\\three.exe", target)) << target;
    EXPECT_TRUE(SamePath(files + "\\data", directory)) << directory;
}

TEST_F(WineProgman, RemovalDeletesItemsAndDefaultGroupWhateverItsCase)
{
    ASSERT_EQ(1, ProgmanCreateGroup("TARNLINK SUITE"));
    ProgmanAddItem("Tool One", files.c_str(), "one.exe", (files + "\\one.exe").c_str());
    ProgmanAddItem("Tool Two", files.c_str(), "two.exe", (files + "\\two.exe").c_str());
    ProgmanClose();
    ASSERT_EQ(2u, Shortcuts("Tarnlink Suite").size());

    ASSERT_EQ(1, ProgmanOpen());
    EXPECT_EQ(1, ProgmanShowGroup("tarnlink suite"));
    ProgmanDeleteItem("Tool One", "");
    EXPECT_EQ(Texts{"Tool Two.lnk"}, Shortcuts("Tarnlink Suite"));
    ProgmanDeleteItem("Tool Two", "");
    ProgmanCloseAndDeleteGroup("tarnlink suite");

    EXPECT_FALSE(DirectoryExists(programs + "\\Tarnlink Suite"));
    EXPECT_FALSE(Contains(ListedGroups(), "TARNLINK SUITE"));
}

TEST_F(WineProgman, RemovalKeepsAGroupOfAnotherName)
{
    ASSERT_EQ(1, ProgmanCreateGroup("TL Kept Group"));
    ProgmanAddItem("Tool One", files.c_str(), "one.exe", (files + "\\one.exe").c_str());
    ProgmanClose();
    // Something of the user's own in the same group.
    ASSERT_EQ(1, ProgmanCreateGroup("TL Kept Group"));
    ProgmanAddItem("Users Tool", files.c_str(), "two.exe", (files + "\\two.exe").c_str());
    ProgmanClose();

    ASSERT_EQ(1, ProgmanOpen());
    ProgmanShowGroup("TL Kept Group");
    ProgmanDeleteItem("Tool One", "");
    ProgmanCloseAndDeleteGroup("TL Kept Group");

    EXPECT_TRUE(DirectoryExists(programs + "\\TL Kept Group"));
    EXPECT_EQ(Texts{"Users Tool.lnk"}, Shortcuts("TL Kept Group"));
    EXPECT_TRUE(Contains(ListedGroups(), "TL Kept Group"));
}
