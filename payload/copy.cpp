#include "copy.h"

#include <lzexpand.h>
#include <string.h>

#include "../app/messages.h"
#include "../app/session.h"
#include "../app/text.h"
#include "../resources/resource.h"
#include "progress.h"

unsigned currentDisk;

constexpr size_t PATH_SIZE = 256;
constexpr size_t STATUS_SIZE = 512;
constexpr size_t PROMPT_SIZE = 256;
// Room enough to name in a message a path too long to be used.
constexpr size_t SHOWN_SIZE = 1024;
// The only LZOpenFileA result that counts as a failed open.
constexpr INT LZ_FAILED = -1;

// 1 when the destination may be written: anything but an existing ".ini"
// file, which is replaced only when the user says so.
static int MayOverwrite(const char *destPath)
{
    // The test respects letter case: ".INI" is not protected.
    if (strstr(destPath, ".ini") == nullptr ||
        GetFileAttributesA(destPath) == INVALID_FILE_ATTRIBUTES)
        return 1;
    char text[PROMPT_SIZE], caption[PROMPT_SIZE];
    BuildMessage(text, sizeof text, IDS_OVERWRITE, destPath);
    LoadMessageString(IDS_OVERWRITETITLE, caption, sizeof caption);
    return AskQuestion(session.mainWindow, text, caption, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

// `last` points at the source path's last character, already an underscore;
// `kept` is the character it replaced.
static int ExpandNamed(char *sourcePath, char *last, char kept, const char *destPath)
{
    if (!MayOverwrite(destPath))
        return EXPAND_DONE;
    // LZOpenFileA goes through OpenFile, whose OFSTRUCT holds 128 characters:
    // a longer path fails to open like a missing file.
    OFSTRUCT sourceInfo;
    INT source = LZOpenFileA(sourcePath, &sourceInfo, OF_READ);
    if (source == LZ_FAILED) {
        *last = kept;
        source = LZOpenFileA(sourcePath, &sourceInfo, OF_READ);
        if (source == LZ_FAILED)
            return EXPAND_NO_SOURCE;
    }
    int result = EXPAND_NO_DESTINATION;
    // LZOpenFileA takes a writable name.
    char destination[PATH_SIZE];
    OFSTRUCT destInfo;
    INT dest = CopyText(destination, sizeof destination, destPath)
                   ? LZOpenFileA(destination, &destInfo, OF_CREATE | OF_WRITE)
                   : LZ_FAILED;
    if (dest != LZ_FAILED) {
        // LZOpenFileA hands back a plain handle for a file that is not
        // compressed, so the same copy serves both. An empty result is a
        // failure: no carried file is empty.
        result = LZCopy(source, dest) > 0 ? EXPAND_DONE : EXPAND_FAILED;
        LZClose(dest);
    }
    LZClose(source);
    return result;
}

int ExpandFile(char *sourcePath, const char *destPath)
{
    if (SameText(sourcePath, destPath))
        return EXPAND_DONE;
    size_t length = strlen(sourcePath);
    if (length == 0)
        return EXPAND_NO_SOURCE;
    // A compressed file is usually named with an underscore for its last
    // character; that name is tried first.
    char *last = sourcePath + length - 1;
    char kept = *last;
    *last = '_';
    int result = ExpandNamed(sourcePath, last, kept, destPath);
    // Whole again, so that a retry tries both names anew.
    *last = kept;
    return result;
}

// Logs and shows "Copying ..." with the whole paths, even one too long to use.
static void ShowCopying(const PayloadEntry &row, const char *sourceDir, const char *destDir,
                        HWND statusLine)
{
    char source[SHOWN_SIZE], dest[SHOWN_SIZE];
    FormatText(source, sizeof source, "%s%s", sourceDir, row.sourceName);
    FormatText(dest, sizeof dest, "%s\\%s", destDir, row.destName);
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
    int sourceFits = FormatText(sourcePath, sizeof sourcePath, "%s%s", sourceDir, row.sourceName);
    int destFits = FormatText(destPath, sizeof destPath, "%s\\%s", destDir, row.destName);

    ShowCopying(row, sourceDir, destDir, statusLine);
    // A click on Cancel is taken in here.
    PumpMessages();

    for (;;) {
        int result = !sourceFits ? EXPAND_NO_SOURCE
                     : !destFits ? EXPAND_NO_DESTINATION
                                 : ExpandFile(sourcePath, destPath);
        if (result == EXPAND_DONE) {
            currentDisk = row.diskNumber;
            row.state |= PAYLOAD_COPIED;
            return 0;
        }
        if (!AskRetry(row, result, owner))
            break;
    }
    PumpMessages();
    if (!row.required)
        return 0;
    DWORD error = GetLastError();
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
