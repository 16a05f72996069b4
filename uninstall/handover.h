// The hand-over: a running program cannot delete its own file, so the first
// process copies itself into a new directory of its own under the
// temporary directory, marks that directory alive, checks the copy byte for
// byte while it holds it, and starts it with "-w <process> -o <pipe>" ahead
// of the same arguments: a handle of the first process and the write end of
// a pipe, which only a child it started inherits, with the lock that lets
// one setup or uninstall run at a time.
#ifndef TARNLINK_HANDOVER_H
#define TARNLINK_HANDOVER_H

#include <windows.h>

#include "../base/tempdirs.h"

// This program's own file, and the directory it is in; 0 when the path does
// not fit.
int OwnPath(char *path, DWORD size);
int OwnDirectory(char *path, DWORD size);

// Length and CRC-32 of this program's own file, which is what its copies
// hold; 0 when it cannot be read.
int OwnSum(RunFile &file);

// Copies this program and starts the copy with the same arguments: the read
// end of the pipe that brings its outcome, or null when that could not be
// done (a copy that was refused is left as it is).
HANDLE HandOverToCopy(const char *arguments);

// Whether the copy's -w handle is what only the first process gives: a real
// handle (not a pseudo-handle, -1 being this process) of another process
// that still runs.
int IsFirstProcess(HANDLE process);

#endif
