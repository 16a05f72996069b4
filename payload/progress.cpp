#include "progress.h"

#include "../base/messages.h"
#include "../base/session.h"
#include "../resources/resource.h"

int copyCancelled;

static INT_PTR CALLBACK CopyProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        CenterWindow(dialog, 0);
        copyCancelled = 0;
        return TRUE;
    case WM_COMMAND:
        // The dialog manager sends IDCANCEL for Escape and the close box as
        // well. The window stays: the copy closes it when it is done.
        if (LOWORD(wParam) == IDCANCEL) {
            copyCancelled = 1;
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

HWND OpenProgressWindow(HINSTANCE instance, HWND owner)
{
    session.activeDialog = nullptr;
    // A Cancel from an earlier window, or none at all when quiet, must not
    // stop this step.
    copyCancelled = 0;
    if (session.quiet)
        return nullptr;
    HWND dialog = CreateDialogParamA(instance, "DLG_COPY", owner, CopyProgressDlgProc, 0);
    if (dialog == nullptr)
        return nullptr;
    session.activeDialog = dialog;
    return GetDlgItem(dialog, IDC_STATUS);
}

void ShowStatus(HWND statusLine, const char *text)
{
    if (statusLine == nullptr)
        return;
    SetWindowTextA(statusLine, text);
    // Painted at once: the extraction pumps no messages at all, and a copy
    // pumps only between files.
    UpdateWindow(session.activeDialog);
}

void CloseProgressWindow(HWND owner)
{
    SetActiveWindow(owner);
    if (session.activeDialog != nullptr)
        DestroyWindow(session.activeDialog);
    session.activeDialog = nullptr;
}
