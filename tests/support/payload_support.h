// Shared by the payload suite: a fixture that puts the session and the table
// back, the carried files and their originals, a driver that answers the
// message boxes the code under test shows, and a watch on the progress
// window's status line.
#ifndef TARNLINK_PAYLOAD_SUPPORT_H
#define TARNLINK_PAYLOAD_SUPPORT_H

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/session.h"
#include "payload/table.h"
#include "wintest.h"

// A path in the source tree (read from the build's CMakeCache.txt).
std::string SourceTreePath(const char *relative);
// The bytes of a carried resource of this test program (type "EXE").
std::string ResourceBytes(const char *resourceName);
// The original, unpacked file of a table row.
std::string OriginalBytes(const PayloadEntry &row);
// The start of every SZDD file.
extern const std::string SZDD_MAGIC;

// Sets up a fresh run: logging on into a scratch current directory, not quiet,
// an owner window as mainWindow, no marks, no disk, no Cancel, no temporary
// payload files. Everything is put back afterwards.
class PayloadTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::vector<std::string> LogLines();   // setup.log of the scratch directory
    void ClearLog();

    HWND owner = nullptr;
    std::string workDir;                   // the scratch current directory
private:
    InstallSession savedSession;
    std::vector<PayloadEntry> savedTable;
    int savedCount = 0;
    char savedDirectory[MAX_PATH] = "";
};

// A message box as the user saw it.
struct SeenBox {
    std::string caption, text;
    bool ok, cancel, retry, yes, no;
    bool icon;
};

// Called with a box on the driver thread; returns the button to press.
using BoxAnswer = std::function<int(HWND box)>;
BoxAnswer Press(int button);

// Answers, from a second thread, the message boxes this process shows, one
// scripted answer per box in order. A box beyond the script is closed (Cancel,
// else No, else OK) and recorded, so a test never hangs on one.
class BoxAnswerer {
public:
    explicit BoxAnswerer(std::vector<BoxAnswer> script = {});
    ~BoxAnswerer() { Finish(); }
    // Call once the code under test has returned: every box seen, in order.
    std::vector<SeenBox> Finish();
private:
    void Watch();
    std::vector<BoxAnswer> script;
    std::vector<SeenBox> seen;
    volatile LONG done = 0;
    DialogDriver watcher;   // last: it starts Watch() at once
};

// Records every text put on a progress window's status line on this thread.
class StatusWatch {
public:
    StatusWatch();
    ~StatusWatch();
    std::vector<std::string> texts;
    std::vector<std::string> captions;      // the progress window's caption at each text
    bool activeDialogWasProgress = true;    // session.activeDialog was that window each time
    // Runs at each text, before the status line takes it.
    std::function<void(HWND progress, const std::string &text)> onText;
private:
    HHOOK hook;
    static StatusWatch *current;
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
};

#endif
