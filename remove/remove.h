// Removal of a prior installation recorded in WIN.INI.
#ifndef TARNLINK_REMOVE_H
#define TARNLINK_REMOVE_H

#include <windows.h>

int RemoveInstallation(HWND owner);
int DeleteRegistryTree(const char *keyPath, HKEY root);

#endif
