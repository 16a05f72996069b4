#include "wintest.h"

#include <shlobj.h>

#include "base/session.h"

std::string BuildPath(const char *relative)
{
    return std::string(TEST_BUILD_DIR) + "\\" + relative;
}

std::string TempPath()
{
    char path[MAX_PATH];
    DWORD length = GetTempPathA(sizeof path, path);
    std::string result(path, length);
    if (result.empty() || result.back() != '\\')
        result += '\\';
    return result;
}

bool FileExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty())
        ReadFile(file, &bytes[0], (DWORD)bytes.size(), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

void WriteFileBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

std::vector<std::string> ExtractionDirectories()
{
    std::vector<std::string> found;
    for (const std::string &name : FolderEntries(TempPath(), "~tl*.tmp"))
        if (DirectoryExists(TempPath() + name))
            found.push_back(TempPath() + name + "\\");
    return found;
}

std::vector<std::string> FolderEntries(const std::string &folder, const char *pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    std::string path = folder + (folder.empty() || folder.back() != '\\' ? "\\" : "") + pattern;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

void DeleteTree(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        return;
    }
    for (const std::string &name : FolderEntries(path, "*"))
        DeleteTree(path + "\\" + name);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

std::vector<std::string> ReadLogLines(const std::string &path)
{
    std::vector<std::string> lines;
    std::string bytes = ReadFileBytes(path);
    for (size_t start = 0, end; start < bytes.size(); start = end + 2) {
        end = bytes.find("\r\n", start);
        lines.push_back(bytes.substr(start, end - start));   // the last may have no CR LF
        if (end == std::string::npos)
            break;
    }
    return lines;
}

// The host's name of a Windows path, from Wine's own export.
static std::string HostPath(const std::string &path)
{
    typedef char *(CDECL * UnixName)(LPCWSTR);
    UnixName unixName = (UnixName)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                         "wine_get_unix_file_name");
    WCHAR wide[MAX_PATH];
    if (unixName == nullptr || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return std::string();
    char *name = unixName(wide);
    std::string result = name != nullptr ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs a command of the host's shell and waits until it is done. Wine
// starts a host program given by its path on drive Z:, but hands back no
// handle to wait on: the command leaves a file behind when it is done.
static bool RunHostCommand(const std::string &command, const std::string &beside)
{
    std::string done = beside + ".done", hostDone = HostPath(done);
    Program shell;
    if (hostDone.empty() || !shell.Start("Z:\\bin\\sh", "-c \"" + command + " && : > '" +
                                                                hostDone + "'\""))
        return false;
    bool finished = WaitUntil([&] { return FileExists(done); }, 10000);
    DeleteFileA(done.c_str());
    return finished;
}

bool MakeHostLink(const std::string &target, const std::string &link)
{
    std::string from = HostPath(target), to = HostPath(link);
    return !from.empty() && !to.empty() &&
           RunHostCommand("ln -sfn '" + from + "' '" + to + "'", link);
}

void RemoveHostLink(const std::string &link)
{
    std::string path = HostPath(link);
    if (!path.empty())
        RunHostCommand("rm -f '" + path + "'", link);
}

std::string ScratchDirectory(const std::string &name)
{
    CreateDirectoryA("C:\\tltest", nullptr);
    std::string path = "C:\\tltest\\" + name;
    DeleteTree(path);
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

ScopedVariable::ScopedVariable(const char *name, const char *value) : name(name)
{
    char old[1024];
    DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
    had = length > 0 && length < sizeof old;
    saved = had ? old : "";
    if (value != nullptr)
        SetEnvironmentVariableA(name, value);
}

ScopedVariable::~ScopedVariable()
{
    SetEnvironmentVariableA(name.c_str(), had ? saved.c_str() : nullptr);
}

bool WaitUntil(const std::function<bool()> &condition, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(20);
    }
}

Program::~Program()
{
    if (process != nullptr) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
            TerminateProcess(process, 1000);
        CloseHandle(process);
    }
}

bool Program::Start(const std::string &exe, const std::string &arguments,
                    const std::string &directory)
{
    std::string commandLine = "\"" + exe + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process = info.hProcess;
    pid = info.dwProcessId;
    return true;
}

int Program::Wait(DWORD ms)
{
    if (process == nullptr)
        return -1000;
    if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1000);
        WaitForSingleObject(process, 5000);
        return -1000;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return (int)code;
}

namespace {
struct WindowQuery {
    DWORD pid;
    const char *className;
    const std::function<bool(HWND)> &match;
    bool firstOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data)
{
    WindowQuery &query = *(WindowQuery *)data;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[256];
    if (!IsWindowVisible(window) || (query.pid != 0 && owner != query.pid) ||
        (query.className != nullptr && (!GetClassNameA(window, name, sizeof name) ||
                                        lstrcmpA(name, query.className) != 0)) ||
        (query.match && !query.match(window)))
        return TRUE;
    query.found.push_back(window);
    return !query.firstOnly;
}
} // namespace

std::vector<HWND> TopWindows(DWORD pid, const char *className,
                             const std::function<bool(HWND)> &match, bool firstOnly)
{
    WindowQuery query = {pid, className, match, firstOnly, {}};
    EnumWindows(MatchWindow, (LPARAM)&query);
    return query.found;
}

HWND FindTopWindow(DWORD pid, const char *className, const char *caption)
{
    auto captioned = [caption](HWND window) {
        return caption == nullptr || WindowText(window) == caption;
    };
    std::vector<HWND> found = TopWindows(pid, className, captioned, true);
    return found.empty() ? nullptr : found[0];
}

HWND WaitForWindow(DWORD pid, const char *className, const char *caption, DWORD ms)
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindTopWindow(pid, className, caption)) != nullptr; }, ms);
    return window;
}

HWND WaitForDialog(DWORD pid, const char *caption, DWORD ms)
{
    return WaitForWindow(pid, "#32770", caption, ms);
}

bool Centred(HWND window)
{
    RECT box, desktop;
    GetWindowRect(window, &box);
    GetWindowRect(GetDesktopWindow(), &desktop);
    return box.left == desktop.right / 2 - (box.right - box.left) / 2 &&
           box.top == desktop.bottom / 2 - (box.bottom - box.top) / 2;
}

std::string WindowText(HWND window)
{
    char text[2048] = "";
    DWORD_PTR result = 0;
    // WM_GETTEXT works across processes where GetWindowText does not.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000,
                        &result);
    return text;
}

std::string ItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr ? WindowText(item) : std::string("<no control>");
}

void SetItemText(HWND dialog, int id, const std::string &text)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)text.c_str(),
                        SMTO_ABORTIFHUNG, 5000, &result);
}

void PressButton(HWND dialog, int id)
{
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

std::string MessageBoxText(HWND box)
{
    return ItemText(box, 0xFFFF);
}

bool HasButton(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr && IsWindowVisible(item);
}

DialogDriver::DialogDriver(std::function<void()> work) : script(std::move(work))
{
    thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

DialogDriver::~DialogDriver()
{
    Join();
}

void DialogDriver::Join()
{
    if (thread != nullptr) {
        WaitForSingleObject(thread, 60000);
        CloseHandle(thread);
        thread = nullptr;
    }
}

DWORD WINAPI DialogDriver::Run(void *self)
{
    ((DialogDriver *)self)->script();
    return 0;
}

bool RegistryString(HKEY root, const char *key, const char *value, std::string &data)
{
    char buffer[4096];
    DWORD size = sizeof buffer, type = 0;
    if (RegGetValueA(root, key, value, RRF_RT_REG_SZ, &type, buffer, &size) != ERROR_SUCCESS)
        return false;
    data = buffer;
    return true;
}

bool RegistryDword(HKEY root, const char *key, const char *value, DWORD &data)
{
    DWORD size = sizeof data;
    return RegGetValueA(root, key, value, RRF_RT_REG_DWORD, nullptr, &data, &size) ==
           ERROR_SUCCESS;
}

bool RegistryKeyExists(HKEY root, const char *key)
{
    HKEY opened;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

bool SetRegistryValue(HKEY root, const std::string &key, const char *name, DWORD type,
                      const std::string &bytes)
{
    HKEY opened;
    if (RegCreateKeyA(root, key.c_str(), &opened) != ERROR_SUCCESS)
        return false;
    std::string data = type == REG_SZ ? bytes + '\0' : bytes;
    LONG set = name == nullptr ? ERROR_SUCCESS
                               : RegSetValueExA(opened, name, 0, type, (const BYTE *)data.data(),
                                                (DWORD)data.size());
    RegCloseKey(opened);
    return set == ERROR_SUCCESS;
}

void DeleteRegistryKeyTree(HKEY root, const char *key)
{
    RegDeleteTreeA(root, key);
    RegDeleteKeyA(root, key);
}

std::string ProfileString(const char *section, const char *key, const char *fallback)
{
    char buffer[1024];
    GetProfileStringA(section, key, fallback, buffer, sizeof buffer);
    return buffer;
}

void DeleteProfileSection(const char *section)
{
    WriteProfileStringA(section, nullptr, nullptr);
}

std::string ProgramsFolder()
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, 0, path);
    return path;
}

void ResetMachineState()
{
    DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, "Software\\Quorvale");
    DeleteRegistryKeyTree(HKEY_CURRENT_USER, "Software\\Quorvale");
    DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE,
                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnlink Suite");
    DeleteProfileSection("Tarnlink Suite");
    DeleteTree("C:\\Program Files\\Tarnlink");
    DeleteTree("C:\\WIN32APP");
    DeleteTree("C:\\Tarnlink");
    DeleteTree(ProgramsFolder() + "\\Tarnlink Suite");
    // What a setup that was stopped midway left in the temporary directory.
    for (const std::string &dir : ExtractionDirectories())
        DeleteTree(dir.substr(0, dir.size() - 1));
}
