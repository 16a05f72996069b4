// The commands as a Program Manager receives them, through a server of the
// test's own that is the only one on its desktop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "progman/progman.h"
#include "progman_support.h"

namespace {
using Texts = std::vector<std::string>;

// A combo box on the calling thread's desktop, as the group prompt has one.
HWND MakeCombo()
{
    return CreateWindowA("COMBOBOX", "", WS_POPUP | CBS_DROPDOWN, 0, 0, 200, 200, nullptr,
                         nullptr, nullptr, nullptr);
}

// A CF_TEXT reply as Wine sends it, with its terminating zero.
std::string Reply(const std::string &text)
{
    return text + '\0';
}

// The names the group listing puts into a combo box, and its reply.
Texts ListedGroups(const char **reply = nullptr)
{
    HWND combo = MakeCombo();
    const char *listed = ProgmanListGroups(combo);
    if (reply != nullptr)
        *reply = listed;
    Texts names = ComboItems(combo);
    DestroyWindow(combo);
    return names;
}

std::string Repeat(char c, size_t count)
{
    return std::string(count, c);
}
} // namespace

TEST(ProgmanCommands, InstallAndRemovalSendTheTemplatesCharacterForCharacter)
{
    IsolatedProgman progman(IsolatedProgman::ANSWERING);
    int created = 0, added = 0, deleted = 0;
    bool openAfterCreate = false, openAfterClose = true;
    ASSERT_TRUE(progman.Run([&] {
        created = ProgmanCreateGroup("Net Tools");
        openAfterCreate = progmanLink.isOpen;
        added = ProgmanAddItem("Tarnlink", "C:\\Tarnlink\\data", "tarnlink.exe",
                               "C:\\Tarnlink\\tarnlink.exe");
        ProgmanClose();
        ProgmanOpen();
        ProgmanShowGroup("Tarnlink Suite");
        deleted = ProgmanDeleteItem("Tarnlink Help", "C:\\Tarnlink\\tarnlink.hlp");
        ProgmanCloseAndDeleteGroup("Tarnlink Suite");
        openAfterClose = progmanLink.isOpen;
    }));
    EXPECT_EQ(1, created);
    EXPECT_EQ(1, added);
    EXPECT_EQ(1, deleted);
    EXPECT_TRUE(openAfterCreate);
    EXPECT_FALSE(openAfterClose);
    Texts expected = {
        "[CreateGroup(Net Tools)]",
        "[DeleteItem(\"Tarnlink\")]",
        "[AddItem(\"C:\\Tarnlink\\tarnlink.exe\",\"Tarnlink\",,,,,C:\\Tarnlink\\data)]",
        "[ShowGroup(Tarnlink Suite,7)]",
        "[DeleteItem(\"Tarnlink Help\")]",
        "[DeleteGroup(Tarnlink Suite)]",
    };
    EXPECT_EQ(expected, progman.Commands());
    // The terminating zero travels with each command.
    std::vector<DWORD> sizes;
    for (const std::string &command : expected)
        sizes.push_back((DWORD)command.size() + 1);
    EXPECT_EQ(sizes, progman.CommandSizes());
    // One conversation per command.
    EXPECT_EQ((int)expected.size(), progman.Connects());
}

TEST(ProgmanCommands, EmptyNamesAndDirectoryFallBack)
{
    IsolatedProgman progman(IsolatedProgman::ANSWERING);
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    ASSERT_TRUE(progman.Run([&] {
        ProgmanOpen();
        ProgmanAddItem("", "", "tarnlink.txt", "C:\\T\\tarnlink.txt");
        ProgmanDeleteItem("", "C:\\T\\mib.txt");
        ProgmanClose();
    }));
    Texts expected = {
        "[DeleteItem(\"tarnlink.txt\")]",
        std::string("[AddItem(\"C:\\T\\tarnlink.txt\",\"tarnlink.txt\",,,,,") + current + ")]",
        "[DeleteItem(\"C:\\T\\mib.txt\")]",
    };
    EXPECT_EQ(expected, progman.Commands());
}

TEST(ProgmanCommands, DefaultGroupIsDeletedWhateverItsCaseAndNoOtherGroup)
{
    IsolatedProgman progman(IsolatedProgman::ANSWERING);
    ASSERT_TRUE(progman.Run([&] {
        ProgmanOpen();
        ProgmanCloseAndDeleteGroup("TARNLINK suite");
        ProgmanOpen();
        ProgmanCloseAndDeleteGroup("Tarnlink Suite 2");
        ProgmanOpen();
        ProgmanCloseAndDeleteGroup("Accessories");
        // Closed: nothing is sent even for the default name.
        ProgmanCloseAndDeleteGroup("Tarnlink Suite");
    }));
    EXPECT_EQ(Texts{"[DeleteGroup(TARNLINK suite)]"}, progman.Commands());
}

TEST(ProgmanCommands, ClosedLinkDropsEveryCommand)
{
    IsolatedProgman progman(IsolatedProgman::ANSWERING);
    int executed = -1, shown = -1, added = -1, deleted = -1, executedAfterClose = -1;
    ASSERT_TRUE(progman.Run([&] {
        executed = ProgmanExecute("[CreateGroup(Never)]");
        shown = ProgmanShowGroup("Never");
        added = ProgmanAddItem("Item", "C:\\", "item.exe", "C:\\item.exe");
        deleted = ProgmanDeleteItem("Item", "C:\\item.exe");
        ProgmanOpen();
        ProgmanClose();
        executedAfterClose = ProgmanExecute("[CreateGroup(Never)]");
    }));
    EXPECT_EQ(0, executed);
    EXPECT_EQ(0, shown);
    EXPECT_EQ(-1, added);
    EXPECT_EQ(1, deleted);
    EXPECT_EQ(0, executedAfterClose);
    EXPECT_TRUE(progman.Commands().empty());
    EXPECT_EQ(0, progman.Connects());
}

TEST(ProgmanCommands, CommandThatDoesNotFitIsNotSent)
{
    IsolatedProgman progman(IsolatedProgman::ANSWERING);
    std::string longPath = "C:\\" + Repeat('p', 250);
    std::string longName = Repeat('n', 200);
    int created = -1;
    bool open = true;
    ASSERT_TRUE(progman.Run([&] {
        // A group that cannot be named leaves the link closed: no item may
        // land in whatever group is current.
        created = ProgmanCreateGroup(Repeat('g', 600).c_str());
        open = progmanLink.isOpen;
        ProgmanOpen();
        // The add command would exceed its buffer: the old item is not
        // deleted either.
        ProgmanAddItem(longName.c_str(), longPath.c_str(), "x.exe", (longPath + "\\x.exe").c_str());
        // 495 characters of name make a delete command of exactly 511.
        ProgmanDeleteItem(Repeat('d', 495).c_str(), "");
        ProgmanDeleteItem(Repeat('e', 496).c_str(), "");
        ProgmanClose();
    }));
    EXPECT_EQ(0, created);
    EXPECT_FALSE(open);
    EXPECT_EQ(Texts{"[DeleteItem(\"" + Repeat('d', 495) + "\")]"}, progman.Commands());
}

TEST(ProgmanCommands, ArgumentsTheSyntaxWouldSplitAreQuotedAndUnusableNamesNotSent)
{
    const struct {
        const char *group;
        const char *directory;
        Texts commands;   // CreateGroup, then DeleteItem and AddItem of "Tool"
    } cases[] = {
        {"Net Tools (beta)", "C:\\Program Files (x86)\\TL",
         {"[CreateGroup(\"Net Tools (beta)\")]", "[DeleteItem(\"Tool\")]",
          "[AddItem(\"C:\\Program Files (x86)\\TL\\t.exe\",\"Tool\",,,,,"
          "\"C:\\Program Files (x86)\\TL\")]"}},
        {"Net, Tools", "C:\\a,b", {"[CreateGroup(\"Net, Tools\")]", "[DeleteItem(\"Tool\")]",
          "[AddItem(\"C:\\a,b\\t.exe\",\"Tool\",,,,,\"C:\\a,b\")]"}},
        {" Padded ", "C:\\x[1]", {"[CreateGroup(\" Padded \")]", "[DeleteItem(\"Tool\")]",
          "[AddItem(\"C:\\x[1]\\t.exe\",\"Tool\",,,,,\"C:\\x[1]\")]"}},
        {"Padded ", "C:\\TL", {"[CreateGroup(\"Padded \")]", "[DeleteItem(\"Tool\")]",
          "[AddItem(\"C:\\TL\\t.exe\",\"Tool\",,,,,C:\\TL)]"}},
        // Refused names: no group, and the link stays closed for the items.
        {"x,7)][DeleteGroup(Victim Group)][ShowGroup(y", "C:\\TL", {}},
        {"Say \"hi\"", "C:\\TL", {}},
        {"Tab\tName", "C:\\TL", {}},
    };
    for (const auto &c : cases) {
        IsolatedProgman progman(IsolatedProgman::ANSWERING);
        int created = -1, added = -1;
        std::string commandLine = std::string(c.directory) + "\\t.exe";
        ASSERT_TRUE(progman.Run([&] {
            created = ProgmanCreateGroup(c.group);
            added = ProgmanAddItem("Tool", c.directory, "t.exe", commandLine.c_str());
            ProgmanClose();
        }));
        EXPECT_EQ(c.commands.empty() ? 0 : 1, created) << c.group;
        EXPECT_EQ(c.commands.empty() ? -1 : 1, added) << c.group;
        EXPECT_EQ(c.commands, progman.Commands()) << c.group;
    }
    // Item names follow the group's rule; a path that holds a quote cannot be
    // sent at all. Either is an item not made.
    IsolatedProgman progman(IsolatedProgman::ANSWERING);
    int bracketName = -1, quotedPath = -1, plain = -1;
    ASSERT_TRUE(progman.Run([&] {
        ProgmanOpen();
        bracketName = ProgmanAddItem("Tool [x]", "C:\\TL", "t.exe", "C:\\TL\\t.exe");
        quotedPath = ProgmanAddItem("Tool", "C:\\TL", "t.exe", "C:\\T\"L\\t.exe");
        plain = ProgmanAddItem("Tool", "C:\\TL", "t.exe", "C:\\TL\\t.exe");
        ProgmanClose();
    }));
    EXPECT_EQ(0, bracketName);
    EXPECT_EQ(0, quotedPath);
    EXPECT_EQ(1, plain);
    EXPECT_EQ((Texts{"[DeleteItem(\"Tool\")]", "[AddItem(\"C:\\TL\\t.exe\",\"Tool\",,,,,C:\\TL)]"}),
              progman.Commands());
}

TEST(ProgmanCommands, NoProgramManagerMeansCommandsDroppedWithoutDelay)
{
    IsolatedProgman progman(IsolatedProgman::ABSENT);
    int created = 0, executed = -1, added = 0, closed = 0;
    const char *groups = "not called";
    Texts listed = {"not called"};
    DWORD elapsed = 0;
    ASSERT_TRUE(progman.Run([&] {
        DWORD start = GetTickCount();
        created = ProgmanCreateGroup("Tarnlink Suite");
        executed = ProgmanExecute("[ShowGroup(Tarnlink Suite,7)]");
        added = ProgmanAddItem("Tarnlink", "C:\\Tarnlink", "tarnlink.exe", "C:\\Tarnlink\\t.exe");
        closed = ProgmanCloseAndDeleteGroup("Tarnlink Suite");
        listed = ListedGroups(&groups);
        elapsed = GetTickCount() - start;
    }));
    EXPECT_EQ(-1, created);
    EXPECT_EQ(0, executed);
    EXPECT_EQ(-1, added);
    EXPECT_EQ(1, closed);
    EXPECT_EQ(nullptr, groups);
    EXPECT_EQ(Texts{}, listed);
    EXPECT_FALSE(progmanLink.isOpen);
    EXPECT_LT(elapsed, 2000u);
}

TEST(ProgmanCommands, RefusingServerIsAskedOncePerCommandAndGetsNothing)
{
    IsolatedProgman progman(IsolatedProgman::REFUSING);
    progman.ReplyToGroups("Accessories\r\n");
    int executed = -1;
    const char *groups = "not called";
    ASSERT_TRUE(progman.Run([&] {
        ProgmanOpen();
        executed = ProgmanExecute("[CreateGroup(X)]");
        ProgmanAddItem("Tarnlink", "C:\\Tarnlink", "tarnlink.exe", "C:\\Tarnlink\\t.exe");
        ProgmanClose();
        ListedGroups(&groups);
    }));
    EXPECT_EQ(0, executed);
    EXPECT_EQ(nullptr, groups);
    // The execute, both item commands and the listing each tried to connect.
    EXPECT_EQ(4, progman.Connects());
    EXPECT_TRUE(progman.Commands().empty());
}

TEST(ProgmanCommands, UnansweredTransactionGivesUpAfterOneSecond)
{
    IsolatedProgman progman(IsolatedProgman::STALLING);
    int executed = -1, added = -1;
    DWORD elapsed = 0;
    ASSERT_TRUE(progman.Run([&] {
        ProgmanOpen();
        DWORD start = GetTickCount();
        executed = ProgmanExecute("[CreateGroup(Slow)]");
        elapsed = GetTickCount() - start;
        // An item the Program Manager did not take in time is reported so:
        // a slow one may still make it.
        added = ProgmanAddItem("Tarnlink", "C:\\Tarnlink", "t.exe", "C:\\Tarnlink\\t.exe");
        ProgmanClose();
    }));
    EXPECT_EQ(0, executed);
    EXPECT_EQ(-1, added);
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 3000u);

    // A Program Manager that stops answering altogether (hung, or held by a
    // debugger) holds a run for a few seconds, once; the commands after it
    // are dropped at once while the conversation it holds still waits.
    IsolatedProgman frozen(IsolatedProgman::FROZEN);
    int created = -1, deleted = -1;
    DWORD first = 0, rest = 0;
    ASSERT_TRUE(frozen.Run([&] {
        DWORD start = GetTickCount();
        created = ProgmanCreateGroup("Frozen");
        first = GetTickCount() - start;
        added = ProgmanAddItem("Tarnlink", "C:\\Tarnlink", "t.exe", "C:\\Tarnlink\\t.exe");
        deleted = ProgmanDeleteGroup("Frozen");
        rest = GetTickCount() - start - first;
        ProgmanClose();
    }, 30000));
    EXPECT_EQ(1, created);
    EXPECT_EQ(0, deleted);
    EXPECT_GE(first, 4500u);
    EXPECT_LT(first, 8000u);
    EXPECT_LT(rest, 500u);
}

// A group the Program Manager refuses is not made, and no item may follow;
// one it did not answer for in time may still be made, and its items follow
// (the install then looks for them).
TEST(ProgmanCommands, RefusedGroupIsNotMadeButALateOneMayBe)
{
    for (auto mode : {IsolatedProgman::REJECTING, IsolatedProgman::STALLING}) {
        IsolatedProgman progman(mode);
        int created = -1;
        ASSERT_TRUE(progman.Run([&] {
            created = ProgmanCreateGroup("Net Tools");
            ProgmanClose();
        }));
        EXPECT_EQ(mode == IsolatedProgman::STALLING, created) << mode;
    }
}

TEST(ProgmanGroups, ReplyIsSplitIntoNamesWithoutEmptyOnes)
{
    IsolatedProgman progman(IsolatedProgman::ANSWERING);
    progman.ReplyToGroups(Reply("Accessories\r\n\r\nGames\n\rTarnlink Suite\r\n"));
    Texts names;
    const char *reply = nullptr;
    bool openAfter = true;
    ASSERT_TRUE(progman.Run([&] {
        names = ListedGroups(&reply);
        openAfter = progmanLink.isOpen;
    }));
    EXPECT_EQ((Texts{"Accessories", "Games", "Tarnlink Suite"}), names);
    ASSERT_NE(nullptr, reply);
    // Split in place: the first name stands alone.
    EXPECT_STREQ("Accessories", reply);
    EXPECT_FALSE(openAfter);
    EXPECT_TRUE(progman.Commands().empty());
}

TEST(ProgmanGroups, ReplyLongerThanTheBufferKeepsOnlyWholeNames)
{
    // Names of 9 characters ("Group-000"), the first one padded, separated by
    // CR LF: the list keeps 4095 characters, and only the names that end
    // within them.
    const struct {
        size_t padding, count;
        bool closingSeparator;
    } cases[] = {
        {0, 400, true},    // 4400 bytes: name 372 would be cut
        {5, 400, true},    // the cut falls on the separator after name 371
        {5, 372, false},   // 4095 characters: all of it fits
        {6, 372, false},   // 4096: the last name does not
    };
    for (const auto &c : cases) {
        std::string reply;
        Texts sent, kept;
        for (size_t i = 0; i < c.count; i++) {
            char name[16];
            wsprintfA(name, "Group-%03d", (int)i);
            sent.push_back((i == 0 ? Repeat('p', c.padding) : std::string()) + name);
            if (i > 0)
                reply += "\r\n";
            reply += sent.back();
            if (reply.size() <= 4095)
                kept.push_back(sent.back());
        }
        if (c.closingSeparator)
            reply += "\r\n";
        IsolatedProgman progman(IsolatedProgman::ANSWERING);
        progman.ReplyToGroups(Reply(reply));
        Texts names;
        ASSERT_TRUE(progman.Run([&] {
            names = ListedGroups();
        }));
        EXPECT_EQ(kept, names) << reply.size();
    }
}

TEST(ProgmanGroups, RequestWithoutDataAddsNoNames)
{
    Texts first, second;
    const char *reply = nullptr;
    {
        IsolatedProgman progman(IsolatedProgman::ANSWERING);
        progman.ReplyToGroups(Reply("Old Group\r\n"));
        ASSERT_TRUE(progman.Run([&] {
            first = ListedGroups();
        }));
    }
    ASSERT_EQ(Texts{"Old Group"}, first);
    // A server that answers the conversation but not the request: the last
    // reply must not come back.
    IsolatedProgman silent(IsolatedProgman::ANSWERING);
    ASSERT_TRUE(silent.Run([&] {
        second = ListedGroups(&reply);
    }));
    EXPECT_TRUE(second.empty());
    ASSERT_NE(nullptr, reply);
    EXPECT_STREQ("", reply);
}
