// The install-or-remove choice and the Program Manager group prompt, driven
// as a user would drive them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/session.h"
#include "base/text.h"
#include "install/prompts.h"
#include "progman/progman.h"
#include "progman_support.h"
#include "wintest.h"

namespace {
using Texts = std::vector<std::string>;

DWORD Self()
{
    return GetCurrentProcessId();
}

bool Checked(HWND dialog, int id)
{
    return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Enabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

struct ModeDialog {
    bool seen = false;
    std::string caption, installText, removeText;
    bool installChecked = false, removeChecked = false, removeEnabled = false, centred = false;
};

class ModePrompt : public testing::Test {
protected:
    void SetUp() override
    {
        session.installRequested = 0;
        session.removeRequested = 0;
        DeleteProfileSection("Tarnlink Suite");
    }

    void TearDown() override
    {
        session.installRequested = 0;
        session.removeRequested = 0;
        DeleteProfileSection("Tarnlink Suite");
    }

    // Runs ChooseInstallMode; `answer` acts on the dialog once it was read.
    int Choose(ModeDialog &seen, const std::function<void(HWND)> &answer)
    {
        DialogDriver driver(Settled([&] {
            HWND dialog = WaitForDialog(Self(), "Install", 5000);
            if (dialog == nullptr)
                return CancelOwnDialogs();
            seen.seen = true;
            seen.caption = WindowText(dialog);
            seen.installText = ItemText(dialog, 1851);
            seen.removeText = ItemText(dialog, 1852);
            seen.installChecked = Checked(dialog, 1851);
            seen.removeChecked = Checked(dialog, 1852);
            seen.removeEnabled = Enabled(dialog, 1852);
            seen.centred = Centred(dialog);
            answer(dialog);
        }));
        int result = ChooseInstallMode(nullptr, session.instance);
        driver.Join();
        return result;
    }
};
} // namespace

// Each answer, with and without the directory an earlier installation
// recorded: Remove can be chosen only when there is one, Install is
// preselected either way, and Exit or the close box leave.
TEST_F(ModePrompt, AnswersWithAndWithoutARecordedDirectory)
{
    auto press = [](int id) { return [id](HWND dialog) { PressButton(dialog, id); }; };
    const struct {
        const char *what;
        bool recorded;
        std::function<void(HWND)> answer;
        int result;
    } cases[] = {
        {"nothing recorded", false, press(IDOK), 1},
        {"remove", true,
         [](HWND dialog) {
             PressButton(dialog, 1852);
             WaitUntil([&] { return Checked(dialog, 1852); }, 2000);
             PressButton(dialog, IDOK);
         },
         2},
        {"continue with the preselected choice", true, press(IDOK), 1},
        {"exit", true, press(IDCANCEL), 0},
        {"close box", true,
         [](HWND dialog) {
             PressButton(dialog, 1852);
             PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
         },
         0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        DeleteProfileSection("Tarnlink Suite");
        if (c.recorded)
            WriteProfileStringA("Tarnlink Suite", "DIR", "C:\\Tarnlink");
        ModeDialog seen;
        EXPECT_EQ(c.result, Choose(seen, c.answer));
        ASSERT_TRUE(seen.seen);
        EXPECT_EQ("Install or update Tarnlink Suite", seen.installText);
        EXPECT_EQ("Remove prior installation of Tarnlink Suite", seen.removeText);
        EXPECT_TRUE(seen.installChecked);
        EXPECT_FALSE(seen.removeChecked);
        EXPECT_EQ(c.recorded, seen.removeEnabled);
        EXPECT_TRUE(seen.centred);
    }
}

TEST_F(ModePrompt, SwitchesAnswerWithoutDialog)
{
    WriteProfileStringA("Tarnlink Suite", "DIR", "C:\\Tarnlink");
    bool dialogSeen = false;
    auto choose = [&] {
        DialogDriver driver(Settled([&] {
            if (WaitForDialog(Self(), nullptr, 500) != nullptr) {
                dialogSeen = true;
                CancelOwnDialogs();
            }
        }));
        int result = ChooseInstallMode(nullptr, session.instance);
        driver.Join();
        return result;
    };
    session.installRequested = 1;
    EXPECT_EQ(1, choose());
    session.installRequested = 0;
    session.removeRequested = 1;
    EXPECT_EQ(2, choose());
    EXPECT_FALSE(dialogSeen);
}

namespace {
class GroupPrompt : public testing::Test {
protected:
    GroupWindowGuard windows;
    std::string programs = ProgramsFolder();
    char savedGroup[256] = "";

    void SetUp() override
    {
        CopyText(savedGroup, sizeof savedGroup, session.groupName);
        // Two groups in Wine's Program Manager, and the proposed one absent.
        for (const char *group : {"TL Group B", "TL Group A"}) {
            ASSERT_EQ(1, ProgmanCreateGroup(group));
            ProgmanClose();
        }
        DeleteTree(programs + "\\Tarnlink Suite");
        CopyText(session.groupName, sizeof session.groupName, "Tarnlink Suite");
    }

    void TearDown() override
    {
        DeleteTree(programs + "\\TL Group A");
        DeleteTree(programs + "\\TL Group B");
        CopyText(session.groupName, sizeof session.groupName, savedGroup);
    }
};
} // namespace

// The group prompt, typed into and answered: OK takes the name, Cancel
// keeps the one there was.
TEST_F(GroupPrompt, ListsExistingGroupsAndTakesTheNameOnlyOnOk)
{
    const struct {
        const char *typed;
        int button, result;
        const char *group;
    } cases[] = {{"My Tools", IDOK, 1, "My Tools"}, {"Something Else", IDCANCEL, 0, "Tarnlink Suite"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        CopyText(session.groupName, sizeof session.groupName, "Tarnlink Suite");
        Texts listed;
        std::string edit;
        bool seen = false, centred = false;
        DialogDriver driver(Settled([&] {
            HWND dialog = WaitForDialog(Self(), "Program Manager Group", 5000);
            if (dialog == nullptr)
                return CancelOwnDialogs();
            seen = true;
            centred = Centred(dialog);
            listed = ComboItems(GetDlgItem(dialog, 2405));
            edit = ItemText(dialog, 2405);
            SetItemText(dialog, 2405, c.typed);
            PressButton(dialog, c.button);
        }));
        int result = AskGroup(nullptr, session.instance);
        driver.Join();
        ASSERT_TRUE(seen);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ("Tarnlink Suite", edit);
        EXPECT_TRUE(centred);
        EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), "TL Group A"));
        EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), "TL Group B"));
        EXPECT_EQ(listed.end(), std::find(listed.begin(), listed.end(), ""));
        EXPECT_EQ(listed.end(), std::find(listed.begin(), listed.end(), "Tarnlink Suite"));
        EXPECT_STREQ(c.group, session.groupName);
    }
}

// A name the Program Manager cannot be given, or that cannot be one folder of
// the Start Menu, is refused like one that is too long: the prompt stays,
// and the name is not taken. The longest name whose every shortcut path
// fits is taken.
TEST_F(GroupPrompt, NamesThatCannotBeAGroupAreRefused)
{
    // "<Programs>\<group>\Tarnlink Suite Release Notes.lnk" in 259 characters.
    size_t longest = 259 - programs.size() - 34;
    std::string fits(longest, 'g'), tooLong(longest + 1, 'g');
    const char *refused[] = {"Say \"hi\"", "Tools [x]", "Tools ]", "Tab\tName", "..\\Desktop",
                             "nul.txt", "Tools.", tooLong.c_str()};
    std::vector<bool> stayed;
    DialogDriver driver(Settled([&] {
        HWND dialog = WaitForDialog(Self(), "Program Manager Group", 5000);
        if (dialog == nullptr)
            return CancelOwnDialogs();
        for (const char *name : refused) {
            SetItemText(dialog, 2405, name);
            SendMessageA(dialog, WM_COMMAND, IDOK, 0);
            stayed.push_back(IsWindowVisible(dialog) != FALSE);
        }
        SetItemText(dialog, 2405, fits);
        PressButton(dialog, IDOK);
    }));
    EXPECT_EQ(1, AskGroup(nullptr, session.instance));
    driver.Join();
    EXPECT_EQ(std::vector<bool>(sizeof refused / sizeof refused[0], true), stayed);
    EXPECT_EQ(fits, session.groupName);

    // A Programs folder of 259 characters is read whole: no group fits in it.
    const char folders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, folders, 0, KEY_SET_VALUE, &key));
    const std::string full = "C:\\" + std::string(256, 'p');
    RegSetValueExA(key, "Programs", 0, REG_SZ, (const BYTE *)full.c_str(), 260);
    EXPECT_EQ(0, GroupFits("G"));
    RegSetValueExA(key, "Programs", 0, REG_SZ, (const BYTE *)programs.c_str(),
                   (DWORD)programs.size() + 1);
    RegCloseKey(key);
    EXPECT_EQ(1, GroupFits("G"));
}
