// The process entry. The program needs none of the C runtime's start-up
// (no arguments vector, no constructors, no exceptions), so it starts here,
// hands WinMain the text after the program name, and ends with its result.
// The name is the linker's default entry of a GUI program on either ABI (it
// adds the 32-bit ABI's leading underscore itself).
#include <windows.h>

#include "../base/lookup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// Not in the SDK headers of every system the program supports.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// DLLs that the system's own libraries load later (the file dialog, themes)
// must come from the system directory, never from beside the program (a
// downloads folder) or the current directory. The functions that say so are
// newer than the oldest systems the program runs on, so they are looked up.
static void RestrictDllSearch()
{
    auto setDefault =
        (SetDefaultDllDirectoriesProc)(void *)LookUpFunction(LATE_SET_DEFAULT_DLL_DIRECTORIES);
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // Without it, at least take the current directory out of the search.
    auto setDirectory = (SetDllDirectoryProc)(void *)LookUpFunction(LATE_SET_DLL_DIRECTORY);
    if (setDirectory != nullptr)
        setDirectory("");
}

#ifdef TL_COVERAGE
// The coverage build only (tools/coverage.sh): each instrumented file
// registers its counters from a constructor in the .ctors list, which a C
// runtime's start-up would run, and the counters reach their .gcda files only
// when gcov is told to write them before the process ends.
extern "C" void (*__CTOR_LIST__[])();
extern "C" void __gcov_dump();

static void RegisterCoverage()
{
    // The linker's script opens the list with -1 and ends it with a null.
    for (void (**constructor)() = __CTOR_LIST__ + 1; *constructor != nullptr; constructor++)
        (*constructor)();
}
#endif

extern "C" void WinMainCRTStartup()
{
#ifdef TL_COVERAGE
    RegisterCoverage();
#endif
    RestrictDllSearch();
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
    int result = WinMain(GetModuleHandleA(nullptr), nullptr, line, show);
#ifdef TL_COVERAGE
    __gcov_dump();
#endif
    ExitProcess((UINT)result);
}
