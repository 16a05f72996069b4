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

// Every level that cannot be made shows its box, shortest first; what exists
// already, or could be made, shows none.
TEST_F(CreateDirectoryPathTest, EveryFailingLevelShowsItsBoxShortestFirst)
{
    WriteFileBytes(root + "\\taken", "x");
    const std::string taken = "Creation of " + root + "\\taken failed. (183)";
    const struct {
        std::string path;
        int result;
        std::vector<std::string> boxes;   // each captioned "Install"
        std::string made;                 // a directory there afterwards
    } rows[] = {
        {root, 1, {}, root},
        {"C:\\", 1, {}, "C:\\"},
        {root + "\\one\\two\\three", 1, {}, root + "\\one\\two\\three"},
        // A typed final backslash names the same directory.
        {root + "\\four\\five\\", 1, {}, root + "\\four\\five"},
        // Wine's errors: the missing drive 3, below it 2, then 3 again.
        {"Q:\\tl\\new", 0,
         {"Creation of Q: failed. (3)", "Creation of Q:\\tl failed. (2)",
          "Creation of Q:\\tl\\new failed. (3)"}, ""},
        {root + "\\taken\\sub", 0, {taken, "Creation of " + root + "\\taken\\sub failed. (3)"}, ""},
        // A file where the directory should be is no directory.
        {root + "\\taken", 0, {taken}, ""},
    };
    Boxes boxes;
    for (const auto &row : rows) {
        EXPECT_EQ(row.result, Create(row.path, boxes)) << row.path;
        Boxes expected;
        for (const std::string &text : row.boxes)
            expected.emplace_back("Install", text);
        EXPECT_EQ(expected, boxes) << row.path;
        EXPECT_TRUE(row.made.empty() || DirectoryExists(row.made)) << row.path;
    }

    // Quiet: no box at all, and the same texts in the log.
    session.quiet = 1;
    session.logEnabled = 1;
    EXPECT_EQ(0, Create(root + "\\taken\\sub", boxes));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(rows[5].boxes, ReadLogLines(root + "\\setup.log"));
}
