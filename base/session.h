// The process-wide install state that every part of the run reads.
#ifndef TARNLINK_SESSION_H
#define TARNLINK_SESSION_H

#include <windows.h>

constexpr int TEXT_FIELD = 256;

struct InstallSession {
    HINSTANCE instance;
    HWND mainWindow;
    HWND activeDialog;       // modeless progress window, or null
    int installRequested;
    int removeRequested;
    int quiet;
    int logEnabled;
    char title[TEXT_FIELD];
    char groupName[TEXT_FIELD];
    char defaultDirProgramFiles[TEXT_FIELD];
    char defaultDirWin32App[TEXT_FIELD];
    char defaultDirRoot[TEXT_FIELD];
};

extern InstallSession session;


// Takes the lock that lets one setup or uninstall of the product run at a
// time, for the life of the process (and of a child that inherits it, when
// `inheritable`). 1 when this process now holds it; 0 when another holds
// it, or the lock cannot be made, which counts the same.
int TakeRunLock(int inheritable);

// Turns the command line into the mode flags.
void ReadCommandLine(const char *commandLine);

// Fills the fixed defaults; returns the payload row count it is handed, the
// table being the entry's to know (0: failure).
int SetInstallDefaults(int rowCount);

#endif
