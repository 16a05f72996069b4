// The directory prompt, its browser, and the source and destination
// questions built on them, driven as a user would drive them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/session.h"
#include "base/text.h"
#include "install/prompts.h"
#include "payload_support.h"
#include "progman_support.h"
#include "wintest.h"

namespace {
using Boxes = std::vector<std::pair<std::string, std::string>>;

DWORD Self()
{
    return GetCurrentProcessId();
}

// What a directory prompt showed.
struct PromptSeen {
    std::string caption, prompt, edit;
    bool centred;
};

PromptSeen ReadPrompt(HWND dialog)
{
    return {WindowText(dialog), ItemText(dialog, 3010), ItemText(dialog, 954), Centred(dialog)};
}

// The prompt that is up, found by its caption, once it is not `previous`.
HWND WaitForPrompt(const char *caption, HWND previous = nullptr)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = FindTopWindow(Self(), "#32770", caption);
            return found != nullptr && found != previous;
        },
        5000);
    return found != previous ? found : nullptr;
}

// The browser is the "Locate" dialog owned by the prompt.
HWND WaitForBrowser(HWND prompt)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = FindTopWindow(Self(), "#32770", "Locate");
            return found != nullptr && GetWindow(found, GW_OWNER) == prompt;
        },
        5000);
    return found;
}

// Double-clicks an entry of the browser's directory list, e.g. "[sub]".
bool OpenListedDirectory(HWND browser, const std::string &entry)
{
    HWND list = GetDlgItem(browser, 1121);
    std::string before = ItemText(browser, 1088);
    LRESULT index = SendMessageA(list, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)entry.c_str());
    if (index == LB_ERR)
        return false;
    SendMessageA(list, LB_SETCURSEL, index, 0);
    PostMessageA(browser, WM_COMMAND, MAKEWPARAM(1121, LBN_DBLCLK), (LPARAM)list);
    return WaitUntil([&] { return ItemText(browser, 1088) != before; }, 5000);
}

bool EditBecomes(HWND prompt, const std::string &text)
{
    return WaitUntil([&] { return ItemText(prompt, 954) == text; }, 5000);
}

// A driver script that runs `act` on the prompt of `caption` once it is up,
// and cancels every dialog when none comes.
std::function<void()> AtPrompt(const char *caption, std::function<void(HWND)> act)
{
    return Settled([caption, act] {
        HWND prompt = WaitForPrompt(caption);
        if (prompt == nullptr)
            return CancelOwnDialogs();
        act(prompt);
    });
}

// Types `text` into the prompt's edit and presses `button`.
void Answer(HWND prompt, const std::string &text, int button = IDOK)
{
    SetItemText(prompt, 954, text);
    PressButton(prompt, button);
}

// Opens the prompt's browser; nullptr when it does not come up.
HWND OpenBrowser(HWND prompt)
{
    PressButton(prompt, 2416);
    return WaitForBrowser(prompt);
}

void CloseBrowser(HWND browser, int button)
{
    PressButton(browser, button);
    WaitUntil([&] { return !IsWindow(browser); }, 5000);
}

// AskDirectory with `act` driving its prompt.
int AskWith(const char *text, const char *initial, char *result, size_t size,
            std::function<void(HWND)> act)
{
    DialogDriver driver(AtPrompt("Locate Directory", act));
    int answer = AskDirectory(nullptr, session.instance, text, initial, result, size);
    driver.Join();
    return answer;
}

class DirectoryPrompt : public testing::Test {
protected:
    std::string root;
    char savedDirectory[MAX_PATH] = "";

    void SetUp() override
    {
        root = ScratchDirectory("prompts");
        GetCurrentDirectoryA(sizeof savedDirectory, savedDirectory);
        promptTitle[0] = '\0';
        CopyText(browseFileName, sizeof browseFileName, "a");
    }

    void TearDown() override
    {
        // The browser moves the process's current directory.
        SetCurrentDirectoryA(savedDirectory);
        session.logEnabled = 0;
        DeleteTree(root);
    }

    std::string Make(const std::string &relative)
    {
        std::string path = root + "\\" + relative;
        CreateDirectoryA(path.c_str(), nullptr);
        return path;
    }
};
} // namespace

// OK takes the edited text when it fits the caller's result; Cancel, or an
// answer that does not fit, leaves the result as it was, the byte after it
// too. One that fills the result less one fits.
TEST_F(DirectoryPrompt, OkTakesTheEditWhenItFitsAndAnythingElseLeavesTheResult)
{
    const struct {
        const char *typed;
        int button;
        size_t size;
        int taken;
    } answers[] = {{"D:\\Elsewhere", IDOK, 512, 1}, {"E:\\Other", IDCANCEL, 512, 0},
                   {"C:\\Program Files", IDOK, 8, 0}, {"C:\\abcde", IDOK, 8, 0},
                   {"C:\\abcd", IDOK, 8, 1}};
    for (const auto &a : answers) {
        SCOPED_TRACE(a.typed);
        char result[513] = "small";
        result[a.size] = '#';
        PromptSeen seen;
        EXPECT_EQ(a.taken, AskWith("Where to?", "C:\\Start", result, a.size, [&](HWND prompt) {
            seen = ReadPrompt(prompt);
            Answer(prompt, a.typed, a.button);
        }));
        EXPECT_EQ("Locate Directory", seen.caption);
        EXPECT_EQ("Where to?", seen.prompt);
        EXPECT_EQ("C:\\Start", seen.edit);
        EXPECT_TRUE(seen.centred);
        EXPECT_STREQ(a.taken ? a.typed : "small", result);
        EXPECT_EQ('#', result[a.size]);
    }
}

TEST_F(DirectoryPrompt, DirectoryLongerThanTheFieldsIsNeitherShownCutNorTyped)
{
    std::string longDirectory = "C:\\" + std::string(300, 'x');
    char result[512] = "untouched";
    std::string edit = "not read";
    LRESULT limit = 0;
    EXPECT_EQ(1, AskWith("Where?", longDirectory.c_str(), result, sizeof result, [&](HWND prompt) {
        edit = ItemText(prompt, 954);
        limit = SendMessageA(GetDlgItem(prompt, 954), EM_GETLIMITTEXT, 0, 0);
        PressButton(prompt, IDOK);
    }));
    EXPECT_EQ("", edit);
    EXPECT_EQ(255, limit);
    EXPECT_STREQ("", result);

    // An edit that holds as many characters as the field (set, not typed) is
    // refused, not cut: OK leaves the prompt up. One fewer is taken whole.
    std::string full = "C:\\" + std::string(253, 'y');
    std::string fits = "C:\\" + std::string(252, 'z');
    bool stayed = false;
    EXPECT_EQ(1, AskWith("Where?", "C:\\", result, sizeof result, [&](HWND prompt) {
        SetItemText(prompt, 954, full);
        SendMessageA(prompt, WM_COMMAND, IDOK, 0);
        stayed = IsWindowVisible(prompt) != FALSE;
        Answer(prompt, fits);
    }));
    EXPECT_TRUE(stayed);
    EXPECT_EQ(fits, result);
}

TEST_F(DirectoryPrompt, BrowseReplacesTheEditTextAndTheLogFollows)
{
    std::string start = Make("browse");
    std::string sub = Make("browse\\sub");
    session.logEnabled = 1;
    char result[512] = "";
    std::string shownPrompt, afterCancel, afterBrowse, fileTypes;
    bool sourceTemplate = true;
    EXPECT_EQ(1, AskWith("Pick one", "C:\\", result, sizeof result, [&](HWND prompt) {
        SetItemText(prompt, 954, start);
        // Cancel in the browser leaves the text as it was.
        HWND browser = OpenBrowser(prompt);
        if (browser == nullptr)
            return CancelOwnDialogs();
        OpenListedDirectory(browser, "[sub]");
        CloseBrowser(browser, IDCANCEL);
        afterCancel = ItemText(prompt, 954);
        // OK in the browser puts the directory it shows into the prompt.
        if ((browser = OpenBrowser(prompt)) == nullptr)
            return CancelOwnDialogs();
        shownPrompt = ItemText(browser, 1511);
        fileTypes = ItemText(browser, 1136);
        sourceTemplate = GetDlgItem(browser, 1511) == nullptr;
        OpenListedDirectory(browser, "[sub]");
        PressButton(browser, IDOK);
        EditBecomes(prompt, sub);
        afterBrowse = ItemText(prompt, 954);
        PressButton(prompt, IDOK);
    }));
    EXPECT_EQ(start, afterCancel);
    EXPECT_EQ("Pick one", shownPrompt);
    EXPECT_EQ("All Files (*.*)", fileTypes);
    EXPECT_FALSE(sourceTemplate);
    EXPECT_EQ(sub, afterBrowse);
    EXPECT_EQ(sub, std::string(result));
    // The browser left the current directory where it ended, and the log with it.
    LogLine("after the browse");
    EXPECT_EQ(std::vector<std::string>{"after the browse"}, ReadLogLines(sub + "\\setup.log"));
}

TEST_F(DirectoryPrompt, BrowsingToTheRootOfADriveGivesTheDriveAlone)
{
    Make("root");
    char result[512] = "";
    std::string afterBrowse = "not read";
    EXPECT_EQ(1, AskWith("Where?", "", result, sizeof result, [&](HWND prompt) {
        SetItemText(prompt, 954, root + "\\root");
        HWND browser = OpenBrowser(prompt);
        if (browser == nullptr)
            return CancelOwnDialogs();
        // Up until the list has no parent entry left.
        for (int i = 0; i < 5 && OpenListedDirectory(browser, "[..]"); i++) {
        }
        CloseBrowser(browser, IDOK);
        afterBrowse = ItemText(prompt, 954);
        PressButton(prompt, IDOK);
    }));
    EXPECT_EQ("C:", afterBrowse);
    EXPECT_STREQ("C:", result);
}

TEST_F(DirectoryPrompt, SourceFoundUnderItsCompressedName)
{
    std::string source = Make("source");
    WriteFileBytes(source + "\\tarnlink.ex_", "SZDD");
    char directory[512];
    CopyText(directory, sizeof directory, source.c_str());
    bool prompted = false;
    DialogDriver driver(Settled([&] {
        if (WaitForDialog(Self(), nullptr, 500) != nullptr) {
            prompted = true;
            CancelOwnDialogs();
        }
    }));
    EXPECT_EQ(1, LocateSourceDirectory(session.instance, nullptr, directory, sizeof directory, "tarnlink.exe"));
    driver.Join();
    EXPECT_FALSE(prompted);
    EXPECT_EQ(source + "\\", std::string(directory));
}

TEST_F(DirectoryPrompt, SourcePromptSearchesEachNamedDirectoryUntilFound)
{
    std::string empty = Make("empty");
    std::string other = Make("other");
    std::string good = Make("good");
    WriteFileBytes(good + "\\tarnlink.exe", "MZ");
    char directory[512];
    CopyText(directory, sizeof directory, empty.c_str());
    std::vector<PromptSeen> prompts;
    bool sourceTemplate = false;
    std::string afterCancel;
    DialogDriver driver(AtPrompt("SOURCE files directory", [&](HWND prompt) {
        prompts.push_back(ReadPrompt(prompt));
        // The browser of the source prompt is the source-files template.
        HWND browser = OpenBrowser(prompt);
        if (browser == nullptr)
            return CancelOwnDialogs();
        sourceTemplate = GetDlgItem(browser, 1511) == nullptr;
        CloseBrowser(browser, IDCANCEL);
        afterCancel = ItemText(prompt, 954);
        // A directory with its final backslash but without the file: asked again.
        Answer(prompt, other + "\\");
        HWND again = WaitForPrompt("SOURCE files directory", prompt);
        if (again == nullptr)
            return CancelOwnDialogs();
        prompts.push_back(ReadPrompt(again));
        // Without its final backslash, holding the file.
        Answer(again, good);
    }));
    EXPECT_EQ(1, LocateSourceDirectory(session.instance, nullptr, directory, sizeof directory, "tarnlink.exe"));
    driver.Join();
    ASSERT_EQ(2u, prompts.size());
    EXPECT_EQ("Please locate source directory!", prompts[0].prompt);
    EXPECT_EQ(empty + "\\", prompts[0].edit);
    EXPECT_TRUE(sourceTemplate);
    EXPECT_EQ(empty + "\\", afterCancel);
    EXPECT_EQ(other + "\\", prompts[1].edit);
    EXPECT_EQ(good + "\\", std::string(directory));
    EXPECT_STREQ("tarnlink.exe", browseFileName);
}

TEST_F(DirectoryPrompt, CancelledSourcePromptLeavesTheDirectory)
{
    std::string empty = Make("empty");
    char directory[512];
    CopyText(directory, sizeof directory, empty.c_str());
    DialogDriver driver(
        AtPrompt("SOURCE files directory", [](HWND prompt) { Answer(prompt, "C:\\", IDCANCEL); }));
    EXPECT_EQ(0, LocateSourceDirectory(session.instance, nullptr, directory, sizeof directory, "tarnlink.exe"));
    driver.Join();
    EXPECT_EQ(empty, std::string(directory));
}

TEST_F(DirectoryPrompt, DestinationIsCreatedOnceConfirmed)
{
    char directory[512];
    CopyText(directory, sizeof directory, (root + "\\dest\\new").c_str());
    PromptSeen seen;
    DialogDriver driver(AtPrompt("PROGRAM files directory", [&](HWND prompt) {
        seen = ReadPrompt(prompt);
        PressButton(prompt, IDOK);
    }));
    EXPECT_EQ(1, AskDestinationDirectory(session.instance, nullptr, directory, sizeof directory));
    driver.Join();
    EXPECT_EQ("Please enter the destination directory:", seen.prompt);
    EXPECT_EQ(root + "\\dest\\new", seen.edit);
    EXPECT_TRUE(DirectoryExists(root + "\\dest\\new"));
    EXPECT_STREQ("a", browseFileName);
}

// Only a drive or UNC path is taken; anything else brings the prompt back
// without creating anything.
TEST_F(DirectoryPrompt, DestinationThatIsNotAbsoluteIsAskedAgain)
{
    SetCurrentDirectoryA(root.c_str());
    char directory[512];
    CopyText(directory, sizeof directory, "Tarnlink");
    std::vector<std::string> shown;
    DialogDriver driver(AtPrompt("PROGRAM files directory", [&](HWND prompt) {
        for (const char *typed : {"\\Tarnlink", "C:Tarnlink", "\\\\server", ""}) {
            shown.push_back(ItemText(prompt, 954));
            Answer(prompt, typed);
            if ((prompt = WaitForPrompt("PROGRAM files directory", prompt)) == nullptr)
                return CancelOwnDialogs();
        }
        shown.push_back(ItemText(prompt, 954));
        Answer(prompt, root + "\\made");
    }));
    EXPECT_EQ(1, AskDestinationDirectory(session.instance, nullptr, directory, sizeof directory));
    driver.Join();
    EXPECT_EQ((std::vector<std::string>{"Tarnlink", "\\Tarnlink", "C:Tarnlink", "\\\\server", ""}),
              shown);
    EXPECT_EQ(root + "\\made", std::string(directory));
    EXPECT_TRUE(DirectoryExists(root + "\\made"));
    EXPECT_FALSE(DirectoryExists(root + "\\Tarnlink"));
}

TEST_F(DirectoryPrompt, DestinationThatCannotBeCreatedIsReportedAndAskedAgain)
{
    session.logEnabled = 1;
    SetCurrentDirectoryA(root.c_str());
    char directory[512];
    CopyText(directory, sizeof directory, (root + "\\dest").c_str());
    std::string askedAgain = "not asked";
    BoxAnswerer boxes;
    DialogDriver driver(AtPrompt("PROGRAM files directory", [&](HWND prompt) {
        Answer(prompt, "Q:\\Tarnlink");
        // The boxes come in turn, each answered OK; the prompt comes back after the last.
        HWND again = WaitForPrompt("PROGRAM files directory", prompt);
        if (again == nullptr)
            return CancelOwnDialogs();
        askedAgain = ItemText(again, 954);
        PressButton(again, IDCANCEL);
    }));
    EXPECT_EQ(0, AskDestinationDirectory(session.instance, nullptr, directory, sizeof directory));
    driver.Join();
    Boxes seen;
    for (const SeenBox &box : boxes.Finish())
        seen.push_back({box.caption, box.text});
    Boxes expected = {
        {"Install", "Creation of Q: failed. (3)"},
        {"Install", "Creation of Q:\\Tarnlink failed. (2)"},
        {"Ostrivane", "Failed to create requested directory!"},
    };
    EXPECT_EQ(expected, seen);
    EXPECT_EQ("Q:\\Tarnlink", askedAgain);
    EXPECT_EQ(std::vector<std::string>{"Failed to create requested directory!"},
              ReadLogLines(root + "\\setup.log"));
}
