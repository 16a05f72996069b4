// The program entry: window class, backdrop window, switches, message loop.
#include <windows.h>

#include "../base/messages.h"
#include "../base/session.h"
#include "../payload/integrity.h"
#include "../resources/resource.h"
#include "mainwnd.h"

// The exit code when the payload table is empty and the run never starts.
constexpr int EXIT_NO_PAYLOAD = 3;
// The exit code of a run refused before it starts: another setup or
// uninstall is running, or this program is damaged.
constexpr int EXIT_REFUSED = 1;

// Before there is a window; a quiet run logs it only, and never waits.
static void ShowStartupFailure(UINT id)
{
    char text[512];
    LoadMessageString(id, text, sizeof text);
    LogLine(text);
    if (!session.quiet)
        MessageBoxA(nullptr, text, nullptr, MB_OK | MB_ICONWARNING);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    session.instance = instance;
    // The switches first: a quiet run shows nothing, not even a failure to start.
    ReadCommandLine(commandLine);

    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_NOCLOSE;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, "APP_MAIN");
    windowClass.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = CreateSolidBrush(RGB(0, 128, 128));
    windowClass.lpszClassName = "TLInstal";
    if (!RegisterClassA(&windowClass)) {
        ShowStartupFailure(IDS_REGISTERFAILED);
        return -1;
    }

    // Four fifths of the desktop, at least 600 x 400, centred and not clamped.
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    int width = (desktop.right - desktop.left) / 5 * 4;
    if (width < 600)
        width = 600;
    int height = (desktop.bottom - desktop.top) / 5 * 4;
    if (height < 400)
        height = 400;
    int left = (desktop.right - width) / 2;
    int top = (desktop.bottom - height) / 2;

    session.mainWindow = CreateWindowExA(0, "TLInstal", "Install",
                                         WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, left, top,
                                         width, height, nullptr, nullptr, instance, nullptr);
    if (session.mainWindow == nullptr) {
        ShowStartupFailure(IDS_CREATEWINFAILED);
        return 2;
    }

    if (SetInstallDefaults(payloadCount) == 0) {
        LogLine("Failed to read INF file.");
        DestroyWindow(session.mainWindow);
        return EXIT_NO_PAYLOAD;
    }

    // One setup or uninstall at a time: two would extract, copy, remove and
    // record over each other.
    if (!TakeRunLock(FALSE)) {
        ReportMessage(nullptr, session.title, MB_OK | MB_ICONERROR, IDS_ALREADYRUNNING);
        DestroyWindow(session.mainWindow);
        return EXIT_REFUSED;
    }
    // A damaged program would install damaged files: nothing is done at all.
    if (!PayloadIntact(instance)) {
        ReportMessage(nullptr, session.title, MB_OK | MB_ICONERROR, IDS_DAMAGED);
        DestroyWindow(session.mainWindow);
        return EXIT_REFUSED;
    }

    if (session.quiet) {
        if (!session.removeRequested)
            session.installRequested = 1;
        ShowWindow(session.mainWindow, SW_SHOWMINIMIZED);
    } else {
        ShowWindow(session.mainWindow, SW_SHOWNORMAL);
    }
    // Without the start command the loop would wait for good: one that
    // cannot be queued runs now.
    if (!PostMessageA(session.mainWindow, WM_COMMAND, IDM_START, 0))
        SendMessageA(session.mainWindow, WM_COMMAND, IDM_START, 0);

    MSG message;
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        if (session.activeDialog != nullptr && IsDialogMessageA(session.activeDialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // -1: the queue itself failed, and the run with it.
    if (got >= 0)
        return (int)message.wParam;
    LogLine("The message queue failed.");
    return EXIT_REFUSED;
}
