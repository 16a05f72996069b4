#include "copy.h"

#include <lzexpand.h>
#include <string.h>

#include "../base/messages.h"
#include "../base/product.h"
#include "../base/session.h"
#include "../base/system.h"
#include "../base/text.h"
#include "../resources/resource.h"
#include "extract.h"
#include "integrity.h"
#include "progress.h"

unsigned currentDisk;

// The system's error code of the last failed attempt, kept for the failure
// message: the prompts in between would change GetLastError.
static DWORD attemptError;

constexpr size_t STATUS_SIZE = 512;
constexpr size_t PROMPT_SIZE = 256;
// Room enough to name in a message a path too long to be used.
constexpr size_t SHOWN_SIZE = 1024;

// 1 when the file name (not the directories above it) ends in ".ini". The
// test respects letter case: ".INI" is not protected.
static int HasIniExtension(const char *path)
{
    // By characters: in a double-byte code page a trail byte may look like
    // a backslash.
    const char *name = path;
    for (const char *p = path; *p != '\0'; p = CharNextA(p))
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    const char *extension = nullptr;
    for (const char *p = name; *p != '\0'; p = CharNextA(p))
        if (*p == '.')
            extension = p;
    return extension != nullptr && extension[1] == 'i' && extension[2] == 'n' &&
           extension[3] == 'i' && extension[4] == '\0';
}

// 1 when the destination may be written: anything but an existing ".ini"
// file, which is replaced only when the user says so.
static int MayOverwrite(const char *destPath)
{
    if (!HasIniExtension(destPath) || GetFileAttributesA(destPath) == INVALID_FILE_ATTRIBUTES)
        return 1;
    char text[PROMPT_SIZE], caption[PROMPT_SIZE];
    BuildMessage(text, sizeof text, IDS_OVERWRITE, destPath);
    LoadMessageString(IDS_OVERWRITETITLE, caption, sizeof caption);
    return AskQuestion(session.mainWindow, text, caption, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

// Why a write to `file` fell short: a short write leaves no error behind,
// and one more byte at the end tells what stopped it.
static DWORD WriteFailure(HANDLE file)
{
    char probe = 0;
    DWORD put = 0;
    SetFilePointer(file, 0, nullptr, FILE_END);
    if (!WriteFile(file, &probe, 1, &put, nullptr))
        return GetLastError();
    return put == 1 ? ERROR_WRITE_FAULT : ERROR_DISK_FULL;
}

// LZ32 is not one of the DLLs Windows always takes from its own directory:
// it is loaded by its full path there when the copy first needs it.
typedef INT(WINAPI *LzInitProc)(INT);
typedef LONG(WINAPI *LzCopyProc)(INT, INT);
typedef void(WINAPI *LzCloseProc)(INT);
static LzInitProc lzInit;
static LzCopyProc lzCopy;
static LzCloseProc lzClose;

static int LoadExpander()
{
    if (lzClose != nullptr)
        return 1;
    HMODULE library = LoadSystemLibrary("LZ32.DLL");
    if (library == nullptr)
        return 0;
    lzInit = (LzInitProc)(void *)GetProcAddress(library, "LZInit");
    lzCopy = (LzCopyProc)(void *)GetProcAddress(library, "LZCopy");
    if (lzInit == nullptr || lzCopy == nullptr)
        return 0;
    lzClose = (LzCloseProc)(void *)GetProcAddress(library, "LZClose");
    return lzClose != nullptr;
}

// Opens the source, its underscore name first (`last` points at the path's
// last character, already an underscore; `kept` is the one it replaced).
// Through the file functions rather than LZ32's own open, which takes at
// most 128 characters; nobody may write the file while it is read.
static HANDLE OpenSource(char *sourcePath, char *last, char kept)
{
    HANDLE source = OpenForReading(sourcePath, 0);
    if (source == INVALID_HANDLE_VALUE) {
        *last = kept;
        source = OpenForReading(sourcePath, 0);
    }
    return source;
}

// `written` becomes 1 when the destination was written.
static int ExpandNamed(char *sourcePath, char *last, char kept, const char *destPath,
                       int &written)
{
    if (!MayOverwrite(destPath))
        return EXPAND_DONE;
    if (!LoadExpander()) {
        attemptError = GetLastError();
        return EXPAND_FAILED;
    }
    HANDLE file = OpenSource(sourcePath, last, kept);
    if (file == INVALID_HANDLE_VALUE) {
        attemptError = GetLastError();
        return EXPAND_NO_SOURCE;
    }
    // LZInit hands back the same handle for a file that is not compressed, so
    // the same copy serves both. Either way LZClose closes the file.
    INT source = lzInit((INT)(INT_PTR)file);
    if (source < 0) {
        CloseHandle(file);
        attemptError = ERROR_BAD_FORMAT;
        return EXPAND_FAILED;
    }
    // The destination is opened here, under its own name only. Nobody else
    // may read a half-written file.
    HANDLE dest = CreateFileA(destPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    int result = EXPAND_NO_DESTINATION;
    if (dest == INVALID_HANDLE_VALUE) {
        attemptError = GetLastError();
    } else {
        // LZCopy takes a plain file handle as the destination. An empty
        // result is a failure: no carried file is empty.
        SetLastError(ERROR_SUCCESS);
        LONG copied = lzCopy(source, (INT)(INT_PTR)dest);
        written = 1;
        if (copied > 0) {
            result = EXPAND_DONE;
        } else {
            attemptError = GetLastError();
            if (copied == LZERROR_WRITE && attemptError == ERROR_SUCCESS)
                attemptError = WriteFailure(dest);
            result = attemptError == ERROR_DISK_FULL || attemptError == ERROR_HANDLE_DISK_FULL
                         ? EXPAND_DISK_FULL
                         : EXPAND_FAILED;
        }
        if (!CloseHandle(dest) && result == EXPAND_DONE) {
            attemptError = GetLastError();
            result = EXPAND_FAILED;
        }
    }
    lzClose(source);
    return result;
}

static int Expand(char *sourcePath, const char *destPath, int &written)
{
    written = 0;
    if (SameText(sourcePath, destPath))
        return EXPAND_DONE;
    size_t length = strlen(sourcePath);
    if (length == 0) {
        attemptError = ERROR_FILE_NOT_FOUND;
        return EXPAND_NO_SOURCE;
    }
    // A compressed file is usually named with an underscore for its last
    // character; that name is tried first.
    char *last = sourcePath + length - 1;
    char kept = *last;
    *last = '_';
    int result = ExpandNamed(sourcePath, last, kept, destPath, written);
    // Whole again, so that a retry tries both names anew.
    *last = kept;
    return result;
}

int ExpandFile(char *sourcePath, const char *destPath)
{
    int written;
    return Expand(sourcePath, destPath, written);
}

// Expands the row's file and makes sure that a file of this run's own
// extraction is installed exactly as the program carries it: one replaced or
// damaged since the extraction is deleted, never left under the product's
// name. A directory the user named holds the user's choice: a file from there
// that differs is installed, and the log says so.
static int ExpandRow(const PayloadEntry &row, char *sourcePath, const char *destPath,
                     const char *sourceDir)
{
    int written;
    int result = Expand(sourcePath, destPath, written);
    if (result != EXPAND_DONE || !written || ExpandedFileIntact(row, destPath))
        return result;
    if (!SameText(sourceDir, ExtractionDirectory())) {
        char line[SHOWN_SIZE];
        FormatText(line, sizeof line, "%s differs from the file this setup program carries",
                   destPath);
        LogLine(line);
        return EXPAND_DONE;
    }
    DeleteFileA(destPath);
    attemptError = ERROR_CRC;
    return EXPAND_NOT_CARRIED;
}

// Logs and shows "Copying ..." with the whole paths, even one too long to use.
static void ShowCopying(const PayloadEntry &row, const char *sourceDir, const char *destDir,
                        HWND statusLine)
{
    char source[SHOWN_SIZE], dest[SHOWN_SIZE];
    JoinText(source, sizeof source, sourceDir, row.sourceName);
    JoinPath(dest, sizeof dest, destDir, row.destName);
    char text[STATUS_SIZE];
    BuildMessage(text, sizeof text, IDS_COPYING, source, dest);
    LogLine(text);
    ShowStatus(statusLine, text);
}

// Asks whether to try a failed file again; 1 for another attempt. A quiet
// run takes Cancel.
static int AskRetry(const PayloadEntry &row, int result, HWND owner)
{
    char text[PROMPT_SIZE];
    int answer;
    if (result == EXPAND_NO_DESTINATION) {
        BuildMessage(text, sizeof text, IDS_OPENDESTFAILED, row.destName);
        answer = AskQuestion(owner, text, nullptr, MB_RETRYCANCEL);
    } else if (result == EXPAND_DISK_FULL) {
        // Room may be made on the disk meanwhile.
        BuildMessage(text, sizeof text, IDS_DISKFULL, row.destName, (unsigned)attemptError);
        answer = AskQuestion(owner, text, nullptr, MB_RETRYCANCEL | MB_ICONERROR);
    } else {
        char caption[PROMPT_SIZE];
        BuildMessage(text, sizeof text, IDS_INSERTDISK, row.diskNumber, row.sourceName);
        LoadMessageString(IDS_CHANGEDISK, caption, sizeof caption);
        // Until a file has come from this disk, the user may still have to
        // insert it (OK); after that the only help is another try (Retry).
        UINT buttons = currentDisk != row.diskNumber ? MB_OKCANCEL : MB_RETRYCANCEL;
        answer = AskQuestion(owner, text, caption, buttons);
    }
    // A box that could not be shown counts as Cancel, or the loop would spin.
    return answer == IDRETRY || answer == IDOK;
}

int CopyPayloadFile(PayloadEntry &row, const char *sourceDir, const char *destDir, HWND owner,
                    HWND statusLine)
{
    char sourcePath[PATH_SIZE], destPath[PATH_SIZE];
    // A path that doesn't fit is never cut into another one: it fails as a
    // source that can't be opened, or a destination that can't be created.
    int sourceFits = JoinText(sourcePath, sizeof sourcePath, sourceDir, row.sourceName);
    int destFits = JoinPath(destPath, sizeof destPath, destDir, row.destName);

    ShowCopying(row, sourceDir, destDir, statusLine);
    // A click on Cancel is taken in here.
    PumpMessages();

    int existed = destFits && GetFileAttributesA(destPath) != INVALID_FILE_ATTRIBUTES;
    for (;;) {
        attemptError = ERROR_FILENAME_EXCED_RANGE;
        int result = !sourceFits ? EXPAND_NO_SOURCE
                     : !destFits ? EXPAND_NO_DESTINATION
                                 : ExpandRow(row, sourcePath, destPath, sourceDir);
        if (result == EXPAND_DONE) {
            currentDisk = row.diskNumber;
            row.state |= PAYLOAD_COPIED;
            return 0;
        }
        if (result == EXPAND_NOT_CARRIED) {
            // Another try would read the same file: no prompt, the reason.
            ReportMessage(owner, nullptr, MB_ICONERROR | MB_OK, IDS_NOTCARRIED, row.destName);
            break;
        }
        if (!AskRetry(row, result, owner))
            break;
    }
    // What a failed attempt left of a file that was not there before goes.
    if (destFits && !existed)
        DeleteFileA(destPath);
    PumpMessages();
    if (!row.required)
        return 0;
    // The error of the failed attempt, not whatever the prompts left behind.
    DWORD error = attemptError;
    char caption[PROMPT_SIZE];
    LoadMessageString(IDS_INSTALL, caption, sizeof caption);
    ReportMessage(owner, caption, MB_ICONERROR | MB_OK, IDS_COPYFAILED, row.sourceName, destDir,
                  (unsigned)error);
    return 1;
}

static const char *DestinationOf(const PayloadEntry &row, const char *programDir,
                                 const char *dataDir, const char *webDir)
{
    switch (row.destDirKind) {
    case DIR_DATA:
        return dataDir;
    case DIR_WEB:
        return webDir;
    default:
        return programDir;
    }
}

int CopyPayload(HINSTANCE instance, HWND owner, const char *sourceDir, const char *programDir,
                const char *dataDir, const char *webDir)
{
    // Without the system's expander no file can be copied: say why at once.
    if (!LoadExpander()) {
        char caption[PROMPT_SIZE];
        LoadMessageString(IDS_INSTALL, caption, sizeof caption);
        ReportMessage(owner, caption, MB_ICONERROR | MB_OK, IDS_NOSYSTEMFILE, "LZ32.DLL",
                      (unsigned)GetLastError());
        return 0;
    }
    HWND statusLine = OpenProgressWindow(instance, owner);
    char line[64];
    // LogLine adds a line feed of its own, so an empty line follows.
    FormatText(line, sizeof line, "installing %u files\n", (unsigned)payloadCount);
    LogLine(line);

    // The flag is looked at before each row only: the row under way when
    // Cancel is clicked, and the one whose pump takes the click in, complete.
    int failed = 0;
    for (int i = 0; i < payloadCount && !failed && !copyCancelled; ++i) {
        PayloadEntry &row = payloadTable[i];
        failed = CopyPayloadFile(row, sourceDir, DestinationOf(row, programDir, dataDir, webDir),
                                 owner, statusLine);
    }

    // A user who pressed Cancel is not told that the installation succeeded.
    int result = !failed && !copyCancelled;
    if (result) {
        char text[STATUS_SIZE];
        LoadMessageString(IDS_CREATINGICONS, text, sizeof text);
        ShowStatus(statusLine, text);
    }
    CloseProgressWindow(owner);
    return result;
}
