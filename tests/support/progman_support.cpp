#include "progman_support.h"

#include <ddeml.h>
#include <shlguid.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <mutex>

#include "progman/progman.h"
#include "wintest.h"

namespace {
// The one server of the process: the DDE callback has no context pointer.
struct ServerState {
    IsolatedProgman::Mode mode = IsolatedProgman::ABSENT;
    DWORD instance = 0;
    HANDLE ready = nullptr;
    bool hasGroups = false;
    std::string groups;
    std::vector<std::string> commands;
    std::vector<DWORD> sizes;
    int connects = 0;
} serverState;
std::mutex serverLock;

HDDEDATA CALLBACK ServerCallback(UINT type, UINT format, HCONV, HSZ, HSZ item, HDDEDATA data,
                                 ULONG_PTR, ULONG_PTR)
{
    std::lock_guard<std::mutex> hold(serverLock);
    switch (type) {
    case XTYP_CONNECT:
        serverState.connects++;
        return (HDDEDATA)(INT_PTR)(serverState.mode != IsolatedProgman::REFUSING);
    case XTYP_EXECUTE: {
        if (serverState.mode == IsolatedProgman::STALLING)
            return CBR_BLOCK;
        DWORD size = DdeGetData(data, nullptr, 0, 0);
        std::string bytes(size, '\0');
        if (size != 0)
            DdeGetData(data, (LPBYTE)&bytes[0], size, 0);
        serverState.sizes.push_back(size);
        serverState.commands.push_back(bytes.c_str());
        return (HDDEDATA)(INT_PTR)(serverState.mode == IsolatedProgman::REJECTING
                                       ? DDE_FNOTPROCESSED
                                       : DDE_FACK);
    }
    case XTYP_REQUEST: {
        char name[64] = "";
        DdeQueryStringA(serverState.instance, item, name, sizeof name, CP_WINANSI);
        if (format != CF_TEXT || lstrcmpiA(name, "Groups") != 0 || !serverState.hasGroups)
            return nullptr;
        return DdeCreateDataHandle(serverState.instance, (LPBYTE)serverState.groups.data(),
                                   (DWORD)serverState.groups.size(), 0, item, CF_TEXT, 0);
    }
    default:
        return nullptr;
    }
}

struct WorkItem {
    HDESK desktop;
    const std::function<void()> *work;
};

DWORD WINAPI RunWork(void *data)
{
    WorkItem &item = *(WorkItem *)data;
    // Before the thread makes any window: a thread keeps its first desktop.
    if (!SetThreadDesktop(item.desktop))
        return 1;
    (*item.work)();
    return 0;
}
} // namespace

IsolatedProgman::IsolatedProgman(Mode mode)
{
    // The process's own desktop is set up first, so its later windows still
    // reach the display.
    GetDesktopWindow();
    {
        std::lock_guard<std::mutex> hold(serverLock);
        serverState = ServerState();
        serverState.mode = mode;
    }
    oldStation = GetProcessWindowStation();
    // Wine starts a shell process, and with it a Program Manager, for the
    // desktops of every window station (Wine 10; Wine 8 for the visible one
    // only) but the one named as its services' station, where, as on Windows,
    // no shell runs.
    station = CreateWindowStationA("__wineservice_winstation", 0, GENERIC_ALL, nullptr);
    if (station == nullptr || !SetProcessWindowStation(station))
        return;
    desktop = CreateDesktopA("tlprogman", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desktop == nullptr)
        return;
    if (mode == ABSENT) {
        ready = true;
        return;
    }
    serverState.ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    server = CreateThread(nullptr, 0, Serve, this, 0, &serverThreadId);
    ready = server != nullptr && WaitForSingleObject(serverState.ready, 10000) == WAIT_OBJECT_0 &&
            serverState.instance != 0;
}

DWORD WINAPI IsolatedProgman::Serve(void *self)
{
    IsolatedProgman &me = *(IsolatedProgman *)self;
    MSG message;
    // The thread's queue must exist before WM_QUIT can be posted to it.
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    DWORD instance = 0;
    HSZ service = nullptr;
    if (SetThreadDesktop(me.desktop) &&
        DdeInitializeA(&instance, ServerCallback,
                       APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                       0) == DMLERR_NO_ERROR) {
        service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
        if (DdeNameService(instance, service, nullptr, DNS_REGISTER) != nullptr) {
            std::lock_guard<std::mutex> hold(serverLock);
            serverState.instance = instance;
        }
    }
    SetEvent(serverState.ready);
    // As a Program Manager held by a debugger: until the object goes.
    if (serverState.mode == FROZEN)
        SuspendThread(GetCurrentThread());
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (instance != 0) {
        DdeNameService(instance, nullptr, nullptr, DNS_UNREGISTER);
        if (service != nullptr)
            DdeFreeStringHandle(instance, service);
        DdeUninitialize(instance);
    }
    return 0;
}

IsolatedProgman::~IsolatedProgman()
{
    if (server != nullptr) {
        ResumeThread(server);
        PostThreadMessageA(serverThreadId, WM_QUIT, 0, 0);
        if (WaitForSingleObject(server, 10000) != WAIT_OBJECT_0)
            TerminateThread(server, 1);
        CloseHandle(server);
    }
    if (serverState.ready != nullptr) {
        CloseHandle(serverState.ready);
        serverState.ready = nullptr;
    }
    if (oldStation != nullptr)
        SetProcessWindowStation(oldStation);
    if (desktop != nullptr)
        CloseDesktop(desktop);
    if (station != nullptr)
        CloseWindowStation(station);
}

void IsolatedProgman::ReplyToGroups(const std::string &reply)
{
    std::lock_guard<std::mutex> hold(serverLock);
    serverState.hasGroups = true;
    serverState.groups = reply;
}

bool IsolatedProgman::Run(const std::function<void()> &work, DWORD ms)
{
    if (!ready)
        return false;
    WorkItem item = {desktop, &work};
    HANDLE thread = CreateThread(nullptr, 0, RunWork, &item, 0, nullptr);
    if (thread == nullptr)
        return false;
    bool ended = WaitForSingleObject(thread, ms) == WAIT_OBJECT_0;
    DWORD code = 1;
    if (ended)
        GetExitCodeThread(thread, &code);
    else
        TerminateThread(thread, 1);
    CloseHandle(thread);
    return ended && code == 0;
}

std::vector<std::string> IsolatedProgman::Commands()
{
    std::lock_guard<std::mutex> hold(serverLock);
    return serverState.commands;
}

std::vector<DWORD> IsolatedProgman::CommandSizes()
{
    std::lock_guard<std::mutex> hold(serverLock);
    return serverState.sizes;
}

int IsolatedProgman::Connects()
{
    std::lock_guard<std::mutex> hold(serverLock);
    return serverState.connects;
}

// The folder windows: explorer.exe processes started by the desktop's own.
static std::vector<DWORD> FolderWindowProcesses()
{
    std::vector<DWORD> found;
    DWORD desktop = 0;
    GetWindowThreadProcessId(GetDesktopWindow(), &desktop);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == desktop && lstrcmpiA(entry.szExeFile, "explorer.exe") == 0)
            found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

static const char OVERRIDES_KEY[] = "Software\\Wine\\DllOverrides";
static const char MENU_BUILDER[] = "winemenubuilder.exe";

GroupWindowGuard::GroupWindowGuard() : before(FolderWindowProcesses())
{
    hadOverride = RegistryString(HKEY_CURRENT_USER, OVERRIDES_KEY, MENU_BUILDER, oldOverride);
    // An empty override: the program is not started at all.
    SetRegistryValue(HKEY_CURRENT_USER, OVERRIDES_KEY, MENU_BUILDER, REG_SZ, "");
}

GroupWindowGuard::~GroupWindowGuard()
{
    for (DWORD pid : FolderWindowProcesses()) {
        if (std::find(before.begin(), before.end(), pid) != before.end())
            continue;
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
        if (process == nullptr)
            continue;
        // The window comes some time after the process.
        auto ended = [&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; };
        WaitUntil([&] { return ended() || !TopWindows(pid, nullptr).empty(); }, 5000);
        for (HWND window : TopWindows(pid, nullptr))
            PostMessageA(window, WM_CLOSE, 0, 0);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    if (hadOverride)
        SetRegistryValue(HKEY_CURRENT_USER, OVERRIDES_KEY, MENU_BUILDER, REG_SZ, oldOverride);
    else
        RegDeleteKeyValueA(HKEY_CURRENT_USER, OVERRIDES_KEY, MENU_BUILDER);
}

bool ReadShortcut(const std::string &path, std::string &target, std::string &workingDirectory)
{
    bool read = false;
    HRESULT started = CoInitialize(nullptr);
    IShellLinkA *link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                   __uuidof(IShellLinkA), (void **)&link))) {
        IPersistFile *file = nullptr;
        if (SUCCEEDED(link->QueryInterface(__uuidof(IPersistFile), (void **)&file))) {
            WCHAR widePath[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
            if (SUCCEEDED(file->Load(widePath, STGM_READ))) {
                char text[MAX_PATH] = "";
                if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, 0))) {
                    target = text;
                    text[0] = '\0';
                    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) {
                        workingDirectory = text;
                        read = true;
                    }
                }
            }
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(started))
        CoUninitialize();
    return read;
}

static std::vector<HWND> OwnDialogs()
{
    return TopWindows(GetCurrentProcessId(), "#32770");
}

void CancelOwnDialogs()
{
    for (HWND dialog : OwnDialogs())
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

std::function<void()> Settled(std::function<void()> script, DWORD ms)
{
    return [script, ms] {
        script();
        for (int round = 0; round < 20; round++) {
            if (WaitUntil([] { return OwnDialogs().empty(); }, round == 0 ? ms : 500))
                return;
            CancelOwnDialogs();
        }
    };
}

std::vector<std::string> ComboItems(HWND combo)
{
    std::vector<std::string> items;
    LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++) {
        char text[1024] = "";
        LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, i, 0);
        if (length < 0 || length >= (LRESULT)sizeof text)
            continue;
        SendMessageA(combo, CB_GETLBTEXT, i, (LPARAM)text);
        items.push_back(text);
    }
    return items;
}

std::vector<std::string> ListedGroups(const char **reply)
{
    HWND combo = CreateWindowA("COMBOBOX", "", WS_POPUP | CBS_DROPDOWN, 0, 0, 200, 200, nullptr,
                               nullptr, nullptr, nullptr);
    const char *listed = ProgmanListGroups(combo);
    if (reply != nullptr)
        *reply = listed;
    std::vector<std::string> names = ComboItems(combo);
    DestroyWindow(combo);
    return names;
}
