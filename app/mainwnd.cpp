#include "mainwnd.h"

#include "../base/session.h"
#include "../install/driver.h"
#include "../payload/extract.h"
#include "../resources/resource.h"

// The process's exit code: 0 when the run did what was asked, 1 when it did
// not. A window closed before the run has ended has not done it.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
static int runDone;

// Loaded at creation; either may stay null, and then it is not drawn.
static HBITMAP productPicture;
static HBITMAP makerLogo;

static void DrawPicture(HDC target, HDC memory, HBITMAP picture, int left, int top)
{
    BITMAP size;
    GetObjectA(picture, sizeof size, &size);
    HGDIOBJ previous = SelectObject(memory, picture);
    BitBlt(target, left, top, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
}

static LRESULT PaintMainWindow(HWND window)
{
    PAINTSTRUCT paint;
    HDC target = BeginPaint(window, &paint);
    if (target == nullptr)
        return 0;
    RECT client;
    GetClientRect(window, &client);
    // Without a memory context (the system is out of them) the backdrop
    // stays plain; the pictures come with the next paint.
    HDC memory = CreateCompatibleDC(target);
    if (memory == nullptr) {
        EndPaint(window, &paint);
        return 0;
    }
    if (productPicture != nullptr)
        DrawPicture(target, memory, productPicture, 10, 10);
    if (makerLogo != nullptr) {
        BITMAP size;
        GetObjectA(makerLogo, sizeof size, &size);
        // A client area smaller than the logo puts it at a negative place; the
        // platform clips it.
        DrawPicture(target, memory, makerLogo, client.right - size.bmWidth - 10,
                    client.bottom - size.bmHeight - 10);
    }
    DeleteDC(memory);
    EndPaint(window, &paint);
    return 0;
}

static void ReleaseProductPicture()
{
    if (productPicture != nullptr) {
        DeleteObject(productPicture);
        productPicture = nullptr;
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        makerLogo = LoadBitmapA(session.instance, "QVLOGO");
        productPicture = LoadBitmapA(session.instance, "TL_BMP");
        return 0;
    case WM_PAINT:
        return PaintMainWindow(window);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_START) {
            runDone = RunInstall(window) != 0;
            RemoveTempFiles();
            // A message that cannot be queued would leave the run waiting.
            if (!PostMessageA(window, WM_CLOSE, 0, 0))
                SendMessageA(window, WM_CLOSE, 0, 0);
        }
        return 0;
    case WM_CLOSE:
        if (window == session.mainWindow)
            PostQuitMessage(runDone ? EXIT_DONE : EXIT_FAILED);
        ReleaseProductPicture();
        break;
    case WM_DESTROY:
        ReleaseProductPicture();
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
