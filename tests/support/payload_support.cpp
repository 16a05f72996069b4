#include "payload_support.h"

#include "payload/copy.h"
#include "payload/extract.h"
#include "payload/progress.h"
#include "resources/resource.h"

const std::string SZDD_MAGIC("SZDD\x88\xF0\x27\x33", 8);

std::string SourceTreePath(const char *relative)
{
    return std::string(TEST_SOURCE_DIR) + "\\" + relative;
}

std::string ResourceBytes(const char *resourceName)
{
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(self, resourceName, "EXE");
    if (found == nullptr)
        return std::string();
    HGLOBAL loaded = LoadResource(self, found);
    return std::string((const char *)LockResource(loaded), SizeofResource(self, found));
}

std::string OriginalBytes(const PayloadEntry &row)
{
    std::string name = row.destName;
    // The programs are built into the build folder; the other files are sources.
    if (name == "tarnlink.exe" || name == "tarnlink.dll" || name == "removetl.exe")
        return ReadFileBytes(BuildPath(name.c_str()));
    return ReadFileBytes(SourceTreePath(("resources\\payload\\" + name).c_str()));
}

static void RemoveTempPayload()
{
    for (int i = 0; i < payloadCount; ++i) {
        std::string path = TempPath() + payloadTable[i].destName;
        DeleteTree(path);
        path.back() = '_';
        DeleteTree(path);
    }
}

void PayloadTest::SetUp()
{
    savedSession = session;
    savedCount = payloadCount;
    savedTable.assign(payloadTable, payloadTable + payloadCount);
    GetCurrentDirectoryA(sizeof savedDirectory, savedDirectory);

    workDir = ScratchDirectory("payload-work");
    SetCurrentDirectoryA(workDir.c_str());
    owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                            nullptr, nullptr);
    session.mainWindow = owner;
    session.activeDialog = nullptr;
    session.quiet = 0;
    session.logEnabled = 1;
    for (int i = 0; i < payloadCount; ++i)
        payloadTable[i].state = 0;
    currentDisk = 0;
    copyCancelled = 0;
    RemoveTempPayload();
}

void PayloadTest::TearDown()
{
    // The run's own directory, with whatever a test left in it.
    std::string extracted = ExtractionDirectory();
    RemoveTempFiles();
    if (!extracted.empty())
        DeleteTree(extracted.substr(0, extracted.size() - 1));
    RemoveTempPayload();
    payloadCount = savedCount;
    for (int i = 0; i < savedCount; ++i)
        payloadTable[i] = savedTable[i];
    currentDisk = 0;
    copyCancelled = 0;
    if (session.activeDialog != nullptr)
        DestroyWindow(session.activeDialog);
    DestroyWindow(owner);
    session = savedSession;
    SetCurrentDirectoryA(savedDirectory);
    DeleteTree(workDir);
}

std::vector<std::string> PayloadTest::LogLines()
{
    return ReadLogLines(workDir + "\\setup.log");
}

void PayloadTest::ClearLog()
{
    DeleteFileA((workDir + "\\setup.log").c_str());
}

BoxAnswer Press(int button)
{
    return [button](HWND) { return button; };
}

namespace {
// The box's icon control (stc1) holds an icon only when the style asked for one.
bool HasIcon(HWND box)
{
    HWND icon = GetDlgItem(box, 1088);
    DWORD_PTR handle = 0;
    return icon != nullptr &&
           SendMessageTimeoutA(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &handle) &&
           handle != 0;
}

HWND FindMessageBox()
{
    // Nothing here sends a message: the progress window's thread may be busy.
    auto isBox = [](HWND window) { return GetDlgItem(window, 0xFFFF) != nullptr; };
    std::vector<HWND> boxes = TopWindows(GetCurrentProcessId(), "#32770", isBox, true);
    return boxes.empty() ? nullptr : boxes[0];
}
} // namespace

BoxAnswerer::BoxAnswerer(std::vector<BoxAnswer> answers)
    : script(std::move(answers)), watcher([this] { Watch(); })
{
}

void BoxAnswerer::Watch()
{
    while (!done) {
        HWND box = FindMessageBox();
        if (box == nullptr) {
            Sleep(10);
            continue;
        }
        SeenBox seenBox = {WindowText(box), MessageBoxText(box), HasButton(box, IDOK),
                           HasButton(box, IDCANCEL), HasButton(box, IDRETRY),
                           HasButton(box, IDYES), HasButton(box, IDNO), HasIcon(box)};
        int button;
        if (seen.size() < script.size())
            button = script[seen.size()](box);
        else
            button = seenBox.cancel ? IDCANCEL : seenBox.no ? IDNO : IDOK;
        seen.push_back(seenBox);
        PressButton(box, button);
        WaitUntil([box] { return !IsWindow(box) || !IsWindowVisible(box); }, 10000);
    }
}

std::vector<SeenBox> BoxAnswerer::Finish()
{
    InterlockedExchange(&done, 1);
    watcher.Join();
    return seen;
}

StatusWatch *StatusWatch::current;

StatusWatch::StatusWatch()
{
    current = this;
    hook = SetWindowsHookExA(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
}

StatusWatch::~StatusWatch()
{
    UnhookWindowsHookEx(hook);
    current = nullptr;
}

LRESULT CALLBACK StatusWatch::Hook(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT &sent = *(const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && current != nullptr && sent.message == WM_SETTEXT &&
        GetDlgCtrlID(sent.hwnd) == IDC_STATUS) {
        HWND progress = GetParent(sent.hwnd);
        char caption[256] = "";
        GetWindowTextA(progress, caption, sizeof caption);
        std::string text = (const char *)sent.lParam;
        current->texts.push_back(text);
        current->captions.push_back(caption);
        if (session.activeDialog != progress)
            current->activeDialogWasProgress = false;
        if (current->onText)
            current->onText(progress, text);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
