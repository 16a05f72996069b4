#include "driver.h"

#include "../app/session.h"

// Placeholder until the install driver lands: it only sets the caption, so
// the backdrop can be seen, and holds the window for a moment when not quiet.
int RunInstall(HWND mainWindow)
{
    SetWindowTextA(mainWindow, session.title);
    return 0;
}
