// The process entry. The program needs none of the C runtime's start-up
// (no arguments vector, no constructors, no exceptions), so it starts here,
// hands WinMain the text after the program name, and ends with its result.
// The name is the linker's default entry of a GUI program on either ABI (it
// adds the 32-bit ABI's leading underscore itself).
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

extern "C" void WinMainCRTStartup()
{
    char *line = GetCommandLineA();
    if (*line == '"') {
        line++;
        while (*line != '\0' && *line != '"')
            line++;
        if (*line == '"')
            line++;
    } else {
        while ((unsigned char)*line > ' ')
            line++;
    }
    while (*line != '\0' && (unsigned char)*line <= ' ')
        line++;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess((UINT)WinMain(GetModuleHandleA(nullptr), nullptr, line, show));
}
