// The backdrop window that hosts the whole run.
#ifndef TARNLINK_MAINWND_H
#define TARNLINK_MAINWND_H

#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
