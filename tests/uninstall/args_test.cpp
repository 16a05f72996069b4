// The uninstaller's command line as it reads it, and the copy's check of the
// first process it is handed.
#include <gtest/gtest.h>

#include <string>

#include "uninstall/args.h"
#include "uninstall/handover.h"
#include "wintest.h"

TEST(UninstallArguments, ValuesAreReadWholeAndSwitchesOnlyWhereTheyStand)
{
    const std::string x252(252, 'x'), g255(255, 'g');
    const struct {
        std::string line;
        bool usable;
        const char *programDir = nullptr, *dataDir = nullptr, *group = nullptr;
        bool quiet = false;
    } rows[] = {
        {"-f \"C:\\Tarnlink\" -d \"C:\\Tarnlink\" -g \"Tarnlink Suite\"", true, "C:\\Tarnlink",
         "C:\\Tarnlink", "Tarnlink Suite", false},
        // As earlier versions recorded it: unquoted, up to the next switch.
        {"-f C:\\Tarnlink -d C:\\Tarnlink -g Tarnlink Suite -q", true, "C:\\Tarnlink",
         "C:\\Tarnlink", "Tarnlink Suite", true},
        {"-s -f C:\\ -g \"Tarnlink Suite\"", true, "C:", "C:", "Tarnlink Suite", true},
        // A value that holds what looks like a switch is a value.
        {"-f \"C:\\Apps -s Net\" -d \"C:\\Apps -s Net\" -g \"Tarnlink Suite\"", true,
         "C:\\Apps -s Net", "C:\\Apps -s Net", "Tarnlink Suite", false},
        {"-f \"C:\\Apps -q\" -g \"Net -w 5 -o 6 Tools\"", true, "C:\\Apps -q", "C:\\Apps -q",
         "Net -w 5 -o 6 Tools", false},
        {"-f \"C:\\A -f B\" -g \"G -d C:\\\"", true, "C:\\A -f B", "C:\\A -f B", "G -d C:\\", false},
        {"-q -f \"C:\\Apps -s Net\" -g G", true, "C:\\Apps -s Net", "C:\\Apps -s Net", "G", true},
        // Unquoted, a quote is part of the value; quoted, it ends it.
        {"-f C:\\A\"B -g G", true, "C:\\A\"B", "C:\\A\"B", "G", false},
        {"-f \"C:\\Apps\" -g \"Say \"hi\"\"", false},
        // Fields filled to their last character, and one more.
        {"-f \"C:\\" + x252 + "\" -d C: -g G", true, nullptr, "C:", "G", false},
        {"-f \"C:\\" + x252 + "x\" -d C: -g G", false},
        {"-f C:\\T -g \"" + g255 + "\"", true, "C:\\T", "C:\\T", nullptr, false},
        {"-f C:\\T -g \"" + g255 + "g\"", false},
        // What cannot be used: relative, empty, missing, twice, unterminated.
        {"-f Tarnlink -g \"Tarnlink Suite\"", false},
        {"-f \"C:Tarnlink\" -g \"Tarnlink Suite\"", false},
        {"-f \"\" -g \"Tarnlink Suite\"", false},
        {"-d C: -g \"Tarnlink Suite\"", false},
        {"-f C: -d C: -g", false},
        {"-f \"C: -g \"Tarnlink Suite\"", false},
        {"-f C: -f C: -g \"Tarnlink Suite\"", false},
        {"-f C: -g \"Tarnlink Suite\" extra", false},
        {"-w 1x -f C: -g G", false},
        {"-w 12-3 -f C: -g G", false},
        {"-x -f C: -g G", false},
        {"-f C:\\T -g \"G", false},
        {"-f C:\\T", false},
        {"-f C:\\T -d D -g G", false},
        // Tabs are blanks too.
        {"-f\tC:\\T\t-g\tG\t-q", true, "C:\\T", "C:\\T", "G", true},
        // A quiet switch read before what cannot be used still counts.
        {"-q -f Tarnlink -g G", false, nullptr, nullptr, nullptr, true},
    };
    for (const auto &row : rows) {
        Arguments args = {};
        EXPECT_EQ(row.usable, ParseArguments(row.line.c_str(), args) != 0) << row.line;
        EXPECT_EQ(row.quiet, args.quiet != 0) << row.line;
        if (!row.usable)
            continue;
        std::string programDir = row.programDir ? row.programDir : "C:\\" + x252;
        EXPECT_EQ(programDir, args.programDir) << row.line;
        EXPECT_STREQ(row.dataDir, args.dataDir) << row.line;
        EXPECT_EQ(row.group ? row.group : g255, args.group) << row.line;
        EXPECT_EQ(nullptr, args.firstProcess) << row.line;
    }
}

TEST(UninstallArguments, RecordedLineIsReadOnlyWhole)
{
    const char key[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnlink Suite";
    const std::string line = "\"C:\\T\\removetl.exe\" -f \"C:\\T\" -g \"Tarnlink Suite\"";
    // Of 2046 characters it is used; of 2047 it would fill the reader's buffer.
    for (size_t length : {line.size(), (size_t)2046, (size_t)2047}) {
        std::string recorded = line + std::string(length - line.size(), ' ');
        ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, key, "UninstallString", REG_SZ, recorded));
        char arguments[COMMAND_SIZE];
        EXPECT_EQ(length < 2047, ReadRecordedArguments(arguments, sizeof arguments) != 0) << length;
        if (length < 2047) {
            EXPECT_EQ(recorded.substr(recorded.find(" -f")), arguments);
        }
    }
    // Unquoted, the program's name runs up to the first switch. A line without
    // -f, with its quote unclosed, or of another type is not used.
    const struct {
        const char *recorded;
        DWORD type;
        const char *arguments;
    } others[] = {{"C:\\Program Files\\T\\removetl.exe -f C:\\T -g G", REG_SZ, " -f C:\\T -g G"},
                  {"\"C:\\T\\removetl.exe -f C:\\T -g G", REG_SZ, nullptr},
                  {"\"C:\\T\\removetl.exe\" -g G", REG_SZ, nullptr},
                  {"\"C:\\T\\removetl.exe\" -f C:\\T -g G", REG_EXPAND_SZ, nullptr}};
    for (const auto &row : others) {
        ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, key, "UninstallString", row.type,
                                     row.recorded));
        char arguments[COMMAND_SIZE] = "";
        EXPECT_EQ(row.arguments != nullptr, ReadRecordedArguments(arguments, sizeof arguments) != 0)
            << row.recorded;
        if (row.arguments != nullptr) {
            EXPECT_STREQ(row.arguments, arguments) << row.recorded;
        }
    }
    DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, key);
    char arguments[COMMAND_SIZE];
    EXPECT_EQ(0, ReadRecordedArguments(arguments, sizeof arguments));
}

TEST(UninstallHandOver, OnlyARealHandleOfAnotherRunningProcessIsTheFirst)
{
    HANDLE self = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(),
                                &self, PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, 0));
    // Another program, waiting to be resumed, and then ended.
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION other = {};
    ASSERT_TRUE(CreateProcessA(program, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, nullptr, &startup, &other));
    EXPECT_EQ(1, IsFirstProcess(other.hProcess));
    EXPECT_EQ(0, IsFirstProcess(nullptr));
    EXPECT_EQ(0, IsFirstProcess((HANDLE)-1));   // this process's pseudo-handle
    EXPECT_EQ(0, IsFirstProcess((HANDLE)4));
    EXPECT_EQ(0, IsFirstProcess(self));
    TerminateProcess(other.hProcess, 0);
    WaitForSingleObject(other.hProcess, 5000);
    EXPECT_EQ(0, IsFirstProcess(other.hProcess));   // no longer running
    CloseHandle(other.hThread);
    CloseHandle(other.hProcess);
    CloseHandle(self);
}
