// What the end-to-end scenarios share: a clean machine, a run of setup.exe
// in a scratch directory, and the installation's expected traces.
#ifndef TARNLINK_E2E_SUPPORT_H
#define TARNLINK_E2E_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wintest.h"

extern const char DEFAULT_DIR[];
extern const char UNINSTALL_KEY[];
extern const char SETTINGS_KEY[];

struct PayloadFile {
    const char *name;
    std::string original;   // path of the file as built or written
};
// The programs as built in the folder `programs` of the build ("" the build
// itself, "signed\\build\\" the build that signs them).
std::vector<PayloadFile> PayloadFiles(const std::string &programs = "");
extern const char *const ITEM_TITLES[4];

class Scenario : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts setup.exe with the switches, its current directory the scratch one.
    void Start(Program &program, const std::string &switches);
    // A whole quiet run; returns its exit code.
    int RunQuiet(const std::string &switches);
    // The same, looking for a dialog or message box of the program all the
    // while; one that appears is counted in `dialogs` and cancelled.
    int RunQuietWatched(const std::string &switches, int &dialogs);
    std::vector<std::string> Log();
    // Emulated Windows version of setup.exe ("win95", "nt40", ...; "" none).
    void EmulateWindows(const char *version);

    void ExpectInstalledIn(const std::string &directory, const std::string &group,
                           const std::string &programs = "");
    void ExpectNoTempFiles();

    std::string directory;  // the scratch current directory, with setup.log
};

// Two paths of the same file or directory, letter case aside.
bool SameFile(const std::string &a, const std::string &b);

// Presses `button` on the dialog with `caption` of the process and returns
// the dialog's message text (empty for a dialog that is not a message box).
std::string Answer(const Program &program, const char *caption, int button,
                   DWORD ms = 15000);

#endif
