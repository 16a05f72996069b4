#include "progman.h"

#include <ddeml.h>
#include <string.h>

#include "../base/names.h"
#include "../base/session.h"
#include "../base/text.h"

ProgmanLink progmanLink;

constexpr size_t COMMAND_SIZE = 512;
constexpr size_t PATH_SIZE = 260;
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

static int StartClient(DWORD &instance)
{
    instance = 0;
    return DdeInitializeA(&instance, ProgmanCallback, APPCMD_CLIENTONLY, 0) == DMLERR_NO_ERROR;
}

int ProgmanOpen()
{
    progmanLink.isOpen = StartClient(progmanLink.instanceId);
    return progmanLink.isOpen;
}

// What became of one command. A Program Manager slower than the time-out may
// still carry it out after the client has given up on it.
enum CommandOutcome { COMMAND_DONE, COMMAND_UNANSWERED, COMMAND_REFUSED, COMMAND_TIMED_OUT };

// The platform's DdeConnect waits without a limit for a Program Manager
// that has stopped answering (hung, or held by a debugger). So each
// conversation runs on a thread of its own, and one that takes longer than
// this is given up: its thread is left behind, and nothing more is sent to a
// Program Manager while it still waits.
constexpr DWORD CONVERSATION_LIMIT = 5000;
static HANDLE leftBehind;

// One conversation, in storage of its own that a thread left behind may
// still use: an execute of `command`, or (empty) the request of "Groups".
static struct Conversation {
    HDESK desktop;   // the caller's, where its Program Manager answers
    char command[COMMAND_SIZE];
    char reply[GROUP_REPLY_SIZE];
    DWORD replySize;
    int connected;
    CommandOutcome outcome;
} conversation;

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

static void Converse(DWORD instance, Conversation &talk)
{
    HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    HSZ item = DdeCreateStringHandleA(instance, "Groups", CP_WINANSI);
    HCONV link = service != nullptr && item != nullptr
                     ? DdeConnect(instance, service, service, nullptr)
                     : nullptr;
    if (link != nullptr) {
        talk.connected = 1;
        if (talk.command[0] != '\0') {
            // The terminating zero travels with the command.
            DWORD status = 0;
            HDDEDATA done = DdeClientTransaction((LPBYTE)talk.command,
                                                 (DWORD)strlen(talk.command) + 1, link, nullptr,
                                                 CF_TEXT, XTYP_EXECUTE, TRANSACTION_TIMEOUT,
                                                 &status);
            talk.outcome = done != nullptr ? COMMAND_DONE
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
                KeepReply(talk.reply, sizeof talk.reply, data, size);
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

static DWORD WINAPI ConversationThread(void *)
{
    Conversation &talk = conversation;
    DWORD instance = 0;
    // Before the thread makes any window: a thread keeps its first desktop.
    if (SetThreadDesktop(talk.desktop) && StartClient(instance)) {
        Converse(instance, talk);
        DdeUninitialize(instance);
    }
    return 0;
}

// Runs one conversation within CONVERSATION_LIMIT; while it runs, messages
// sent to this thread's windows (the conversation's own broadcast among
// them) are delivered. 0 when it could not be held or took too long.
static int Talk(const char *command)
{
    if (leftBehind != nullptr) {
        if (WaitForSingleObject(leftBehind, 0) != WAIT_OBJECT_0)
            return 0;
        CloseHandle(leftBehind);
        leftBehind = nullptr;
    }
    conversation.desktop = GetThreadDesktop(GetCurrentThreadId());
    conversation.reply[0] = '\0';
    conversation.connected = 0;
    conversation.outcome = COMMAND_UNANSWERED;
    if (!CopyText(conversation.command, sizeof conversation.command, command))
        return 0;
    DWORD id;
    HANDLE thread = CreateThread(nullptr, 0, ConversationThread, nullptr, 0, &id);
    if (thread == nullptr)
        return 0;
    DWORD start = GetTickCount(), elapsed;
    int ended = 0;
    while (!ended && (elapsed = GetTickCount() - start) < CONVERSATION_LIMIT) {
        DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, CONVERSATION_LIMIT - elapsed,
                                                QS_SENDMESSAGE);
        MSG message;
        if (woken == WAIT_OBJECT_0 + 1)
            PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
        else
            ended = woken == WAIT_OBJECT_0;
    }
    if (ended)
        CloseHandle(thread);
    else
        leftBehind = thread;
    return ended;
}

static CommandOutcome Execute(DWORD, const char *command)
{
    if (!progmanLink.isOpen || !Talk(command))
        return COMMAND_UNANSWERED;
    return conversation.outcome;
}

int ProgmanExecute(DWORD instanceId, const char *command)
{
    return Execute(instanceId, command) == COMMAND_DONE;
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

int ProgmanCreateGroup(const char *groupName)
{
    char command[COMMAND_SIZE];
    // A group that cannot be named is not made, and no item may follow:
    // it would land in whichever group the Program Manager has current.
    if (!ComposeNameCommand(command, sizeof command, "CreateGroup", groupName, 0, ""))
        return 0;
    if (!ProgmanOpen())
        return 0;
    // One that did not answer in time may be making it still: its items
    // follow, and are checked.
    return Execute(progmanLink.instanceId, command) != COMMAND_REFUSED;
}

int ProgmanShowGroup(const char *groupName)
{
    char command[COMMAND_SIZE];
    // 7: minimised and not activated, so no window takes the focus.
    if (!ComposeNameCommand(command, sizeof command, "ShowGroup", groupName, 0, ",7"))
        return 0;
    return ProgmanExecute(progmanLink.instanceId, command);
}

int ProgmanAddItem(const char *itemName, const char *workingDirectory, const char *fileName,
                   const char *commandLine)
{
    char directory[PATH_SIZE];
    if (workingDirectory[0] != '\0') {
        if (!CopyText(directory, sizeof directory, workingDirectory))
            return 0;
    } else {
        DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
        if (length == 0 || length >= sizeof directory)
            return 0;
    }
    const char *name = itemName[0] != '\0' ? itemName : fileName;
    // Both commands are composed first: removing the old item is no use when
    // the new one cannot be sent.
    char deleteCommand[COMMAND_SIZE];
    char addCommand[COMMAND_SIZE];
    if (!ComposeNameCommand(deleteCommand, sizeof deleteCommand, "DeleteItem", name, 1, "") ||
        !CopyText(addCommand, sizeof addCommand, "[AddItem(") ||
        !AppendArgument(addCommand, sizeof addCommand, commandLine, 1) ||
        !AppendText(addCommand, sizeof addCommand, ",") ||
        !AppendArgument(addCommand, sizeof addCommand, name, 1) ||
        !AppendText(addCommand, sizeof addCommand, ",,,,,") ||
        !AppendArgument(addCommand, sizeof addCommand, directory, 0) ||
        !AppendText(addCommand, sizeof addCommand, ")]"))
        return 0;
    // An item of the same name is removed first, so a repeated install
    // replaces it instead of adding a second one.
    ProgmanExecute(progmanLink.instanceId, deleteCommand);
    // Without a Program Manager there is nobody to refuse it.
    CommandOutcome outcome = Execute(progmanLink.instanceId, addCommand);
    return outcome == COMMAND_TIMED_OUT ? -1 : outcome != COMMAND_REFUSED;
}

int ProgmanDeleteItem(const char *itemName, const char *filePath)
{
    const char *name = itemName[0] != '\0' ? itemName : filePath;
    char command[COMMAND_SIZE];
    if (ComposeNameCommand(command, sizeof command, "DeleteItem", name, 1, ""))
        ProgmanExecute(progmanLink.instanceId, command);
    return 1;
}

int ProgmanClose()
{
    if (progmanLink.isOpen)
        DdeUninitialize(progmanLink.instanceId);
    progmanLink.isOpen = false;
    return 1;
}

int ProgmanDeleteGroup(const char *groupName)
{
    char command[COMMAND_SIZE];
    return ComposeNameCommand(command, sizeof command, "DeleteGroup", groupName, 0, "") &&
           ProgmanExecute(progmanLink.instanceId, command);
}

int ProgmanCloseAndDeleteGroup(const char *groupName)
{
    // Only the group under the default name is ours to delete; a group the
    // user chose may hold other programs' items.
    if (progmanLink.isOpen && SameText(groupName, PRODUCT_NAME))
        ProgmanDeleteGroup(groupName);
    return ProgmanClose();
}

int ProgmanItemPath(int common, const char *group, const char *itemName, char *path,
                    size_t size)
{
    char folder[MAX_PATH];
    if (!ReadProgramsFolder(common, folder, sizeof folder))
        return -1;
    if (itemName == nullptr)
        return JoinPath(path, size, folder, group);
    return FormatText(path, size, "%s\\%s\\%s.lnk", folder, group, itemName);
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
    if (!Talk("") || !conversation.connected)
        return nullptr;
    CopyText(groupReply, sizeof groupReply, conversation.reply);
    AddGroupNames(comboBox);
    return groupReply;
}
