// The progress window shared by the extraction and the copy.
#ifndef TARNLINK_PROGRESS_H
#define TARNLINK_PROGRESS_H

#include <windows.h>

extern int copyCancelled;

INT_PTR CALLBACK CopyProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
