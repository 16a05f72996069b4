// The product's uninstaller. It shows what it was asked to remove: the
// command line the setup program recorded ("-f <dir> -d <dir> -g <group>").
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    char text[1024];
    lstrcpynA(text, "Tarnlink Suite will be removed:\n\n", sizeof text);
    int used = lstrlenA(text);
    lstrcpynA(text + used, commandLine, (int)sizeof text - used);
    MessageBoxA(nullptr, text, "Uninstall Tarnlink Suite", MB_OK | MB_ICONINFORMATION);
    return 0;
}
