// A Program Manager of the test's own, and readers for the shortcuts that
// Wine's Program Manager makes.
#ifndef TARNLINK_PROGMAN_SUPPORT_H
#define TARNLINK_PROGMAN_SUPPORT_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A desktop of a window station where no shell runs, so that Wine's desktop
// process (and so its Program Manager) does not exist there: the only "PROGMAN" server that
// can answer there is the one this object runs, if any. Code under test
// runs there through Run(). While the object lives, the process's window
// station is the private one, so the test thread must not make windows.
class IsolatedProgman {
public:
    enum Mode {
        ABSENT,      // no server at all
        REFUSING,    // a server that turns every conversation down
        ANSWERING,   // a server that records every command and acknowledges it
        STALLING,    // a server that accepts conversations but never completes a transaction
        REJECTING,   // a server that records every command and refuses to carry it out
        FROZEN,      // a server whose thread stops for good once it is registered
    };
    explicit IsolatedProgman(Mode mode);
    ~IsolatedProgman();

    // The CF_TEXT reply to a request of "Groups" (with its terminating zero,
    // as Wine sends it); without one the request gets no data.
    void ReplyToGroups(const std::string &reply);

    // Runs `work` on a thread of the private desktop; false when the server
    // is not ready, or when `work` did not end within `ms`.
    bool Run(const std::function<void()> &work, DWORD ms = 20000);

    // What the server saw, in order.
    std::vector<std::string> Commands();
    std::vector<DWORD> CommandSizes();   // bytes of each execute's data
    int Connects();

    bool ready = false;

private:
    HWINSTA oldStation = nullptr;
    HWINSTA station = nullptr;
    HDESK desktop = nullptr;
    HANDLE server = nullptr;
    DWORD serverThreadId = 0;
    static DWORD WINAPI Serve(void *self);
};

// Wine's Program Manager opens a folder window (an explorer.exe process of
// its own) for every CreateGroup and ShowGroup, and starts winemenubuilder
// for every shortcut it saves; both outlive the test and hold the suite's
// output open, so ctest would wait for them. While this lives,
// winemenubuilder is turned off (a DLL override); at its end the folder
// windows started meanwhile are closed and waited for.
class GroupWindowGuard {
public:
    GroupWindowGuard();
    ~GroupWindowGuard();
private:
    std::vector<DWORD> before;
    bool hadOverride = false;
    std::string oldOverride;
};

// A shortcut's target and working directory, read through the shell's
// IShellLinkA; false when it cannot be read.
bool ReadShortcut(const std::string &path, std::string &target, std::string &workingDirectory);

// Dialogs of this process, driven from a DialogDriver's thread.
// Ends every dialog of this process with IDCANCEL: the way out of a script
// that did not find what it expected.
void CancelOwnDialogs();

// A script that, once done, waits for this process's dialogs to go and
// cancels any still up after `ms`, so the call under test ends even when it
// asked something the script did not expect.
std::function<void()> Settled(std::function<void()> script, DWORD ms = 3000);

// Every string of a combo box's list, in list order.
std::vector<std::string> ComboItems(HWND combo);
// The names the group listing puts into a combo box on the calling thread's
// desktop, as the group prompt has one, and its reply.
std::vector<std::string> ListedGroups(const char **reply = nullptr);

#endif
