// The program as a user starts it: switches, the backdrop window, exit code.
#include <gtest/gtest.h>

#include <optional>

#include "base/session.h"
#include "payload/table.h"
#include "wintest.h"

namespace {

struct Flags {
    int install, remove, quiet, log;
};

Flags Read(const char *commandLine)
{
    session.installRequested = session.removeRequested = session.quiet = session.logEnabled = 0;
    ReadCommandLine(commandLine);
    Flags flags = {session.installRequested, session.removeRequested, session.quiet,
                   session.logEnabled};
    session.installRequested = session.removeRequested = session.quiet = session.logEnabled = 0;
    return flags;
}

#define EXPECT_FLAGS(line, i, r, q, l)                                   \
    do {                                                                 \
        Flags f = Read(line);                                            \
        EXPECT_EQ(i, f.install) << line;                                 \
        EXPECT_EQ(r, f.remove) << line;                                  \
        EXPECT_EQ(q, f.quiet) << line;                                   \
        EXPECT_EQ(l, f.log) << line;                                     \
    } while (0)

TEST(CommandLine, SwitchesAreFoundAnywhereCaseSensitively)
{
    EXPECT_FLAGS("", 0, 0, 0, 0);
    EXPECT_FLAGS("-q", 0, 0, 1, 0);
    EXPECT_FLAGS("-s -l", 0, 0, 1, 1);
    EXPECT_FLAGS("-q -r", 0, 1, 1, 0);
    // "-r" is looked at only when "-i" is absent.
    EXPECT_FLAGS("-r -i", 1, 0, 0, 0);
    EXPECT_FLAGS("-I -R -L -Q -S", 0, 0, 0, 0);
    // A longer word, or a path holding "-i", counts as the switch.
    EXPECT_FLAGS("-remove", 0, 1, 0, 0);
    EXPECT_FLAGS("C:\\my-install\\files -r", 1, 0, 0, 0);
    EXPECT_FLAGS("/x-lazy", 0, 0, 0, 1);
}

TEST(CommandLine, InstallQuietSwitchesStopTheSearch)
{
    EXPECT_FLAGS("-installsi -l", 1, 0, 1, 0);
    EXPECT_FLAGS("-l -r -installqu", 1, 0, 1, 0);
}

TEST(SetInstallDefaults, FillsTheFixedDefaults)
{
    EXPECT_EQ(7, SetInstallDefaults(payloadCount));
    EXPECT_STREQ("Tarnlink Suite Install", session.title);
    EXPECT_STREQ("Tarnlink Suite", session.groupName);
    EXPECT_STREQ("C:\\Program Files\\Tarnlink", session.defaultDirProgramFiles);
    EXPECT_STREQ("C:\\WIN32APP\\Tarnlink", session.defaultDirWin32App);
    EXPECT_STREQ("C:\\Tarnlink", session.defaultDirRoot);
}

// Runs the program quietly and logged where the test looks, with a
// temporary directory that does not exist: the run ends at the extraction or
// the removal, and the log tells which way the switches sent it.
class QuietRun : public testing::Test {
protected:
    void SetUp() override
    {
        ResetMachineState();
        directory = ScratchDirectory("switches");
        // After the reset, which clears the temporary directory TMP names.
        tmp.emplace("TMP", "C:\\tltest\\no-such-temp");
    }
    void TearDown() override
    {
        tmp.reset();
        DeleteTree(directory);
    }
    std::vector<std::string> Run(const std::string &arguments)
    {
        DeleteFileA((directory + "\\setup.log").c_str());
        Program program;
        EXPECT_TRUE(program.Start(BuildPath("setup.exe"), arguments, directory));
        // Nothing to extract into and nothing recorded: every run here fails.
        EXPECT_EQ(1, program.Wait(20000)) << arguments;
        return ReadLogLines(directory + "\\setup.log");
    }
    std::string directory;
    std::optional<ScopedVariable> tmp;
};

const char EXTRACTION_FAILED[] = "File extraction to temporary directory failed.";
const char NOTHING_TO_REMOVE[] = "Insufficient information available to";

TEST_F(QuietRun, SwitchesChooseTheModeAndTheLog)
{
    // The install ends at the extraction, the removal at its start.
    const struct {
        const char *arguments;
        bool removal;
    } runs[] = {{"-q -l", false}, {"-s -l -r", true}, {"-q -l -r -i", false},
                {"-q -l C:\\my-install\\x -r", false}};
    for (const auto &r : runs) {
        std::vector<std::string> lines = Run(r.arguments);
        ASSERT_FALSE(lines.empty()) << r.arguments;
        EXPECT_EQ(r.removal ? NOTHING_TO_REMOVE : EXTRACTION_FAILED,
                  r.removal ? lines[0] : lines.back()) << r.arguments;
    }

    // Quiet, but nothing after "-installsi" is looked at: no log.
    EXPECT_TRUE(Run("-installsi -l").empty());
    EXPECT_FALSE(FileExists(directory + "\\setup.log"));

    // A program that lacks the files it should carry does nothing at all.
    Program empty;
    ASSERT_TRUE(empty.Start(BuildPath("setup-empty.exe"), "-q -l", directory));
    EXPECT_EQ(1, empty.Wait(20000));
    EXPECT_EQ(std::vector<std::string>{"The setup program is damaged. Please obtain a new copy of it."},
              ReadLogLines(directory + "\\setup.log"));
}

// The program with the mode prompt up: the backdrop stays while it waits.
class Backdrop : public testing::Test {
protected:
    void SetUp() override { ResetMachineState(); }
    HWND Start(Program &program, const std::string &arguments = std::string())
    {
        EXPECT_TRUE(program.Start(BuildPath("setup.exe"), arguments));
        prompt = WaitForDialog(program.pid, "Install", 15000);
        return FindTopWindow(program.pid, "TLInstal", nullptr);
    }
    void Leave(Program &program)
    {
        ASSERT_NE(nullptr, prompt);
        PressButton(prompt, IDCANCEL);
        EXPECT_EQ(0, program.Wait(15000));
    }
    HWND prompt = nullptr;
};

// The window while the prompt waits, and Exit there ends the program with 0.
TEST_F(Backdrop, WindowHasItsClassStylesAndPlaceAndExitEndsWithZero)
{
    Program program;
    HWND window = Start(program);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ("Tarnlink Suite Install", WindowText(window));

    LONG style = GetWindowLongA(window, GWL_STYLE);
    // Disabled while it owns the modal prompt.
    EXPECT_EQ(WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
              style & ~(WS_VISIBLE | WS_CLIPSIBLINGS | WS_DISABLED));
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    DWORD classStyle = GetClassLongA(window, GCL_STYLE);
    EXPECT_EQ((DWORD)(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_NOCLOSE), classStyle);

    // 800 x 600 desktop: 640 x 480 at (80, 60).
    RECT box;
    GetWindowRect(window, &box);
    EXPECT_EQ(80, box.left);
    EXPECT_EQ(60, box.top);
    EXPECT_EQ(640, box.right - box.left);
    EXPECT_EQ(480, box.bottom - box.top);
    Leave(program);
    EXPECT_EQ(nullptr, FindTopWindow(program.pid, "TLInstal", nullptr));
}

COLORREF PictureColour(const char *name, int x, int y, int *width, int *height)
{
    HBITMAP picture = LoadBitmapA(GetModuleHandleA(nullptr), name);
    BITMAP info;
    GetObjectA(picture, sizeof info, &info);
    *width = info.bmWidth;
    *height = info.bmHeight;
    HDC memory = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    HBITMAP converted = CreateCompatibleBitmap(screen, info.bmWidth, info.bmHeight);
    HDC source = CreateCompatibleDC(nullptr);
    HGDIOBJ oldSource = SelectObject(source, picture);
    HGDIOBJ oldMemory = SelectObject(memory, converted);
    BitBlt(memory, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
    COLORREF colour = GetPixel(memory, x, y);
    SelectObject(memory, oldMemory);
    SelectObject(source, oldSource);
    DeleteDC(source);
    DeleteDC(memory);
    DeleteObject(converted);
    DeleteObject(picture);
    ReleaseDC(nullptr, screen);
    return colour;
}

TEST_F(Backdrop, PicturesArePaintedAtTheirPlacesOnDarkCyan)
{
    Program program;
    HWND window = Start(program);
    ASSERT_NE(nullptr, window);
    // Move the prompt away from the pictures before reading the screen.
    SetWindowPos(prompt, nullptr, 700, 500, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    Sleep(300);

    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    HDC screen = GetDC(nullptr);
    auto at = [&](int x, int y) { return GetPixel(screen, origin.x + x, origin.y + y); };

    EXPECT_EQ(RGB(0, 128, 128), at(client.right / 2, client.bottom / 2));
    EXPECT_EQ(RGB(0, 128, 128), at(5, 5));

    int width, height;
    const POINT probes[] = {{0, 0}, {20, 20}, {84, 23}, {160, 40}};
    for (POINT p : probes) {
        COLORREF expected = PictureColour("TL_BMP", p.x, p.y, &width, &height);
        EXPECT_EQ(expected, at(10 + p.x, 10 + p.y)) << "TL_BMP " << p.x << "," << p.y;
    }
    EXPECT_EQ(168, width);
    EXPECT_EQ(47, height);
    EXPECT_EQ(RGB(0, 128, 128), at(10 + 168, 10 + 47));

    for (POINT p : probes) {
        COLORREF expected = PictureColour("QVLOGO", p.x % 115, p.y % 84, &width, &height);
        EXPECT_EQ(expected, at(client.right - 10 - 115 + p.x % 115,
                               client.bottom - 10 - 84 + p.y % 84))
            << "QVLOGO " << p.x << "," << p.y;
    }
    EXPECT_EQ(115, width);
    EXPECT_EQ(84, height);
    ReleaseDC(nullptr, screen);
    Leave(program);
}

TEST_F(Backdrop, QuietRunStartsMinimised)
{
    // The window is looked at while the quiet install runs; nothing holds it.
    Program program;
    ASSERT_TRUE(program.Start(BuildPath("setup.exe"), "-q"));
    HWND window = WaitForWindow(program.pid, "TLInstal", nullptr, 15000);
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(IsIconic(window));
    EXPECT_EQ(0, program.Wait(60000));
    ResetMachineState();
}

// Other desktop sizes: a Wine desktop of that size, with the program in it.
struct DesktopCase {
    int width, height, left, top, windowWidth, windowHeight;
};

struct DesktopWindows {
    HWND main = nullptr;
    HWND prompt = nullptr;
};

BOOL CALLBACK CollectWindows(HWND window, LPARAM data)
{
    DesktopWindows &found = *(DesktopWindows *)data;
    char name[64];
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, "TLInstal") == 0)
        found.main = window;
    else if (lstrcmpA(name, "#32770") == 0 && IsWindowVisible(window))
        found.prompt = window;
    return TRUE;
}

TEST(DesktopSize, WindowIsFourFifthsAtLeast600By400)
{
    // Wine 10 gives a desktop only a standard display mode no larger than the
    // X screen (800x600): 640x480 and then 800x600 are sizes both Wines make.
    const DesktopCase cases[] = {{640, 480, 20, 40, 600, 400}, {800, 600, 80, 60, 640, 480}};
    for (const DesktopCase &c : cases) {
        ResetMachineState();
        char desktopName[32], arguments[512];
        wsprintfA(desktopName, "tlsize%d", c.width);
        wsprintfA(arguments, "/desktop=%s,%dx%d \"%s\"", desktopName, c.width, c.height,
                  BuildPath("setup.exe").c_str());
        Program desktopProcess;
        ASSERT_TRUE(desktopProcess.Start("C:\\windows\\explorer.exe", arguments));
        DesktopWindows found;
        WaitUntil([&] {
            HDESK desktop = OpenDesktopA(desktopName, 0, FALSE,
                                         DESKTOP_ENUMERATE | DESKTOP_READOBJECTS);
            if (desktop == nullptr)
                return false;
            found = DesktopWindows();
            EnumDesktopWindows(desktop, CollectWindows, (LPARAM)&found);
            CloseDesktop(desktop);
            return found.main != nullptr && found.prompt != nullptr;
        }, 15000);
        ASSERT_NE(nullptr, found.main) << c.width;
        RECT box;
        GetWindowRect(found.main, &box);
        EXPECT_EQ(c.left, box.left) << c.width;
        EXPECT_EQ(c.top, box.top) << c.width;
        EXPECT_EQ(c.windowWidth, box.right - box.left) << c.width;
        EXPECT_EQ(c.windowHeight, box.bottom - box.top) << c.width;
        // Windows of another desktop take no posted input here: end the run.
        DWORD pid = 0;
        GetWindowThreadProcessId(found.main, &pid);
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (process != nullptr) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
}

} // namespace
