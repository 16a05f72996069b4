// What the end-to-end scenarios share: a clean machine, a run of setup.exe
// in a scratch directory, and the installation's expected traces.
#ifndef TARNLINK_E2E_SUPPORT_H
#define TARNLINK_E2E_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state.h"
#include "wintest.h"

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
    // The same, until its destination prompt shows (null when none came).
    HWND StartToPrompt(Program &program, const std::string &switches);
    // A whole quiet run of `exe` (by default the build's setup.exe); returns
    // its exit code.
    int RunQuiet(const std::string &switches, const std::string &exe = "");
    // The same, looking for a dialog or message box of the program all the
    // while; one that appears is counted in `dialogs` and cancelled.
    int RunQuietWatched(const std::string &switches, int &dialogs);
    std::vector<std::string> Log();
    // Whether the log holds `line` whole.
    bool Logged(const std::string &line);
    void DeleteLog() { DeleteFileA((directory + "\\setup.log").c_str()); }
    // Emulated Windows version of setup.exe ("win95", "nt40", ...; "" none).
    void EmulateWindows(const char *version);

    // The whole state now (but the scenario's own directory), with setup.log.
    MachineState State() { return TakeState(directory, directory + "\\setup.log"); }
    // The state as the scenario started, and what a successful install into
    // `dir` with `group` adds to it (no log).
    MachineState Clean(const MachineState &overrides = {});
    MachineState Installed(const std::string &dir, const std::string &group,
                           const MachineState &overrides = {});
    // What a removal that could not finish keeps of an installation in `dir`
    // with `group`: the Uninstall entry, the directory and the files named.
    MachineState Left(const std::string &dir, const std::vector<std::string> &names,
                      const std::string &group = "Tarnlink Suite");
    // What a run that failed after its copy keeps: files and settings.
    MachineState Copied(const std::string &dir, const MachineState &overrides = {});
    // The log of a logged install into `dir`: its outcome after the copy
    // (by default the group, the items and the success).
    static MachineState InstallLog(const std::string &dir,
                                   std::vector<std::string> outcome = {});
    // Compares the whole state with `expected`; each difference is a line.
    void ExpectState(const MachineState &expected, const std::string &row = "")
    {
        ::ExpectState(expected, State(), row);
    }
    void ExpectInstalledIn(const std::string &dir, const std::string &group,
                           const MachineState &overrides = {})
    {
        ExpectState(Installed(dir, group, overrides), dir);
    }
    void ExpectNoTempFiles();

    std::string directory;  // the scratch current directory, with setup.log
    std::string programs;   // the build folder whose programs an install carries
    MachineState clean;
};

// A file of the Windows directory ("win.ini").
std::string WindowsFile(const char *name);

// A value of the Uninstall entry ("" where there is none).
std::string EntryValue(const char *name);
// What removetl.exe's copies leave for the next restart (their directories
// under the temporary one, the requests to delete them) goes now.
void RemoveUninstallerCopies();

// A text in lower case (ASCII letters).
std::string Lowered(std::string text);
// The requests to delete files at the next restart, lower case, each text
// followed by '|'.
std::string PendingDeletes();

// Presses `button` on the dialog with `caption` of the process and returns
// the dialog's message text (empty for a dialog that is not a message box).
std::string Answer(const Program &program, const char *caption, int button,
                   DWORD ms = 15000);

#endif
