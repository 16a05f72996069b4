// Removal of a prior installation recorded in WIN.INI.
#ifndef TARNLINK_REMOVE_H
#define TARNLINK_REMOVE_H

#include <windows.h>

#include "rules.h"

int RemoveInstallation(HWND owner);

#endif
