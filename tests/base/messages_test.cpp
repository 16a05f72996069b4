// Message texts, inserts, the setup log and dialog placement.
#include <gtest/gtest.h>

#include <direct.h>
#include <functional>
#include <string.h>

#include "base/messages.h"
#include "base/names.h"
#include "base/session.h"
#include "base/text.h"
#include "resources/resource.h"
#include "wintest.h"

// This program's import of WriteFile, which the log's writes go through.
#ifdef _WIN64
extern "C" void *importedWriteFile __asm__("__imp_WriteFile");
#else
extern "C" void *importedWriteFile __asm__("__imp__WriteFile@20");
#endif

namespace {

constexpr UINT LONG_TEXT = 20001;     // 300 characters
constexpr UINT TWO_LINES = 20002;
constexpr UINT MISSING = 10050;       // a number the table does not use

// The program's own bounded formatter: every conversion it knows, and the
// texts that just fit and just do not.
TEST(FormatText, ConvertsWhatTheProgramUsesAndRefusesWhatDoesNotFit)
{
    char text[64];
    EXPECT_EQ(1, FormatText(text, sizeof text, "%s\\%s", "C:\\Program Files", "tarnlink.exe"));
    EXPECT_STREQ("C:\\Program Files\\tarnlink.exe", text);
    EXPECT_EQ(1, FormatText(text, sizeof text, "%u|%u|%d|%d", 0u, 4294967295u, -2147483647 - 1,
                            42));
    EXPECT_STREQ("0|4294967295|-2147483648|42", text);
    EXPECT_EQ(1, FormatText(text, sizeof text, "%.3s|%.10s|%.0s|%%|", "abcdef", "ab", "ab"));
    EXPECT_STREQ("abc|ab||%|", text);

    // Exactly full (size - 1 characters) fits; one more empties the buffer.
    char small[8];
    EXPECT_EQ(1, FormatText(small, sizeof small, "%s%u", "abcdef", 9u));
    EXPECT_STREQ("abcdef9", small);
    EXPECT_EQ(0, FormatText(small, sizeof small, "%s%u", "abcdef", 10u));
    EXPECT_STREQ("", small);
    EXPECT_EQ(0, FormatText(small, sizeof small, "abcdefgh"));
    EXPECT_STREQ("", small);
    EXPECT_EQ(0, FormatText(small, 0, "x"));

    // A conversion it does not know is refused, not guessed at.
    for (const char *format : {"%s %f", "%s %x", "%s %5u", "%s %lld", "%s %.3u", "%s %",
                               "%s %.5%", "%s %.*s"}) {
        strcpy(text, "old");
        EXPECT_EQ(0, FormatText(text, sizeof text, format, "a", 1)) << format;
        EXPECT_STREQ("", text) << format;
    }
}

// Copy and append into 8 bytes: 7 characters fit, 8 are refused, and the
// byte after the buffer ('#') is never written.
TEST(CopyText, SevenOfEightFitEightAreRefused)
{
    const struct {
        const char *start, *added;
        int copied, appended;
        const char *afterCopy, *afterAppend;
    } cases[] = {
        {"", "abcdefg", 1, 1, "abcdefg", "abcdefg"},
        {"", "abcdefgh", 0, 0, "", ""},
        {"abc", "defg", 1, 1, "defg", "abcdefg"},
        {"abc", "defgh", 1, 0, "defgh", "abc"},
        {"abcdefg", "", 1, 1, "", "abcdefg"},
    };
    for (const auto &c : cases) {
        char text[9];
        memset(text, '#', sizeof text);
        strcpy(text, c.start);
        EXPECT_EQ(c.appended, AppendText(text, 8, c.added)) << c.start << "+" << c.added;
        EXPECT_STREQ(c.afterAppend, text);
        EXPECT_EQ('#', text[8]);
        memset(text, '#', sizeof text);
        strcpy(text, "old");
        EXPECT_EQ(c.copied, CopyText(text, 8, c.added)) << c.added;
        EXPECT_STREQ(c.afterCopy, text);
        EXPECT_EQ('#', text[8]);
    }
    // A buffer with no terminator in it takes nothing more.
    char full[9] = "abcdefgh";
    EXPECT_EQ(0, AppendText(full, 8, ""));
    EXPECT_EQ(0, CopyText(full, 0, ""));
}

// A text whole, cut to the buffer, none at all into no buffer, and the
// fallback for a number the table does not use, cut too.
TEST(LoadMessageString, LoadsTextsCutToTheBufferOrTheFallback)
{
    const struct {
        UINT id;
        size_t size;
        int loaded;
        const char *text;
    } cases[] = {
        {IDS_COPYFAILED, 1024, 1, "Copy of %1!s! to %2!s! failed. (%3!u!)"},
        {IDS_REMOVINGFROM, 1024, 1, "\nRemoving installation of %1!s! from %2!s!"},
        {IDS_TITLE, 0, 0, "intact"},
        {MISSING, 1024, 0, "10050 DEBUG - Unable to load string"},
        {MISSING, 16, 0, "10050 DEBUG - U"},
    };
    for (const auto &c : cases) {
        char text[1024] = "intact";
        EXPECT_EQ(c.loaded, LoadMessageString(c.id, text, c.size)) << c.id << " " << c.size;
        EXPECT_STREQ(c.text, text) << c.id << " " << c.size;
    }
    char small[256];
    EXPECT_EQ(1, LoadMessageString(LONG_TEXT, small, sizeof small));
    EXPECT_EQ(255u, strlen(small));
    EXPECT_EQ(0, strncmp(small, "0123456789", 10));
}

TEST(FormatMessageText, ExpandsTextAndNumberInserts)
{
    char out[256];
    EXPECT_EQ(1, FormatMessageText(out, sizeof out, "Copy of %1!s! to %2!s! failed. (%3!u!)",
                                   "C:\\TEMP\\tarnlink.exe", "C:\\Program Files\\Tarnlink", 5u));
    EXPECT_STREQ("Copy of C:\\TEMP\\tarnlink.exe to C:\\Program Files\\Tarnlink failed. (5)", out);

    // Inserts may stand in any order, and line feeds pass through.
    EXPECT_EQ(1, FormatMessageText(out, sizeof out, "NT %2!u!.\n%1!s!", "x", 50u));
    EXPECT_STREQ("NT 50.\nx", out);
}

TEST(FormatMessageText, LongResultIsCutToTheBufferAndReported)
{
    char out[17];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(0, FormatMessageText(out, 16, "Creation of %1!s! failed. (%2!u!)",
                                   "C:\\a\\very\\long\\path", 5u));
    EXPECT_STREQ("Creation of C:\\", out);
    // 15 characters fit whole; 16 are cut, and the byte after the buffer stays.
    for (const char *insert : {"0123456789abcde", "0123456789abcdef"}) {
        memset(out, 'x', sizeof out);
        EXPECT_EQ(strlen(insert) < 16 ? 1 : 0, FormatMessageText(out, 16, "%1!s!", insert));
        EXPECT_EQ(std::string(insert).substr(0, 15), out);
        EXPECT_EQ('x', out[16]);
    }
}

TEST(BuildMessage, MissingTemplateIsShownUnexpanded)
{
    char out[512];
    BuildMessage(out, sizeof out, MISSING, "ignored");
    EXPECT_STREQ("10050 DEBUG - Unable to load string", out);
    BuildMessage(out, sizeof out, IDS_OLDNT, 3u, 50u);
    EXPECT_STREQ("Sorry, but this application currently requires\nNT 3.51 or later or Windows 95.\n"
                 "You are running NT 3.50.",
                 out);
}

// A group is a folder of the Start Menu: one name, no device, nothing the
// Program Manager's commands cannot carry.
TEST(GroupNames, OnlyWhatCanBeOneFolderIsAGroup)
{
    for (const char *name : {"Tarnlink Suite", "Net, Tools (beta)", "CONSOLE", "COM0", "LPT10",
                             "COMA", "nulls", "a.b", ".hidden", " leading"})
        EXPECT_TRUE(IsUsableGroupName(name)) << name;
    for (const char *name : {"", "CON", "con", "Nul.txt", "prn.", "AUX", "COM1", "lpt9.log", ".",
                             "..", "Tools.", "Tools ", "a\\b", "a/b", "a:b", "a*b", "a?b", "a<b",
                             "a>b", "a|b", "Say \"hi\"", "[x]", "Tab\tName", "Del\x7fName"})
        EXPECT_FALSE(IsUsableGroupName(name)) << name;
}

class SetupLog : public testing::Test {
protected:
    void SetUp() override
    {
        directory = ScratchDirectory("log");
        GetCurrentDirectoryA(sizeof previous, previous);
        SetCurrentDirectoryA(directory.c_str());
        session.logEnabled = 1;
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(previous);
        session.logEnabled = 0;
        DeleteTree(directory);
    }
    std::string directory;
    char previous[MAX_PATH];
};

TEST_F(SetupLog, WritesCrLfLinesAndAppendsAcrossRuns)
{
    char text[256];
    BuildMessage(text, sizeof text, TWO_LINES);
    LogLine("Creating group");
    LogLine(text);
    EXPECT_EQ("Creating group\r\nfirst line\r\nsecond line\r\n",
              ReadFileBytes(directory + "\\setup.log"));

    // A later run appends after what is there.
    LogLine("Installation successful!");
    std::vector<std::string> lines = ReadLogLines(directory + "\\setup.log");
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("Installation successful!", lines[3]);
}

// Records the size of every write while it lives.
struct WriteSizes {
    WriteSizes()
    {
        real = importedWriteFile;
        sizes.clear();
        Point((void *)&Record);
    }
    ~WriteSizes() { Point(real); }
    static BOOL WINAPI Record(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written,
                              LPOVERLAPPED overlapped)
    {
        sizes.push_back(size);
        return ((decltype(&WriteFile))real)(file, bytes, size, written, overlapped);
    }
    static void Point(void *to)
    {
        DWORD old;
        VirtualProtect(&importedWriteFile, sizeof importedWriteFile, PAGE_READWRITE, &old);
        importedWriteFile = to;
        VirtualProtect(&importedWriteFile, sizeof importedWriteFile, old, &old);
    }
    static std::vector<DWORD> sizes;
    static void *real;
};
std::vector<DWORD> WriteSizes::sizes;
void *WriteSizes::real;

// Lines longer than one write, line feeds and CRs falling on every position
// of the write boundary: each byte is kept, each LF stored as CR LF, and no
// write is longer than the 1024 bytes the log writes at a time.
TEST_F(SetupLog, LongLinesKeepEveryByte)
{
    std::string pattern;
    for (int i = 0; i < 1500; i++)
        pattern += i % 3 == 0 ? '\n' : i % 7 == 0 ? '\r' : (char)('a' + i % 26);
    const std::string texts[] = {pattern, std::string(1022, 'a') + "\nb",
                                 std::string(1023, 'a') + "\nb", std::string(1024, 'a') + "\nb",
                                 std::string(1023, 'a'), "one write", ""};
    for (const std::string &text : texts) {
        DeleteFileA((directory + "\\setup.log").c_str());
        std::string expected;
        for (char c : text)
            expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
        {
            WriteSizes watch;
            LogLine(text.c_str());
        }
        const std::vector<DWORD> &sizes = WriteSizes::sizes;
        EXPECT_EQ(expected + "\r\n", ReadFileBytes(directory + "\\setup.log")) << text.size();
        DWORD total = 0;
        for (DWORD size : sizes) {
            EXPECT_LE(size, 1024u) << text.size();
            total += size;
        }
        EXPECT_EQ(expected.size() + 2, total);
        // A line of a usual message goes out in one write.
        EXPECT_TRUE(text.size() > 1000 || sizes.size() == 1) << text.size();
    }
}

TEST_F(SetupLog, NothingIsWrittenWhenLoggingIsOff)
{
    session.logEnabled = 0;
    LogLine("not logged");
    EXPECT_FALSE(FileExists(directory + "\\setup.log"));
}

// What stands under the log's name may be no plain file of its own: a
// directory, a second name of a file elsewhere (a hard link), a link to a
// file that is not there yet. Nothing is written through it, and logging
// stays off for the rest of the run, even once a log could be made.
TEST_F(SetupLog, LogThatIsNoPlainFileOfItsOwnTurnsLoggingOff)
{
    std::string log = directory + "\\setup.log";
    std::string target = ScratchDirectory("log-target") + "\\important.txt";
    const struct {
        const char *what;
        std::function<bool()> plant;
        std::function<void()> remove;
    } cases[] = {
        {"directory", [&] { return CreateDirectoryA(log.c_str(), nullptr) != 0; },
         [&] { RemoveDirectoryA(log.c_str()); }},
        {"hard link",
         [&] {
             WriteFileBytes(target, "keep");
             return CreateHardLinkA(log.c_str(), target.c_str(), nullptr) != 0;
         },
         [&] { DeleteFileA(log.c_str()); }},
        {"link to nothing",
         [&] {
             DeleteFileA(target.c_str());
             RemoveHostLink(log);
             return MakeHostLink(target, log);
         },
         [&] { RemoveHostLink(log); }},
    };
    for (const auto &c : cases) {
        session.logEnabled = 1;
        ASSERT_TRUE(c.plant()) << c.what;
        LogLine("lost");
        EXPECT_EQ(0, session.logEnabled) << c.what;
        EXPECT_EQ(std::string(c.what) == "hard link" ? "keep" : "", ReadFileBytes(target)) << c.what;
        c.remove();
        LogLine("still lost");
        EXPECT_FALSE(FileExists(log)) << c.what;
    }
    EXPECT_FALSE(FileExists(target));
    DeleteTree("C:\\tltest\\log-target");
}

TEST_F(SetupLog, ReportMessageLogsAndStaysSilentWhenQuiet)
{
    session.quiet = 1;
    EXPECT_EQ(0, ReportMessage(nullptr, "Install", MB_OK, IDS_CREATEFAILED, "C:\\x", 5u));
    session.quiet = 0;
    std::vector<std::string> lines = ReadLogLines(directory + "\\setup.log");
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("Creation of C:\\x failed. (5)", lines[0]);
}

HWND MakePopup(int width, int height)
{
    return CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 5, 5, width, height, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

TEST(CenterWindow, CentresAndPinsToTheTopLeft)
{
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    int width = desktop.right, height = desktop.bottom;

    HWND window = MakePopup(101, 51);
    CenterWindow(window, 0);
    RECT box;
    GetWindowRect(window, &box);
    EXPECT_EQ(width / 2 - 101 / 2, box.left);
    EXPECT_EQ(height / 2 - 51 / 2, box.top);
    EXPECT_EQ(101, box.right - box.left);
    EXPECT_EQ(51, box.bottom - box.top);

    CenterWindow(window, 7);
    GetWindowRect(window, &box);
    EXPECT_EQ(height / 2 - 51 / 2 + 7, box.top);
    DestroyWindow(window);

    // Taller than the desktop by 40 pixels: the top is pinned at 0.
    window = MakePopup(100, height + 40);
    CenterWindow(window, 0);
    GetWindowRect(window, &box);
    EXPECT_EQ(0, box.top);
    EXPECT_EQ(width / 2 - 50, box.left);
    DestroyWindow(window);
}

} // namespace
