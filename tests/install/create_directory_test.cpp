// Directory creation with its parents, and the one box per level that fails.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/session.h"
#include "install/prompts.h"
#include "payload_support.h"
#include "wintest.h"

namespace {
using Boxes = std::vector<std::pair<std::string, std::string>>;

class CreateDirectoryPathTest : public testing::Test {
protected:
    std::string root;
    char saved[MAX_PATH] = "";

    void SetUp() override
    {
        root = ScratchDirectory("mkdir");
        GetCurrentDirectoryA(sizeof saved, saved);
        // Any setup.log would land here.
        SetCurrentDirectoryA(root.c_str());
    }

    void TearDown() override
    {
        SetCurrentDirectoryA(saved);
        session.quiet = 0;
        session.logEnabled = 0;
        DeleteTree(root);
    }

    // Runs CreateDirectoryPath on a copy of `path`; the copy must come back
    // unchanged.
    int Create(const std::string &path, Boxes &boxes)
    {
        char text[512];
        lstrcpynA(text, path.c_str(), sizeof text);
        BoxAnswerer answerer;
        int result = CreateDirectoryPath(text);
        boxes.clear();
        for (const SeenBox &box : answerer.Finish())
            boxes.emplace_back(box.caption, box.text);
        EXPECT_EQ(path, std::string(text));
        return result;
    }
};
} // namespace

TEST_F(CreateDirectoryPathTest, ExistingDirectoryNeedsNoBox)
{
    Boxes boxes;
    EXPECT_EQ(1, Create(root, boxes));
    EXPECT_EQ(1, Create("C:\\", boxes));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CreateDirectoryPathTest, MakesThreeMissingLevelsTopDown)
{
    Boxes boxes;
    EXPECT_EQ(1, Create(root + "\\one\\two\\three", boxes));
    EXPECT_TRUE(DirectoryExists(root + "\\one\\two\\three"));
    EXPECT_TRUE(boxes.empty());
    // A typed final backslash names the same directory.
    EXPECT_EQ(1, Create(root + "\\four\\five\\", boxes));
    EXPECT_TRUE(DirectoryExists(root + "\\four\\five"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CreateDirectoryPathTest, EveryFailingLevelShowsItsBoxShortestFirst)
{
    Boxes boxes;
    EXPECT_EQ(0, Create("Q:\\tl\\new", boxes));
    // Wine's errors: the missing drive 3, below it 2, then 3 again.
    Boxes expected = {
        {"Install", "Creation of Q: failed. (3)"},
        {"Install", "Creation of Q:\\tl failed. (2)"},
        {"Install", "Creation of Q:\\tl\\new failed. (3)"},
    };
    EXPECT_EQ(expected, boxes);
}

TEST_F(CreateDirectoryPathTest, FileInTheWayFailsAndQuietRunLogsInsteadOfShowing)
{
    WriteFileBytes(root + "\\taken", "x");
    Boxes boxes;
    EXPECT_EQ(0, Create(root + "\\taken\\sub", boxes));
    Boxes expected = {
        {"Install", "Creation of " + root + "\\taken failed. (183)"},
        {"Install", "Creation of " + root + "\\taken\\sub failed. (3)"},
    };
    EXPECT_EQ(expected, boxes);
    // A file where the directory should be is no directory.
    EXPECT_EQ(0, Create(root + "\\taken", boxes));
    EXPECT_EQ((Boxes{{"Install", "Creation of " + root + "\\taken failed. (183)"}}), boxes);

    // Quiet: no box at all, and the same texts in the log.
    session.quiet = 1;
    session.logEnabled = 1;
    EXPECT_EQ(0, Create(root + "\\taken\\sub", boxes));
    EXPECT_TRUE(boxes.empty());
    std::vector<std::string> logged;
    for (const auto &box : expected)
        logged.push_back(box.second);
    EXPECT_EQ(logged, ReadLogLines(root + "\\setup.log"));
}
