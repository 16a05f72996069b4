// Extraction of the carried files into the temporary directory, and clean-up.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/session.h"
#include "base/system.h"
#include "payload/extract.h"
#include "payload/table.h"
#include "payload_support.h"
#include "progman_support.h"
#include "wintest.h"

namespace {

using Extraction = PayloadTest;

std::string ExtractingLine(const std::string &directory, const PayloadEntry &row)
{
    return "Extracting to " + directory + row.destName + ", " +
           std::to_string(ResourceBytes(row.resourceName).size()) + " bytes";
}

// A quiet run logs the same lines, and shows no window.
TEST_F(Extraction, WritesEveryRowUnchangedUnderTheProgressWindowUnlessQuiet)
{
    for (int quiet : {0, 1}) {
        SCOPED_TRACE(quiet ? "quiet" : "with the window");
        session.quiet = quiet;
        ClearLog();
        StatusWatch watch;
        EXPECT_EQ(payloadCount, ExtractPayload(session.instance, owner));

        // A directory of the run's own, new under the temporary one.
        std::string dir = ExtractionDirectory();
        std::vector<std::string> dirs = ExtractionDirectories();
        EXPECT_NE(dirs.end(), std::find(dirs.begin(), dirs.end(), dir)) << dir;
        std::vector<std::string> expected;
        for (int i = 0; i < payloadCount; ++i) {
            PayloadEntry &row = payloadTable[i];
            std::string bytes = ReadFileBytes(dir + row.destName);
            EXPECT_EQ(SZDD_MAGIC, bytes.substr(0, 8)) << row.destName;
            EXPECT_TRUE(bytes == ResourceBytes(row.resourceName)) << row.destName;
            EXPECT_EQ(PAYLOAD_EXTRACTED, row.state) << row.destName;
            EXPECT_FALSE(FileExists(TempPath() + row.destName)) << row.destName;
            expected.push_back(ExtractingLine(dir, row));
            row.state = 0;
        }
        EXPECT_EQ(expected, LogLines());
        // Each line was on the status line of the progress window, the active dialog.
        EXPECT_EQ(quiet ? std::vector<std::string>{} : expected, watch.texts);
        EXPECT_EQ(std::vector<std::string>(watch.texts.size(), "Installation"), watch.captions);
        EXPECT_TRUE(watch.activeDialogWasProgress);
        EXPECT_EQ(nullptr, session.activeDialog);
        EXPECT_EQ(nullptr, FindTopWindow(GetCurrentProcessId(), "#32770", "Installation"));
        EXPECT_EQ(0, RemoveTempFiles());
    }
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
            EXPECT_FALSE(FileExists(std::string(ExtractionDirectory()) + row.destName));
        } else {
            expected.push_back(ExtractingLine(ExtractionDirectory(), row));
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

    std::string dir = ExtractionDirectory();
    std::vector<std::string> expected;
    for (int i = 0; i < payloadCount; ++i) {
        expected.push_back(std::string("Failed to locate resource ") +
                           payloadTable[i].resourceName);
        EXPECT_EQ(0u, payloadTable[i].state);
        EXPECT_FALSE(FileExists(dir + payloadTable[i].destName));
    }
    EXPECT_EQ(expected, LogLines());

    // A file of a payload name that this run did not write stays, and so
    // does the directory that holds it.
    WriteFileBytes(dir + "tarnlink.exe", "someone else's");
    ClearLog();
    EXPECT_EQ(0, RemoveTempFiles());
    EXPECT_TRUE(LogLines().empty());
    EXPECT_EQ("someone else's", ReadFileBytes(dir + "tarnlink.exe"));
    DeleteTree(dir.substr(0, dir.size() - 1));
}

TEST_F(Extraction, FilesInTheTemporaryDirectoryAreNeitherUsedNorTouched)
{
    // Planted under the names a run would use, one of them read-only.
    const std::vector<std::string> planted = {"tarnlink.txt", "tarnlink.tx_", "tarnlink.ex_"};
    for (const std::string &name : planted)
        WriteFileBytes(TempPath() + name, "planted " + name);
    SetFileAttributesA((TempPath() + "tarnlink.txt").c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(payloadCount, ExtractPayload(session.instance, owner));
    std::string dir = ExtractionDirectory();
    EXPECT_TRUE(ReadFileBytes(dir + "tarnlink.txt") == ResourceBytes("TXTFILE"));
    EXPECT_FALSE(FileExists(dir + "tarnlink.tx_"));
    EXPECT_EQ(0, RemoveTempFiles());
    EXPECT_FALSE(DirectoryExists(dir));
    for (const std::string &name : planted)
        EXPECT_EQ("planted " + name, ReadFileBytes(TempPath() + name)) << name;
}

TEST_F(Extraction, CleanUpDeletesExactlyWhatWasExtracted)
{
    // Something appears where the last row's file should go, just before it
    // is created: a directory, or a file of someone else's. The extraction
    // writes through neither.
    for (bool plantFile : {false, true}) {
        SCOPED_TRACE(plantFile ? "file" : "directory");
        std::string mib;
        StatusWatch watch;
        watch.onText = [&](HWND, const std::string &text) {
            if (text.find("mib.txt,") == std::string::npos)
                return;
            mib = std::string(ExtractionDirectory()) + "mib.txt";
            if (plantFile)
                WriteFileBytes(mib, "someone else's");
            else
                CreateDirectoryA(mib.c_str(), nullptr);
        };
        ClearLog();
        for (int i = 0; i < payloadCount; ++i)
            payloadTable[i].state = 0;
        EXPECT_EQ(payloadCount - 1, ExtractPayload(session.instance, owner));
        std::string dir = ExtractionDirectory();
        std::vector<std::string> lines = LogLines();
        ASSERT_EQ((size_t)payloadCount + 1, lines.size());
        EXPECT_EQ(ExtractingLine(dir, payloadTable[6]), lines[6]);
        EXPECT_EQ("File creation error on " + dir + "mib.txt", lines[7]);
        EXPECT_EQ(0u, payloadTable[6].state);

        ClearLog();
        EXPECT_EQ(0, RemoveTempFiles());
        std::vector<std::string> expected;
        for (int i = 0; i < payloadCount - 1; ++i) {
            expected.push_back("Removing " + dir + payloadTable[i].sourceName);
            EXPECT_FALSE(FileExists(dir + payloadTable[i].sourceName));
            // The marks stay.
            EXPECT_EQ(PAYLOAD_EXTRACTED, payloadTable[i].state);
        }
        EXPECT_EQ(expected, LogLines());
        // What the run did not write stays, and with it the directory.
        if (plantFile)
            EXPECT_EQ("someone else's", ReadFileBytes(mib));
        else
            EXPECT_TRUE(DirectoryExists(mib));
        DeleteTree(dir.substr(0, dir.size() - 1));
    }
}

TEST_F(Extraction, DirectoryThatExistsAlreadyIsNeverTheRunsOwn)
{
    // The first name a run tries follows from the process: a run here shows
    // it, and the next run finds it planted, with a file in it.
    ASSERT_EQ(payloadCount, ExtractPayload(session.instance, owner));
    std::string planted = ExtractionDirectory();
    EXPECT_EQ(0, RemoveTempFiles());
    ASSERT_TRUE(CreateDirectoryA(planted.c_str(), nullptr));
    WriteFileBytes(planted + "tarnlink.exe", "planted");
    for (int i = 0; i < payloadCount; ++i)
        payloadTable[i].state = 0;

    EXPECT_EQ(payloadCount, ExtractPayload(session.instance, owner));
    std::string dir = ExtractionDirectory();
    EXPECT_NE(planted, dir);
    EXPECT_TRUE(ReadFileBytes(dir + "tarnlink.exe") == ResourceBytes("EXEFILE"));
    EXPECT_EQ(0, RemoveTempFiles());
    EXPECT_FALSE(DirectoryExists(dir));
    EXPECT_EQ("planted", ReadFileBytes(planted + "tarnlink.exe"));
    DeleteTree(planted.substr(0, planted.size() - 1));
}

TEST_F(Extraction, FileThatDoesNotFitTheDiskIsNotLeftShort)
{
    // Drive T: is a tmpfs of three pages (tests/support/fulldisk.sh): with two
    // taken, the uninstaller's packed file (over 8 KiB) is written short.
    if (GetDriveTypeA("T:\\") != DRIVE_FIXED && GetDriveTypeA("T:\\") != DRIVE_RAMDISK)
        GTEST_SKIP() << "no small drive T: (mounting a tmpfs needs root)";
    WriteFileBytes("T:\\filler", std::string(4097, 'f'));
    EXPECT_EQ(0, ExtractResourceFile(session.instance, nullptr, "REMFILE", "T:\\", "removetl.exe"));
    DeleteFileA("T:\\filler");
    EXPECT_FALSE(FileExists("T:\\removetl.exe"));
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u, lines[1].find("File write error on T:\\removetl.exe, ")) << lines[1];
    DeleteFileA("T:\\removetl.exe");
}

TEST_F(Extraction, OverlongTemporaryPathsAreNeverCut)
{
    std::string parent = ScratchDirectory("payload-long");
    std::string fits = parent + "\\" + std::string(250 - parent.size(), 'd');
    // 252 characters with the closing backslash: the directory fits a path,
    // but the run's own directory does not fit under it.
    {
        ScopedVariable tmp("TMP", fits.c_str());
        ASSERT_EQ(fits + "\\", TempPath());
        EXPECT_EQ(0, ExtractPayload(session.instance, owner));
    }
    std::vector<std::string> expected = {"File creation error on " + fits + "\\"};
    for (int i = 0; i < payloadCount; ++i)
        EXPECT_EQ(0u, payloadTable[i].state);
    EXPECT_EQ(expected, LogLines());

    // 240 characters: the run's own directory fits, its marker does not; the
    // directory goes again.
    std::string deep = parent + "\\" + std::string(239 - parent.size(), 'm');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    ClearLog();
    {
        ScopedVariable tmp("TMP", deep.c_str());
        EXPECT_EQ(0, ExtractPayload(session.instance, owner));
    }
    EXPECT_EQ(std::vector<std::string>{"File creation error on " + deep + "\\"}, LogLines());
    EXPECT_TRUE(RemoveDirectoryA(deep.c_str())) << "the run's directory is left in it";

    // 236 characters: a dead run's marker path fills 259 characters, and the
    // dead run goes.
    std::string roomy = parent + "\\" + std::string(235 - parent.size(), 'r');
    std::string dead = roomy + "\\~tl54321.tmp";
    ASSERT_TRUE(CreateDirectoryA(roomy.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(dead.c_str(), nullptr));
    WriteFileBytes(dead + "\\setup.run", "Tarnlink Suite setup run\r\n");
    {
        ScopedVariable tmp("TMP", roomy.c_str());
        ExtractPayload(session.instance, owner);
        RemoveTempFiles();
    }
    EXPECT_FALSE(DirectoryExists(dead));
    DeleteTree(roomy);

    // 261 characters with the closing backslash: no directory fits a path,
    // and the system names none; each file is named alone.
    std::string tooLong = parent + "\\" + std::string(259 - parent.size(), 'e');
    ClearLog();
    {
        ScopedVariable tmp("TMP", tooLong.c_str());
        EXPECT_EQ(0, ExtractPayload(session.instance, owner));
        EXPECT_EQ(0, RemoveTempFiles());
    }
    expected.clear();
    for (int i = 0; i < payloadCount; ++i)
        expected.push_back(std::string("File creation error on ") + payloadTable[i].destName);
    EXPECT_EQ(expected, LogLines());

    // Nothing was written anywhere: not beside the directories, not here.
    EXPECT_EQ(std::vector<std::string>{}, FolderEntries(parent, "*"));
    for (int i = 0; i < payloadCount; ++i)
        EXPECT_FALSE(FileExists(workDir + "\\" + payloadTable[i].destName));
    DeleteTree(parent);
}

// The run's own directory is a plain one, held while the run works in it: a
// link in its place is refused, and the directory can be neither renamed nor
// removed meanwhile.
TEST_F(Extraction, OwnDirectoryIsPlainAndHeld)
{
    std::string parent = ScratchDirectory("payload-held");
    std::string real = parent + "\\real", link = parent + "\\link";
    CreateDirectoryA(real.c_str(), nullptr);
    ASSERT_TRUE(MakeHostLink(real, link));
    HANDLE held;
    EXPECT_EQ(0, HoldDirectory(link.c_str(), held));
    EXPECT_EQ(INVALID_HANDLE_VALUE, held);
    ASSERT_EQ(1, HoldDirectory(real.c_str(), held));
    EXPECT_FALSE(MoveFileA(real.c_str(), (real + "2").c_str()));
    EXPECT_FALSE(RemoveDirectoryA(real.c_str()));
    ReleaseDirectory(held);
    EXPECT_TRUE(RemoveDirectoryA(real.c_str()));
    RemoveHostLink(link);
    DeleteTree(parent);
}

} // namespace
