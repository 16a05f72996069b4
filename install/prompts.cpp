#include "prompts.h"

#include <commdlg.h>
#include <stddef.h>
#include <string.h>

#include "../base/messages.h"
#include "../base/names.h"
#include "../base/product.h"
#include "../base/session.h"
#include "../base/system.h"
#include "../base/text.h"
#include "../payload/table.h"
#include "../progman/progman.h"
#include "../resources/resource.h"

char promptText[256];
char directoryText[256];
char browseResult[260];
char browseFileName[256];
char promptTitle[256];


// The browser's structure without the later extension fields, as the
// platforms this program supports know it: OPENFILENAME_SIZE_VERSION_400A,
// spelt so that it is a constant (76 bytes on 32-bit Windows).
constexpr DWORD OLD_OPENFILENAME_SIZE = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(OLD_OPENFILENAME_SIZE < sizeof(OPENFILENAMEA), "old-style OPENFILENAMEA");

static INT_PTR CALLBACK InstallModeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
static INT_PTR CALLBACK AskDirectoryDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
static INT_PTR CALLBACK AskGroupDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
static UINT_PTR CALLBACK BrowseHookProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
static int BrowseForDirectory(HWND owner, const char *fileName, const char *initialDir, char *result);

// The name that selects the source-directory template of the browser.
const char PRIMARY_FILE[] = "Tarnlink.exe";

// A quiet run shows no dialog, and leaves every one; -1 when the dialog
// cannot be made at all.
static int RunDialog(HINSTANCE instance, const char *name, HWND owner, DLGPROC procedure)
{
    if (session.quiet)
        return 0;
    return (int)DialogBoxParamA(instance, name, owner, procedure, 0);
}

// Every word to a dialog's control goes through here, so the program needs
// none of the dialog-item shorthands of the window functions.
static LRESULT SendItem(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendMessageA(GetDlgItem(dialog, id), message, wParam, lParam);
}

static void SetItemText(HWND dialog, int id, const char *text)
{
    SendItem(dialog, id, WM_SETTEXT, 0, (LPARAM)text);
}

// Reads a control's text only when all of it fits; a longer text is refused
// rather than cut into a different name.
static int ReadItemText(HWND dialog, int id, char *buffer, size_t size)
{
    if ((size_t)SendItem(dialog, id, WM_GETTEXTLENGTH, 0, 0) >= size) {
        MessageBeep(MB_ICONEXCLAMATION);
        return 0;
    }
    SendItem(dialog, id, WM_GETTEXT, size, (LPARAM)buffer);
    return 1;
}

static int EndsWithBackslash(const char *text)
{
    size_t length = strlen(text);
    return length > 0 && text[length - 1] == '\\';
}

int ChooseInstallMode(HWND owner, HINSTANCE instance)
{
    if (session.installRequested)
        return 1;
    if (session.removeRequested)
        return 2;
    return RunDialog(instance, "DLG_INSTALL", owner, InstallModeDlgProc);
}

static void InitInstallMode(HWND dialog)
{
    CenterWindow(dialog, 0);
    char text[MESSAGE_SIZE];
    BuildMessage(text, sizeof text, IDS_INSTALLCHOICE, PRODUCT_NAME);
    SetItemText(dialog, IDC_INSTALLCHOICE, text);
    BuildMessage(text, sizeof text, IDS_REMOVECHOICE, PRODUCT_NAME);
    SetItemText(dialog, IDC_REMOVECHOICE, text);
    SendItem(dialog, IDC_INSTALLCHOICE, BM_SETCHECK, BST_CHECKED, 0);
    // Removal is offered only when a prior installation is recorded.
    char directory[256];
    GetProfileStringA(PRODUCT_NAME, DIR_RECORD, "", directory, sizeof directory);
    EnableWindow(GetDlgItem(dialog, IDC_REMOVECHOICE), directory[0] != '\0');
}

static int ChosenMode(HWND dialog)
{
    if (SendItem(dialog, IDC_INSTALLCHOICE, BM_GETCHECK, 0, 0) == BST_CHECKED)
        return 1;
    if (SendItem(dialog, IDC_REMOVECHOICE, BM_GETCHECK, 0, 0) == BST_CHECKED)
        return 2;
    return 0;
}

static INT_PTR CALLBACK InstallModeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitInstallMode(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(dialog, ChosenMode(dialog));
            return TRUE;
        case IDCANCEL:   // Exit, or the close box
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

// Looks for the file, then for its compressed name (last character "_"),
// in the directory `path` of length `length`; `path` is cut back after.
// With no directory the plain name is not looked for, but the compressed one
// is, in the current directory.
static int HoldsPrimaryFile(char *path, size_t size, size_t length, const char *fileName)
{
    int found = 0;
    if (fileName[0] != '\0' && AppendText(path, size, fileName)) {
        found = length != 0 && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
        if (!found) {
            path[strlen(path) - 1] = '_';
            found = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
        }
    }
    path[length] = '\0';
    return found;
}

int LocateSourceDirectory(HINSTANCE instance, HWND owner, char *directory, size_t size,
                          const char *fileName)
{
    char path[PATH_SIZE];
    if (!CopyText(path, sizeof path, directory))
        path[0] = '\0';
    if (path[0] != '\0' && !EndsWithBackslash(path) && !AppendText(path, sizeof path, "\\"))
        path[0] = '\0';
    LoadMessageString(IDS_SOURCEDIR, promptTitle, sizeof promptTitle);
    while (!HoldsPrimaryFile(path, sizeof path, strlen(path), fileName)) {
        char prompt[MESSAGE_SIZE];
        CopyText(browseFileName, sizeof browseFileName, fileName);
        LoadMessageString(IDS_LOCATESOURCE, prompt, sizeof prompt);
        if (!AskDirectory(owner, instance, prompt, path, path, sizeof path))
            return 0;
        // The prompt's text is at most 255 characters: the backslash fits.
        if (path[0] != '\0' && !EndsWithBackslash(path))
            AppendText(path, sizeof path, "\\");
    }
    return CopyText(directory, size, path);
}

int AskDestinationDirectory(HINSTANCE instance, HWND owner, char *directory, size_t size)
{
    char prompt[MESSAGE_SIZE];
    char caption[256];
    LoadMessageString(IDS_PROGRAMDIR, promptTitle, sizeof promptTitle);
    CopyText(browseFileName, sizeof browseFileName, "a");
    LoadMessageString(IDS_ENTERDEST, prompt, sizeof prompt);
    for (;;) {
        if (!AskDirectory(owner, instance, prompt, directory, directory, size))
            return 0;
        // Only a drive or UNC path is taken; the prompt comes back as for a
        // name that is too long.
        if (!IsAbsolutePath(directory)) {
            MessageBeep(MB_ICONEXCLAMATION);
            continue;
        }
        if (CreateDirectoryPath(directory))
            return 1;
        LoadMessageString(IDS_OSTRIVANE, caption, sizeof caption);
        ReportMessage(owner, caption, MB_ICONERROR, IDS_DESTFAILED);
    }
}

int AskDirectory(HWND owner, HINSTANCE instance, const char *prompt, const char *initial,
                 char *result, size_t resultSize)
{
    // Nobody answers in a quiet run: the prompt is left as if cancelled.
    if (session.quiet) {
        LogLine(prompt);
        return 0;
    }
    CopyText(promptText, sizeof promptText, prompt);
    // A longer directory is not offered cut short: the prompt starts empty.
    CopyText(directoryText, sizeof directoryText, initial);
    int answer = RunDialog(instance, "DLG_GETDIR", owner, AskDirectoryDlgProc);
    // A prompt that cannot be made counts as cancelled.
    if (answer <= 0)
        return 0;
    // A result too small for the answer is left as it was.
    if (strlen(directoryText) >= resultSize)
        return 0;
    CopyText(result, resultSize, directoryText);
    return answer;
}

static void InitDirectoryPrompt(HWND dialog)
{
    CenterWindow(dialog, 0);
    SetItemText(dialog, IDC_PROMPT, promptText);
    // Nothing longer than the prompt's fields hold can be typed.
    SendItem(dialog, IDC_DIRECTORY, EM_LIMITTEXT, sizeof directoryText - 1, 0);
    SetItemText(dialog, IDC_DIRECTORY, directoryText);
    if (promptTitle[0] != '\0')
        SetWindowTextA(dialog, promptTitle);
}

static void BrowseFromPrompt(HWND dialog)
{
    directoryText[0] = '\0';
    if (!ReadItemText(dialog, IDC_DIRECTORY, directoryText, sizeof directoryText))
        return;
    if (!BrowseForDirectory(dialog, browseFileName, directoryText, browseResult))
        return;
    if (strlen(browseResult) >= sizeof directoryText) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    SetItemText(dialog, IDC_DIRECTORY, browseResult);
}

static INT_PTR CALLBACK AskDirectoryDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDirectoryPrompt(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (ReadItemText(dialog, IDC_DIRECTORY, directoryText, sizeof directoryText))
                EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        case IDC_BROWSE:
            BrowseFromPrompt(dialog);
            return FALSE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

static int BrowseForDirectory(HWND owner, const char *fileName, const char *initialDir, char *result)
{
    constexpr size_t RESULT_SIZE = 260;
    // The name fills the hidden file-name edit, so OK ends the dialog
    // without the user picking a file.
    if (result != fileName && !CopyText(result, RESULT_SIZE, fileName))
        return 0;
    char allFiles[256];
    char filter[300];
    char title[256];
    LoadMessageString(IDS_ALLFILES, allFiles, sizeof allFiles);
    if (!FormatText(filter, sizeof filter, "%s (*.*)|*.*||", allFiles))
        return 0;
    for (char *c = filter; *c != '\0'; c++) {
        if (*c == '|')
            *c = '\0';
    }
    LoadMessageString(IDS_LOCATE, title, sizeof title);

    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = OLD_OPENFILENAME_SIZE;
    dialog.hwndOwner = owner;
    dialog.hInstance = session.instance;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = result;
    dialog.nMaxFile = RESULT_SIZE;
    dialog.lpstrInitialDir = initialDir;
    dialog.lpstrTitle = title;
    // No OFN_NOCHANGEDIR: the current directory, and the setup log in it,
    // follow the user's browsing.
    dialog.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE;
    dialog.lpfnHook = BrowseHookProc;
    dialog.lpTemplateName = SameText(fileName, PRIMARY_FILE) ? "DLG_GETSRCDIR" : "DLG_BROWSE";
    // COMDLG32 is not one of the DLLs Windows always takes from its own
    // directory: it is loaded by its full path there.
    typedef BOOL(WINAPI * GetOpenFileNameProc)(OPENFILENAMEA *);
    HMODULE library = LoadSystemLibrary("COMDLG32.DLL");
    GetOpenFileNameProc openFileName =
        library != nullptr ? (GetOpenFileNameProc)(void *)GetProcAddress(library, "GetOpenFileNameA")
                           : nullptr;
    if (openFileName == nullptr) {
        ReportMessage(owner, title, MB_ICONERROR, IDS_NOSYSTEMFILE, "COMDLG32.DLL",
                      (unsigned)GetLastError());
        return 0;
    }
    BOOL chosen = openFileName(&dialog);
    if (chosen) {
        // Keep the directory: C:\Tarnlink\a gives C:\Tarnlink, a file in a
        // drive's root gives C:.
        char *slash = strrchr(result, '\\');
        if (slash != nullptr)
            *slash = '\0';
    }
    return chosen;
}

// Command 1280 is the old file dialog's own refresh request; none of our
// controls carries it.
static void PostRefresh(HWND dialog, LPARAM lParam)
{
    PostMessageA(dialog, WM_COMMAND, 1280, lParam);
}

static UINT_PTR CALLBACK BrowseHookProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    constexpr int DIRECTORY_LIST = 1121;
    constexpr int DRIVE_COMBO = 1137;
    switch (message) {
    case WM_INITDIALOG:
        // The source template has no such control: nothing changes there.
        SetItemText(dialog, IDC_BROWSEPROMPT, promptText);
        PostRefresh(dialog, 0);
        break;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        int code = HIWORD(wParam);
        if (id == IDOK || id == IDCANCEL || id == 3)
            PostRefresh(dialog, 0);
        else if (id == DIRECTORY_LIST && code == LBN_DBLCLK)
            PostRefresh(dialog, 0);
        else if (id == DRIVE_COMBO && code == CBN_SELCHANGE)
            PostRefresh(dialog, 1);
        else if (id == DRIVE_COMBO && code == CBN_CLOSEUP)
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(DRIVE_COMBO, CBN_SELCHANGE),
                         (LPARAM)GetDlgItem(dialog, DRIVE_COMBO));
        break;
    }
    }
    return 0;
}

int AskGroup(HWND owner, HINSTANCE instance)
{
    return RunDialog(instance, "DLG_GETGROUP", owner, AskGroupDlgProc) > 0;
}

int GroupFits(const char *name)
{
    // The shell may put the group in the user's Start Menu or in all users'.
    for (int i = 0; i < 2 * payloadCount; i++) {
        char link[MAX_PATH];
        const PayloadEntry &row = payloadTable[i / 2];
        if (row.makeItem &&
            ProgmanItemPath(i % 2, name, row.itemTitle, link, sizeof link) == OUTCOME_UNUSABLE)
            return 0;
    }
    return 1;
}

static void InitGroupPrompt(HWND dialog)
{
    CenterWindow(dialog, 0);
    HWND combo = GetDlgItem(dialog, IDC_GROUPLIST);
    // With no Program Manager the list stays empty; typing still works.
    ProgmanListGroups(combo);
    SendMessageA(combo, CB_LIMITTEXT, sizeof session.groupName - 1, 0);
    SetItemText(dialog, IDC_GROUPLIST, session.groupName);
}

// Takes the typed name unless it is too long or cannot be a group (an empty
// one stands for the default); a refused name leaves `groupName` as it was.
static void AcceptGroup(HWND dialog)
{
    char name[sizeof session.groupName];
    if (!ReadItemText(dialog, IDC_GROUPLIST, name, sizeof name))
        return;
    if (name[0] != '\0' && (!IsUsableGroupName(name) || !GroupFits(name))) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    CopyText(session.groupName, sizeof session.groupName, name);
    EndDialog(dialog, 1);
}

static INT_PTR CALLBACK AskGroupDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitGroupPrompt(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            AcceptGroup(dialog);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
