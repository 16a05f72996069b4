// The commands as a Program Manager receives them, through a server of the
// test's own that is the only one on its desktop.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "progman/progman.h"
#include "progman_support.h"

namespace {
using Texts = std::vector<std::string>;

// A CF_TEXT reply as Wine sends it, with its terminating zero.
std::string Reply(const std::string &text)
{
    return text + '\0';
}

} // namespace

// Scripts of link calls against a server that records and acknowledges every
// command: what the calls returned, and every command it got, in order, each
// with its terminating zero and in a conversation of its own.
TEST(ProgmanCommands, ScriptsSendTheTemplatesCharacterForCharacter)
{
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    struct Row {
        std::string what;
        std::function<std::vector<int>()> script;   // gives what its calls returned
        std::vector<int> results;
        Texts commands;
    };
    std::vector<Row> rows = {
        {"install and removal",
         [] {
             // Created, then open; added; deleted; then closed.
             std::vector<int> r = {ProgmanCreateGroup("Net Tools"), progmanLink.isOpen,
                                   ProgmanAddItem("Tarnlink", "C:\\Tarnlink\\data", "tarnlink.exe",
                                                  "C:\\Tarnlink\\tarnlink.exe")};
             ProgmanClose();
             ProgmanOpen();
             ProgmanShowGroup("Tarnlink Suite");
             r.push_back(ProgmanDeleteItem("Tarnlink Help", "C:\\Tarnlink\\tarnlink.hlp"));
             ProgmanCloseAndDeleteGroup("Tarnlink Suite");
             r.push_back(progmanLink.isOpen);
             return r;
         },
         {1, 1, 1, 1, 0},
         {"[CreateGroup(Net Tools)]", "[DeleteItem(\"Tarnlink\")]",
          "[AddItem(\"C:\\Tarnlink\\tarnlink.exe\",\"Tarnlink\",,,,,C:\\Tarnlink\\data)]",
          "[ShowGroup(Tarnlink Suite,7)]", "[DeleteItem(\"Tarnlink Help\")]",
          "[DeleteGroup(Tarnlink Suite)]"}},
        {"empty names and directory fall back",
         [] {
             ProgmanOpen();
             ProgmanAddItem("", "", "tarnlink.txt", "C:\\T\\tarnlink.txt");
             ProgmanDeleteItem("", "C:\\T\\mib.txt");
             ProgmanClose();
             return std::vector<int>{};
         },
         {},
         {"[DeleteItem(\"tarnlink.txt\")]",
          std::string("[AddItem(\"C:\\T\\tarnlink.txt\",\"tarnlink.txt\",,,,,") + current + ")]",
          "[DeleteItem(\"C:\\T\\mib.txt\")]"}},
        {"the default group is deleted whatever its case, and no other group",
         [] {
             for (const char *group : {"TARNLINK suite", "Tarnlink Suite 2", "Accessories"}) {
                 ProgmanOpen();
                 ProgmanCloseAndDeleteGroup(group);
             }
             // Closed: nothing is sent even for the default name.
             ProgmanCloseAndDeleteGroup("Tarnlink Suite");
             return std::vector<int>{};
         },
         {},
         {"[DeleteGroup(TARNLINK suite)]"}},
        {"a closed link drops every command",
         [] {
             std::vector<int> r = {ProgmanExecute("[CreateGroup(Never)]"),
                                   ProgmanShowGroup("Never"),
                                   ProgmanAddItem("Item", "C:\\", "item.exe", "C:\\item.exe"),
                                   ProgmanDeleteItem("Item", "C:\\item.exe")};
             ProgmanOpen();
             ProgmanClose();
             r.push_back(ProgmanExecute("[CreateGroup(Never)]"));
             return r;
         },
         {0, 0, -1, 1, 0},
         {}},
        {"a command that does not fit is not sent",
         [] {
             // A group that cannot be named leaves the link closed: no item may
             // land in whatever group is current.
             std::vector<int> r = {ProgmanCreateGroup(std::string(600, 'g').c_str()),
                                   progmanLink.isOpen};
             ProgmanOpen();
             // The add command would exceed its buffer: the old item is not
             // deleted either.
             std::string longPath = "C:\\" + std::string(250, 'p');
             ProgmanAddItem(std::string(200, 'n').c_str(), longPath.c_str(), "x.exe",
                            (longPath + "\\x.exe").c_str());
             // 495 characters of name make a delete command of exactly 511.
             ProgmanDeleteItem(std::string(495, 'd').c_str(), "");
             ProgmanDeleteItem(std::string(496, 'e').c_str(), "");
             ProgmanClose();
             return r;
         },
         {0, 0},
         {"[DeleteItem(\"" + std::string(495, 'd') + "\")]"}},
        // Item names follow the group's rule; a path that holds a quote cannot
        // be sent at all. Either is an item not made.
        {"unusable item names and paths",
         [] {
             ProgmanOpen();
             std::vector<int> r = {ProgmanAddItem("Tool [x]", "C:\\TL", "t.exe", "C:\\TL\\t.exe"),
                                   ProgmanAddItem("Tool", "C:\\TL", "t.exe", "C:\\T\"L\\t.exe"),
                                   ProgmanAddItem("Tool", "C:\\TL", "t.exe", "C:\\TL\\t.exe")};
             ProgmanClose();
             return r;
         },
         {0, 0, 1},
         {"[DeleteItem(\"Tool\")]", "[AddItem(\"C:\\TL\\t.exe\",\"Tool\",,,,,C:\\TL)]"}},
    };
    // Arguments the syntax would split are quoted; a group that cannot be
    // named is not made, and the link stays closed for the items.
    const struct {
        const char *group;
        const char *directory;
        Texts commands;   // CreateGroup, then DeleteItem and AddItem of "Tool"
    } groups[] = {
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
        {"x,7)][DeleteGroup(Victim Group)][ShowGroup(y", "C:\\TL", {}},
        {"Say \"hi\"", "C:\\TL", {}},
        {"Tab\tName", "C:\\TL", {}},
    };
    for (const auto &g : groups)
        rows.push_back({std::string("group ") + g.group,
                        [group = std::string(g.group), dir = std::string(g.directory)] {
                            std::vector<int> r = {ProgmanCreateGroup(group.c_str()),
                                                  ProgmanAddItem("Tool", dir.c_str(), "t.exe",
                                                                 (dir + "\\t.exe").c_str())};
                            ProgmanClose();
                            return r;
                        },
                        g.commands.empty() ? std::vector<int>{0, -1} : std::vector<int>{1, 1},
                        g.commands});
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        IsolatedProgman progman(IsolatedProgman::ANSWERING);
        std::vector<int> results;
        ASSERT_TRUE(progman.Run([&] { results = row.script(); }));
        EXPECT_EQ(row.results, results);
        EXPECT_EQ(row.commands, progman.Commands());
        std::vector<DWORD> sizes;
        for (const std::string &command : row.commands)
            sizes.push_back((DWORD)command.size() + 1);
        EXPECT_EQ(sizes, progman.CommandSizes());
        EXPECT_EQ((int)row.commands.size(), progman.Connects());
    }
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
            sent.push_back((i == 0 ? std::string(c.padding, 'p') : std::string()) + name);
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
