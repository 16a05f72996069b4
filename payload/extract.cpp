#include "extract.h"

#include <string.h>

#include "../base/messages.h"
#include "../base/product.h"
#include "../base/session.h"
#include "../base/system.h"
#include "../base/text.h"
#include "../resources/resource.h"
#include "integrity.h"
#include "progress.h"
#include "table.h"
#include "../base/tempdirs.h"

// Any temporary directory the system allows, with the run's own below it.
// Room enough to name in the log a path too long to be used.
constexpr size_t SHOWN_SIZE = 1024;
// The run's directories are "~tlNNNNN.tmp"; the uninstaller's copies run
// from "~rtNNNNN.tmp".

// The directory this run created and extracted into, ending in a backslash;
// empty before the extraction and after the clean-up. It is held, and so is
// its marker, until the clean-up.
static char extractDir[PATH_SIZE];
static HANDLE heldDir = INVALID_HANDLE_VALUE;
static HANDLE marker = INVALID_HANDLE_VALUE;

const char *ExtractionDirectory()
{
    return extractDir;
}

// A path too long for its buffer is reported like a file that can't be
// created, naming the whole path the user would look for.
static void LogUnusablePath(const char *directory, const char *fileName)
{
    char shown[SHOWN_SIZE];
    if (!JoinText(shown, sizeof shown, directory, fileName))
        CopyText(shown, sizeof shown, fileName);
    LogMessage(IDS_CREATEERROR, shown);
}

// Takes away what runs that were killed left in the temporary directory:
// the extracted files, by their packed bytes, and the uninstaller's copy, by
// the bytes it is installed with.
static void RemoveDeadRuns(const char *tempDir)
{
    RunFile files[PAYLOAD_ROWS];
    RemoveDeadRunDirectories(tempDir, RUN_PREFIX, files, CarriedRunFiles(files, PAYLOAD_ROWS, 1));
    RemoveDeadRunDirectories(tempDir, COPY_PREFIX, files, CarriedRunFiles(files, PAYLOAD_ROWS, 0));
}

// Creates a new directory under `tempDir` whose name no other run is using,
// holds it and marks it alive, and makes it extractDir. A directory that
// exists already is never used: whoever made it could have put anything in it.
static int CreateExtractionDirectory(const char *tempDir)
{
    char path[PATH_SIZE];
    if (MakeOwnDirectory(tempDir, RUN_PREFIX, path, sizeof path, heldDir)) {
        if (FormatText(extractDir, sizeof extractDir, "%s\\", path)) {
            marker = CreateRunMarker(path, FALSE);
            if (marker != INVALID_HANDLE_VALUE)
                return 1;
        }
        extractDir[0] = '\0';
        ReleaseDirectory(heldDir);
        RemoveDirectoryA(path);
    }
    LogMessage(IDS_CREATEERROR, tempDir);
    return 0;
}

static int WriteWholeFile(const char *path, const void *bytes, DWORD size)
{
    // Only a file this run creates is written: one that appeared under the
    // name meanwhile is left alone, and the row fails.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LogMessage(IDS_CREATEERROR, path);
        return 0;
    }
    DWORD written = 0;
    int whole = WriteFile(file, bytes, size, &written, nullptr) && written == size;
    if (!whole)
        LogMessage(IDS_WRITEERROR, path, (unsigned)written, (unsigned)size);
    // A file system may report a full disk only when the file is closed.
    if (!CloseHandle(file) && whole) {
        LogMessage(IDS_WRITEERROR, path, (unsigned)written, (unsigned)size);
        whole = 0;
    }
    // A short file is of no use to anyone, and the run's directory must end empty.
    if (!whole)
        DeleteFileA(path);
    return whole;
}

int ExtractResourceFile(HINSTANCE instance, HWND statusLine, const char *resourceName,
                        const char *directory, const char *fileName)
{
    HRSRC found = FindResourceA(instance, resourceName, "EXE");
    if (found == nullptr) {
        LogMessage(IDS_LOCATEFAILED, resourceName);
        return 0;
    }
    DWORD size = SizeofResource(instance, found);
    // A loaded resource is part of the mapped program: nothing to free.
    HGLOBAL loaded = LoadResource(instance, found);
    const void *bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        LogMessage(IDS_LOADFAILED, resourceName);
        return 0;
    }
    int result = 0;
    char path[PATH_SIZE];
    if (!JoinText(path, sizeof path, directory, fileName)) {
        LogUnusablePath(directory, fileName);
    } else {
        char text[MESSAGE_SIZE];
        BuildMessage(text, sizeof text, IDS_EXTRACTING, path, (unsigned)size);
        LogLine(text);
        ShowStatus(statusLine, text);
        result = WriteWholeFile(path, bytes, size);
    }
    return result;
}

int ExtractPayload(HINSTANCE instance, HWND owner)
{
    int count = 0;
    // Nothing here pumps messages, so the Cancel button has no effect.
    HWND statusLine = OpenProgressWindow(instance, owner);
    char tempDir[PATH_SIZE];
    if (TempDirectory(tempDir, sizeof tempDir)) {
        RemoveDeadRuns(tempDir);
        if (CreateExtractionDirectory(tempDir)) {
            for (int i = 0; i < payloadCount; ++i) {
                PayloadEntry &row = payloadTable[i];
                if (ExtractResourceFile(instance, statusLine, row.resourceName, extractDir,
                                        row.destName)) {
                    ++count;
                    row.state |= PAYLOAD_EXTRACTED;
                }
            }
        }
    } else {
        // No file can be written under a directory that doesn't fit: each row
        // fails as a file that can't be created.
        char shown[SHOWN_SIZE];
        TempDirectory(shown, sizeof shown);
        for (int i = 0; i < payloadCount; ++i)
            LogUnusablePath(shown, payloadTable[i].destName);
    }
    CloseProgressWindow(owner);
    return count;
}

int RemoveTempFiles()
{
    // Nothing was extracted when the run's directory was never made.
    if (extractDir[0] == '\0')
        return 0;
    for (int i = 0; i < payloadCount; ++i) {
        const PayloadEntry &row = payloadTable[i];
        char path[PATH_SIZE];
        // A cut path would name some other file; one that doesn't fit was
        // never written.
        if (!(row.state & PAYLOAD_EXTRACTED) ||
            !JoinText(path, sizeof path, extractDir, row.sourceName))
            continue;
        LogMessage(IDS_REMOVINGTEMP, extractDir, row.sourceName);
        DeleteFileA(path);
    }
    CloseHandle(marker);
    marker = INVALID_HANDLE_VALUE;
    char directory[PATH_SIZE];
    CopyText(directory, sizeof directory, extractDir);
    directory[strlen(directory) - 1] = '\0';
    RemoveRunMarker(directory);
    // Only an empty directory goes: a file this run did not write stays.
    ReleaseDirectory(heldDir);
    RemoveDirectoryA(extractDir);
    extractDir[0] = '\0';
    return 0;
}
