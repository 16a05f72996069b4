// The questions put to the user, and directory creation.
#ifndef TARNLINK_PROMPTS_H
#define TARNLINK_PROMPTS_H

#include <windows.h>

// The texts exchanged between the prompts and their dialog procedures.
extern char promptText[256];
extern char directoryText[256];
extern char browseResult[260];
extern char browseFileName[256];
extern char promptTitle[256];

// The product's main program as the source prompt names it.
extern const char PRIMARY_FILE[];

// 0 leave, 1 install, 2 remove; -1 when the question cannot be shown.
int ChooseInstallMode(HWND owner, HINSTANCE instance);
int CreateDirectoryPath(char *path);
// `directory` holds `size` bytes.
int LocateSourceDirectory(HINSTANCE instance, HWND owner, char *directory, size_t size,
                          const char *fileName);
int AskDestinationDirectory(HINSTANCE instance, HWND owner, char *directory, size_t size);
int AskGroup(HWND owner, HINSTANCE instance);
// 1 when the group's shortcuts fit a path under the Start Menu's Programs
// folders, the user's and all users' (or the system keeps none).
int GroupFits(const char *name);

// For the suites.
int AskDirectory(HWND owner, HINSTANCE instance, const char *prompt, const char *initial,
                 char *result, size_t resultSize);

#endif
