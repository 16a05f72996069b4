// The install driver: one whole run from the mode choice to the final message.
#ifndef TARNLINK_DRIVER_H
#define TARNLINK_DRIVER_H

#include <windows.h>

int RunInstall(HWND mainWindow);

#endif
