// The install driver: one whole run from the mode choice to the final message.
#ifndef TARNLINK_DRIVER_H
#define TARNLINK_DRIVER_H

#include <windows.h>

// 1 when the run did what was asked: installed, removed everything, or the
// user chose Exit at the mode prompt; 0 after any failure or cancel.
int RunInstall(HWND mainWindow);

#endif
