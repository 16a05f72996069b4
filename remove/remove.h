// Removal of a prior installation recorded in WIN.INI.
#ifndef TARNLINK_REMOVE_H
#define TARNLINK_REMOVE_H

#include <windows.h>

#include "rules.h"

// 1 when everything was removed (files, keys, the directory unless it is a
// drive root, and the Uninstall entry); 0 when something was left or nothing
// was recorded.
int RemoveInstallation(HWND owner);

#endif
