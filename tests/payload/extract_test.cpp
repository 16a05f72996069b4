// Extraction of the carried files into the temporary directory, and clean-up.
#include <gtest/gtest.h>

#include "app/session.h"
#include "payload/extract.h"
#include "payload/table.h"
#include "payload_support.h"
#include "wintest.h"

namespace {

using Extraction = PayloadTest;

std::string ExtractingLine(const std::string &directory, const PayloadEntry &row)
{
    return "Extracting to " + directory + row.destName + ", " +
           std::to_string(ResourceBytes(row.resourceName).size()) + " bytes";
}

// Sets an environment variable for the life of the object.
struct EnvironmentScope {
    std::string name, saved;
    bool had;
    EnvironmentScope(const char *variable, const std::string &value) : name(variable)
    {
        char old[1024];
        DWORD length = GetEnvironmentVariableA(variable, old, sizeof old);
        had = length > 0 && length < sizeof old;
        saved = had ? old : "";
        SetEnvironmentVariableA(variable, value.c_str());
    }
    ~EnvironmentScope() { SetEnvironmentVariableA(name.c_str(), had ? saved.c_str() : nullptr); }
};

TEST_F(Extraction, WritesEveryRowUnchangedUnderTheProgressWindow)
{
    StatusWatch watch;
    EXPECT_EQ(payloadCount, ExtractPayload(session.instance, owner));

    std::vector<std::string> expected;
    for (int i = 0; i < payloadCount; ++i) {
        const PayloadEntry &row = payloadTable[i];
        std::string bytes = ReadFileBytes(TempPath() + row.destName);
        EXPECT_EQ(SZDD_MAGIC, bytes.substr(0, 8)) << row.destName;
        EXPECT_TRUE(bytes == ResourceBytes(row.resourceName)) << row.destName;
        EXPECT_EQ(PAYLOAD_EXTRACTED, row.state) << row.destName;
        expected.push_back(ExtractingLine(TempPath(), row));
    }
    EXPECT_EQ(expected, LogLines());
    // Each line was on the status line of the progress window, the active dialog.
    EXPECT_EQ(expected, watch.texts);
    EXPECT_EQ(std::vector<std::string>(expected.size(), "Installation"), watch.captions);
    EXPECT_TRUE(watch.activeDialogWasProgress);
    EXPECT_EQ(nullptr, session.activeDialog);
    EXPECT_EQ(nullptr, FindTopWindow(GetCurrentProcessId(), "#32770", "Installation"));
}

TEST_F(Extraction, QuietShowsNoWindowAndLogsTheSame)
{
    session.quiet = 1;
    StatusWatch watch;
    EXPECT_EQ(payloadCount, ExtractPayload(session.instance, owner));
    std::vector<std::string> expected;
    for (int i = 0; i < payloadCount; ++i)
        expected.push_back(ExtractingLine(TempPath(), payloadTable[i]));
    EXPECT_EQ(expected, LogLines());
    EXPECT_TRUE(watch.texts.empty());
    EXPECT_EQ(nullptr, session.activeDialog);
}

TEST_F(Extraction, MissingResourceSkipsOnlyItsRow)
{
    payloadTable[2].resourceName = "NOSUCHFILE";
    EXPECT_EQ(payloadCount - 1, ExtractPayload(session.instance, owner));

    std::vector<std::string> expected;
    for (int i = 0; i < payloadCount; ++i) {
        const PayloadEntry &row = payloadTable[i];
        if (i == 2) {
            expected.push_back("Failed to locate resource NOSUCHFILE");
            EXPECT_EQ(0u, row.state);
            EXPECT_FALSE(FileExists(TempPath() + row.destName));
        } else {
            expected.push_back(ExtractingLine(TempPath(), row));
            EXPECT_EQ(PAYLOAD_EXTRACTED, row.state);
        }
    }
    EXPECT_EQ(expected, LogLines());
}

TEST_F(Extraction, ProgramWithoutPayloadExtractsNothingAndCleansNothing)
{
    HMODULE empty = LoadLibraryExA(BuildPath("setup-empty.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(0, ExtractPayload(empty, owner));
    FreeLibrary(empty);

    std::vector<std::string> expected;
    for (int i = 0; i < payloadCount; ++i) {
        expected.push_back(std::string("Failed to locate resource ") +
                           payloadTable[i].resourceName);
        EXPECT_EQ(0u, payloadTable[i].state);
        EXPECT_FALSE(FileExists(TempPath() + payloadTable[i].destName));
    }
    EXPECT_EQ(expected, LogLines());

    // A file of a payload name that this run did not write stays.
    WriteFileBytes(TempPath() + "tarnlink.exe", "someone else's");
    ClearLog();
    EXPECT_EQ(0, RemoveTempFiles());
    EXPECT_TRUE(LogLines().empty());
    EXPECT_EQ("someone else's", ReadFileBytes(TempPath() + "tarnlink.exe"));
}

TEST_F(Extraction, ReplacesAFileAlreadyInTheTemporaryDirectory)
{
    WriteFileBytes(TempPath() + "tarnlink.txt", std::string(100000, 'x'));
    EXPECT_EQ(payloadCount, ExtractPayload(session.instance, owner));
    EXPECT_TRUE(ReadFileBytes(TempPath() + "tarnlink.txt") == ResourceBytes("TXTFILE"));
}

TEST_F(Extraction, CleanUpDeletesExactlyWhatWasExtracted)
{
    // A directory where the last row's file should go: its creation fails.
    ASSERT_TRUE(CreateDirectoryA((TempPath() + "mib.txt").c_str(), nullptr));
    EXPECT_EQ(payloadCount - 1, ExtractPayload(session.instance, owner));
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ((size_t)payloadCount + 1, lines.size());
    EXPECT_EQ(ExtractingLine(TempPath(), payloadTable[6]), lines[6]);
    EXPECT_EQ("File creation error on " + TempPath() + "mib.txt", lines[7]);
    EXPECT_EQ(0u, payloadTable[6].state);

    ClearLog();
    EXPECT_EQ(0, RemoveTempFiles());
    std::vector<std::string> expected;
    for (int i = 0; i < payloadCount - 1; ++i) {
        expected.push_back("Removing " + TempPath() + payloadTable[i].sourceName);
        EXPECT_FALSE(FileExists(TempPath() + payloadTable[i].sourceName));
        // The marks stay.
        EXPECT_EQ(PAYLOAD_EXTRACTED, payloadTable[i].state);
    }
    EXPECT_EQ(expected, LogLines());
    EXPECT_TRUE(DirectoryExists(TempPath() + "mib.txt"));
}

TEST_F(Extraction, OverlongTemporaryPathsAreNeverCut)
{
    std::string parent = ScratchDirectory("payload-long");
    // 252 characters with the closing backslash: the directory fits its
    // buffer, but no file name fits after it.
    std::string fits = parent + "\\" + std::string(250 - parent.size(), 'd');
    {
        EnvironmentScope tmp("TMP", fits);
        ASSERT_EQ(fits + "\\", TempPath());
        EXPECT_EQ(0, ExtractPayload(session.instance, owner));
    }
    std::vector<std::string> expected;
    for (int i = 0; i < payloadCount; ++i) {
        expected.push_back("File creation error on " + fits + "\\" + payloadTable[i].destName);
        EXPECT_EQ(0u, payloadTable[i].state);
    }
    EXPECT_EQ(expected, LogLines());

    // 257 characters with the closing backslash: the directory itself does not fit.
    std::string tooLong = parent + "\\" + std::string(255 - parent.size(), 'e');
    ClearLog();
    {
        EnvironmentScope tmp("TMP", tooLong);
        ASSERT_EQ(tooLong + "\\", TempPath());
        EXPECT_EQ(0, ExtractPayload(session.instance, owner));
        EXPECT_EQ(0, RemoveTempFiles());
    }
    expected.clear();
    for (int i = 0; i < payloadCount; ++i)
        expected.push_back("File creation error on " + tooLong + "\\" + payloadTable[i].destName);
    EXPECT_EQ(expected, LogLines());

    // Nothing was written anywhere: not beside the directories, not here.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((parent + "\\*").c_str(), &found);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do
            ++entries;
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(2, entries);   // "." and ".."
    for (int i = 0; i < payloadCount; ++i)
        EXPECT_FALSE(FileExists(workDir + "\\" + payloadTable[i].destName));
    DeleteTree(parent);
}

} // namespace
