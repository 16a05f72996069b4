#include "progman.h"

#include <ddeml.h>
#include <string.h>

#include "../base/names.h"
#include "../base/product.h"
#include "../base/session.h"
#include "../base/system.h"
#include "../base/text.h"

ProgmanLink progmanLink;

// A Program Manager command.
constexpr size_t PROGMAN_COMMAND_SIZE = 512;
constexpr DWORD TRANSACTION_TIMEOUT = 1000;

// The "Groups" reply. Only whole names are kept, so it always ends in a
// separator or at the end of the reply.
constexpr size_t GROUP_REPLY_SIZE = 4096;
static char groupReply[GROUP_REPLY_SIZE];

// A client only: nothing the server sends is answered.
static HDDEDATA CALLBACK ProgmanCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                         ULONG_PTR)
{
    return nullptr;
}

// What became of one command. A Program Manager slower than the time-out may
// still carry it out after the client has given up on it.
enum CommandOutcome { COMMAND_DONE, COMMAND_UNANSWERED, COMMAND_REFUSED, COMMAND_TIMED_OUT };

// The platform's DdeConnect waits without a limit for a Program Manager
// that has stopped answering (hung, or held by a debugger). So the
// conversations run on a worker thread of the link's own, with the link's
// DDE instance, and the caller waits for each at most this long. A worker
// that takes longer is given up and left behind: nothing more is sent on
// its link, and no new worker starts while it still waits.
constexpr DWORD CONVERSATION_LIMIT = 5000;

// The worker and the one conversation it is asked for, in storage that a
// worker left behind may still use: an execute of `command`, or (empty) the
// request of "Groups", whose reply goes into groupReply.
static struct Worker {
    HANDLE thread;   // null while no worker runs
    DWORD threadId;
    HANDLE answered;   // set when the worker has started, and after each conversation
    HDESK desktop;     // the caller's, where its Program Manager answers
    DWORD instance;    // 0 when the worker's DdeInitialize failed
    volatile LONG ending;
    char command[PROGMAN_COMMAND_SIZE];
    int connected;
    CommandOutcome outcome;
} worker;
// The last worker told to end; the next starts only once it has.
static HANDLE pastWorker;

// Copies the reply into `kept`, dropping a last name that does not fit whole.
static void KeepReply(char *kept, size_t room, const char *reply, size_t size)
{
    size_t length = strnlen(reply, size);
    if (length >= room) {
        length = room - 1;
        // Unless the cut falls on a separator, back up to the last one.
        if (reply[length] != '\r' && reply[length] != '\n') {
            while (length > 0 && reply[length - 1] != '\r' && reply[length - 1] != '\n')
                length--;
        }
    }
    memcpy(kept, reply, length);
    kept[length] = '\0';
}

static void Converse(DWORD instance)
{
    HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    HSZ item = DdeCreateStringHandleA(instance, "Groups", CP_WINANSI);
    HCONV link = service != nullptr && item != nullptr
                     ? DdeConnect(instance, service, service, nullptr)
                     : nullptr;
    if (link != nullptr) {
        worker.connected = 1;
        if (worker.command[0] != '\0') {
            // The terminating zero travels with the command.
            DWORD status = 0;
            HDDEDATA done = DdeClientTransaction((LPBYTE)worker.command,
                                                 (DWORD)strlen(worker.command) + 1, link, nullptr,
                                                 CF_TEXT, XTYP_EXECUTE, TRANSACTION_TIMEOUT,
                                                 &status);
            worker.outcome = done != nullptr ? COMMAND_DONE
                             : DdeGetLastError(instance) == DMLERR_EXECACKTIMEOUT
                                 ? COMMAND_TIMED_OUT
                                 : COMMAND_REFUSED;
        } else {
            HDDEDATA reply = DdeClientTransaction(nullptr, 0, link, item, CF_TEXT, XTYP_REQUEST,
                                                  TRANSACTION_TIMEOUT, nullptr);
            // No handle (no answer, a refusal, a time-out) leaves the list empty.
            DWORD size = 0;
            const char *data =
                reply != nullptr ? (const char *)DdeAccessData(reply, &size) : nullptr;
            if (data != nullptr) {
                KeepReply(groupReply, sizeof groupReply, data, size);
                DdeUnaccessData(reply);
            }
            if (reply != nullptr)
                DdeFreeDataHandle(reply);
        }
        DdeDisconnect(link);
    }
    if (service != nullptr)
        DdeFreeStringHandle(instance, service);
    if (item != nullptr)
        DdeFreeStringHandle(instance, item);
}

// Desktops are Windows NT's; Windows 95 may lack the functions, and where
// they fail the worker converses on the desktop it has.
static FARPROC DesktopFunction(LateFunction function)
{
    return IsWindowsNT() ? LookUpFunction(function) : nullptr;
}

// Conversations are asked for by a thread message; every other message
// (the instance's own windows') is dispatched, so that the worker answers
// what other programs send while it waits.
constexpr UINT WM_CONVERSE = WM_APP;

static DWORD WINAPI WorkerThread(void *)
{
    MSG message;
    // The queue exists before the caller learns that the worker has started.
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    // Before the thread makes any window: a thread keeps its first desktop.
    auto setDesktop = (SetThreadDesktopProc)(void *)DesktopFunction(LATE_SET_THREAD_DESKTOP);
    if (setDesktop != nullptr && worker.desktop != nullptr)
        setDesktop(worker.desktop);
    DWORD instance = 0;
    if (DdeInitializeA(&instance, ProgmanCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
        instance = 0;
    worker.instance = instance;
    SetEvent(worker.answered);
    while (instance != 0 && !worker.ending && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == WM_CONVERSE) {
            Converse(instance);
            SetEvent(worker.answered);
        } else {
            DispatchMessageA(&message);
        }
    }
    DdeUninitialize(instance);
    return 0;
}

// Waits for `handle` within CONVERSATION_LIMIT; meanwhile messages sent to
// this thread's windows (a conversation's own broadcast among them) are
// delivered. 0 when it took too long, or could not be waited for.
static int WaitDelivering(HANDLE handle)
{
    DWORD start = GetTickCount(), elapsed;
    while ((elapsed = GetTickCount() - start) < CONVERSATION_LIMIT) {
        DWORD woken = MsgWaitForMultipleObjects(1, &handle, FALSE, CONVERSATION_LIMIT - elapsed,
                                                QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1)
            return woken == WAIT_OBJECT_0;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
    return 0;
}

// Tells the worker to end, also after a conversation it is still making,
// and lets it go.
static void EndWorker()
{
    InterlockedExchange(&worker.ending, 1);
    PostThreadMessageA(worker.threadId, WM_QUIT, 0, 0);
    pastWorker = worker.thread;
    worker.thread = nullptr;
}

// Starts a worker with its DDE instance on the caller's desktop; 0 when one
// runs already, one left behind still waits, or it could not start.
static int StartWorker()
{
    if (worker.thread != nullptr)
        return 0;
    if (pastWorker != nullptr) {
        if (WaitForSingleObject(pastWorker, 0) != WAIT_OBJECT_0)
            return 0;
        CloseHandle(pastWorker);
        pastWorker = nullptr;
    }
    if (worker.answered == nullptr &&
        (worker.answered = CreateEventA(nullptr, FALSE, FALSE, nullptr)) == nullptr)
        return 0;
    // What the last worker set is past.
    ResetEvent(worker.answered);
    auto getDesktop = (GetThreadDesktopProc)(void *)DesktopFunction(LATE_GET_THREAD_DESKTOP);
    worker.desktop = getDesktop != nullptr ? getDesktop(GetCurrentThreadId()) : nullptr;
    worker.ending = 0;
    worker.thread = CreateThread(nullptr, 0, WorkerThread, nullptr, 0, &worker.threadId);
    if (worker.thread == nullptr)
        return 0;
    if (WaitDelivering(worker.answered) && worker.instance != 0)
        return 1;
    EndWorker();
    return 0;
}

// Ends the worker and its DDE instance, within the limit.
static void StopWorker()
{
    HANDLE thread = worker.thread;
    if (thread != nullptr) {
        EndWorker();
        WaitDelivering(thread);
    }
}

// Has the worker make one conversation: what became of it. Unanswered when
// there is no worker (none started, or one given up); timed out when it
// did not answer in time, and it is given up.
static CommandOutcome Talk(const char *command)
{
    if (worker.thread == nullptr || !CopyText(worker.command, sizeof worker.command, command))
        return COMMAND_UNANSWERED;
    worker.connected = 0;
    worker.outcome = COMMAND_UNANSWERED;
    if (PostThreadMessageA(worker.threadId, WM_CONVERSE, 0, 0) &&
        WaitDelivering(worker.answered))
        return worker.outcome;
    EndWorker();
    return COMMAND_TIMED_OUT;
}

int ProgmanOpen()
{
    ProgmanClose();
    progmanLink.isOpen = StartWorker();
    progmanLink.instanceId = worker.instance;
    return progmanLink.isOpen;
}

static CommandOutcome Execute(const char *command)
{
    return progmanLink.isOpen ? Talk(command) : COMMAND_UNANSWERED;
}

int ProgmanExecute(const char *command)
{
    return Execute(command) == COMMAND_DONE;
}

// An argument goes in double quotes when it holds a character that the
// command syntax gives a meaning to, or a blank at either end, which the
// Program Manager would drop. Plain names are sent as they are.
static int NeedsQuotes(const char *argument)
{
    size_t length = strlen(argument);
    if (length > 0 && (argument[0] == ' ' || argument[length - 1] == ' '))
        return 1;
    return strpbrk(argument, "(),[]") != nullptr;
}

// Appends one argument, in double quotes when `quoted` or when it needs
// them. 0 when it cannot be sent: the syntax has no way to carry a quote or
// a control character, or the command does not fit.
static int AppendArgument(char *command, size_t size, const char *argument, int quoted)
{
    for (const unsigned char *c = (const unsigned char *)argument; *c != '\0'; c++) {
        if (*c < ' ' || *c == '"')
            return 0;
    }
    quoted = quoted || NeedsQuotes(argument);
    return (!quoted || AppendText(command, size, "\"")) && AppendText(command, size, argument) &&
           (!quoted || AppendText(command, size, "\""));
}

// Composes "[verb(name<rest>)]" for a group or item name; 0 when the name
// cannot stand in a command or the command does not fit.
static int ComposeNameCommand(char *command, size_t size, const char *verb, const char *name,
                              int quoted, const char *rest)
{
    return IsUsableProgmanName(name) && FormatText(command, size, "[%s(", verb) &&
           AppendArgument(command, size, name, quoted) && AppendText(command, size, rest) &&
           AppendText(command, size, ")]");
}

Outcome ProgmanCreateGroup(const char *groupName)
{
    char command[PROGMAN_COMMAND_SIZE];
    // A group that cannot be named is not made, and no item may follow:
    // it would land in whichever group the Program Manager has current.
    if (!ComposeNameCommand(command, sizeof command, "CreateGroup", groupName, 0, ""))
        return OUTCOME_NONE;
    if (!ProgmanOpen())
        return OUTCOME_NONE;
    // One that did not answer in time may be making it still: its items
    // follow. Where none answered, they would land in whichever group the
    // Program Manager has current, if one answers them.
    CommandOutcome outcome = Execute(command);
    return outcome == COMMAND_UNANSWERED ? OUTCOME_UNUSABLE
           : outcome == COMMAND_REFUSED  ? OUTCOME_NONE
                                         : OUTCOME_DONE;
}

int ProgmanShowGroup(const char *groupName)
{
    char command[PROGMAN_COMMAND_SIZE];
    // 7: minimised and not activated, so no window takes the focus.
    if (!ComposeNameCommand(command, sizeof command, "ShowGroup", groupName, 0, ",7"))
        return 0;
    return ProgmanExecute(command);
}

Outcome ProgmanAddItem(const char *itemName, const char *workingDirectory, const char *fileName,
                       const char *commandLine)
{
    char directory[PATH_SIZE];
    if (workingDirectory[0] != '\0') {
        if (!CopyText(directory, sizeof directory, workingDirectory))
            return OUTCOME_NONE;
    } else {
        DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
        if (length == 0 || length >= sizeof directory)
            return OUTCOME_NONE;
    }
    const char *name = itemName[0] != '\0' ? itemName : fileName;
    // Both commands are composed first: removing the old item is no use when
    // the new one cannot be sent.
    char deleteCommand[PROGMAN_COMMAND_SIZE];
    char addCommand[PROGMAN_COMMAND_SIZE];
    if (!ComposeNameCommand(deleteCommand, sizeof deleteCommand, "DeleteItem", name, 1, "") ||
        !CopyText(addCommand, sizeof addCommand, "[AddItem(") ||
        !AppendArgument(addCommand, sizeof addCommand, commandLine, 1) ||
        !AppendText(addCommand, sizeof addCommand, ",") ||
        !AppendArgument(addCommand, sizeof addCommand, name, 1) ||
        !AppendText(addCommand, sizeof addCommand, ",,,,,") ||
        !AppendArgument(addCommand, sizeof addCommand, directory, 0) ||
        !AppendText(addCommand, sizeof addCommand, ")]"))
        return OUTCOME_NONE;
    // An item of the same name is removed first, so a repeated install
    // replaces it instead of adding a second one.
    ProgmanExecute(deleteCommand);
    CommandOutcome outcome = Execute(addCommand);
    return outcome == COMMAND_DONE      ? OUTCOME_DONE
           : outcome == COMMAND_REFUSED ? OUTCOME_NONE
                                        : OUTCOME_UNUSABLE;
}

int ProgmanDeleteItem(const char *itemName, const char *filePath)
{
    const char *name = itemName[0] != '\0' ? itemName : filePath;
    char command[PROGMAN_COMMAND_SIZE];
    if (ComposeNameCommand(command, sizeof command, "DeleteItem", name, 1, ""))
        ProgmanExecute(command);
    return 1;
}

int ProgmanClose()
{
    StopWorker();
    progmanLink.isOpen = false;
    return 1;
}

int ProgmanDeleteGroup(const char *groupName)
{
    char command[PROGMAN_COMMAND_SIZE];
    return ComposeNameCommand(command, sizeof command, "DeleteGroup", groupName, 0, "") &&
           ProgmanExecute(command);
}

int ProgmanCloseAndDeleteGroup(const char *groupName)
{
    // Only the group under the default name is ours to delete; a group the
    // user chose may hold other programs' items.
    if (progmanLink.isOpen && SameText(groupName, PRODUCT_NAME))
        ProgmanDeleteGroup(groupName);
    return ProgmanClose();
}

Outcome ProgmanItemPath(int common, const char *group, const char *itemName, char *path,
                        size_t size)
{
    char folder[MAX_PATH];
    if (!ReadProgramsFolder(common, folder, sizeof folder))
        return OUTCOME_NONE;
    int fits = itemName == nullptr
                   ? JoinPath(path, size, folder, group)
                   : FormatText(path, size, "%s\\%s\\%s.lnk", folder, group, itemName);
    return fits ? OUTCOME_DONE : OUTCOME_UNUSABLE;
}

static void AddGroupNames(HWND comboBox)
{
    char *name = groupReply;
    while (*name != '\0') {
        char *end = name + strcspn(name, "\r\n");
        char separator = *end;
        *end = '\0';
        if (end != name)
            SendMessageA(comboBox, CB_ADDSTRING, 0, (LPARAM)name);
        if (separator == '\0')
            break;
        // Splits in place: the names stay in the buffer for the caller.
        name = end + 1;
    }
}

const char *ProgmanListGroups(HWND comboBox)
{
    groupReply[0] = '\0';
    // A worker of its own, as the link is closed while the prompt asks.
    if (!StartWorker())
        return nullptr;
    int answered = Talk("") != COMMAND_TIMED_OUT;
    StopWorker();
    if (!answered || !worker.connected)
        return nullptr;
    AddGroupNames(comboBox);
    return groupReply;
}
