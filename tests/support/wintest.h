// Helpers shared by the suites: files, processes, windows and dialogs of a
// program under test, the registry and WIN.INI, all through the real platform.
#ifndef TARNLINK_WINTEST_H
#define TARNLINK_WINTEST_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Paths of the build.
std::string BuildPath(const char *relative);   // e.g. "setup.exe"
std::string TempPath();                        // the temporary directory, with "\"
// The setup program's own extraction directories ("~tl*.tmp") in TempPath(),
// each with its closing "\".
std::vector<std::string> ExtractionDirectories();

// Files.
bool FileExists(const std::string &path);
bool DirectoryExists(const std::string &path);
std::string ReadFileBytes(const std::string &path);
void WriteFileBytes(const std::string &path, const std::string &bytes);
void DeleteTree(const std::string &path);
std::vector<std::string> ReadLogLines(const std::string &path);  // split at CR LF
// Names of the entries of a folder that match `pattern` (e.g. "*.lnk").
std::vector<std::string> FolderEntries(const std::string &folder, const char *pattern);
// A fresh empty directory C:\tltest\<name>.
std::string ScratchDirectory(const std::string &name);

// Makes `link` a symbolic link of the host's file system to `target`, as
// someone on the machine may plant one (Wine itself cannot make one).
bool MakeHostLink(const std::string &target, const std::string &link);
void RemoveHostLink(const std::string &link);

// An environment variable of this process, and so of the programs it
// starts, set while this lives (null: left as it is); then as it was. With
// TMP it points TempPath() at a directory.
class ScopedVariable {
public:
    ScopedVariable(const char *name, const char *value);
    ~ScopedVariable();
private:
    std::string name, saved;
    bool had;
};

// Polls `condition` every 20 ms for at most `ms`; true when it held.
bool WaitUntil(const std::function<bool()> &condition, DWORD ms);

// A program started as a user would start it.
struct Program {
    HANDLE process = nullptr;
    DWORD pid = 0;
    ~Program();
    bool Start(const std::string &exe, const std::string &arguments,
               const std::string &directory = std::string());
    // Exit code, or -1000 when it did not end in time (it is then killed).
    int Wait(DWORD ms);
};

// Visible top-level windows of a process (pid 0: any) and class (nullptr:
// any) for which `match`, if given, holds; `firstOnly` stops at the first.
std::vector<HWND> TopWindows(DWORD pid, const char *className,
                             const std::function<bool(HWND)> &match = nullptr,
                             bool firstOnly = false);
// The first of them with a caption (nullptr: any).
HWND FindTopWindow(DWORD pid, const char *className, const char *caption);
HWND WaitForWindow(DWORD pid, const char *className, const char *caption, DWORD ms);
// A dialog (class #32770) of the process, by caption; nullptr caption: any.
HWND WaitForDialog(DWORD pid, const char *caption, DWORD ms = 10000);

std::string WindowText(HWND window);
// Whether a window stands in the middle of the screen.
bool Centred(HWND window);
std::string ItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::string &text);
// Presses a button without waiting for what it starts (a new modal dialog).
void PressButton(HWND dialog, int id);
// Text of a message box (static 0xFFFF).
std::string MessageBoxText(HWND box);
bool HasButton(HWND dialog, int id);

// Runs `script` on a second thread while the test thread is in a modal loop.
class DialogDriver {
public:
    explicit DialogDriver(std::function<void()> script);
    ~DialogDriver();
    void Join();
private:
    HANDLE thread;
    std::function<void()> script;
    static DWORD WINAPI Run(void *self);
};

// Registry (HKEY_LOCAL_MACHINE unless given).
bool RegistryString(HKEY root, const char *key, const char *value, std::string &data);
bool RegistryDword(HKEY root, const char *key, const char *value, DWORD &data);
bool RegistryKeyExists(HKEY root, const char *key);
// Makes the key as needed and sets a value of it (`bytes`, and for REG_SZ
// its closing zero); a null `name` makes the key alone. False on a failure.
bool SetRegistryValue(HKEY root, const std::string &key, const char *name = nullptr,
                      DWORD type = REG_SZ, const std::string &bytes = "");
void DeleteRegistryKeyTree(HKEY root, const char *key);

// WIN.INI.
std::string ProfileString(const char *section, const char *key, const char *fallback = "");
void DeleteProfileSection(const char *section);

// Start Menu "Programs" folder of Wine's Program Manager groups.
std::string ProgramsFolder();

// Clears every trace of an installation: files, keys, WIN.INI, groups.
void ResetMachineState();

#endif
