// Creation of a directory together with its missing parents.
#include "prompts.h"

#include <string.h>

#include "../base/messages.h"
#include "../base/product.h"
#include "../base/session.h"
#include "../base/text.h"
#include "../resources/resource.h"

// 1 when the directory was made or is already there; a file of that name
// does not count.
static int MakeDirectory(const char *path, DWORD &error)
{
    if (CreateDirectoryA(path, nullptr))
        return 1;
    error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS)
        return 0;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static void ReportCreateFailure(const char *path, DWORD error)
{
    char caption[256];
    char text[MESSAGE_SIZE];
    LoadMessageString(IDS_INSTALL, caption, sizeof caption);
    BuildMessage(text, sizeof text, IDS_CREATEFAILED, path, (unsigned)error);
    // Not logged in an interactive run: the caller reports the failure in
    // its own words. A quiet run has nobody to show it to.
    if (session.quiet)
        LogLine(text);
    else
        MessageBoxA(nullptr, text, caption, MB_ICONERROR);
}

int CreateDirectoryPath(char *path)
{
    DWORD error = 0;
    if (MakeDirectory(path, error))
        return 1;
    int result = 0;
    char *slash = strrchr(path, '\\');
    if (slash != nullptr) {
        // Parents first; a parent that fails has shown its own box, and the
        // attempt below tells whether this level can be made anyway.
        *slash = '\0';
        CreateDirectoryPath(path);
        *slash = '\\';
        result = MakeDirectory(path, error);
    }
    if (!result)
        ReportCreateFailure(path, error);
    return result;
}
