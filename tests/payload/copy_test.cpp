// The decompressing copy: the real LZ32, the real prompts, the progress window.
#include <gtest/gtest.h>

#include <stdio.h>

#include "base/session.h"
#include "payload/copy.h"
#include "payload/extract.h"
#include "payload/integrity.h"
#include "payload/progress.h"
#include "payload/table.h"
#include "payload_support.h"
#include "progman_support.h"
#include "wintest.h"

namespace {

class Copy : public PayloadTest {
protected:
    void SetUp() override
    {
        PayloadTest::SetUp();
        src = ScratchDirectory("payload-src") + "\\";
        dst = ScratchDirectory("payload-dst");
    }
    void TearDown() override
    {
        DeleteTree(src.substr(0, src.size() - 1));
        DeleteTree(dst);
        PayloadTest::TearDown();
    }

    // The carried files as the extraction leaves them, but for row `except`.
    void PutPackedFiles(int except = -1)
    {
        for (int i = 0; i < payloadCount; ++i)
            if (i != except)
                PutPacked(i);
    }
    void PutPacked(int i)
    {
        WriteFileBytes(src + payloadTable[i].sourceName, ResourceBytes(payloadTable[i].resourceName));
    }
    std::string CopyingLine(int i)
    {
        return "Copying " + src + payloadTable[i].sourceName + " to " + dst + "\\" +
               payloadTable[i].destName;
    }
    int CopyAll()
    {
        return CopyPayload(session.instance, owner, src.c_str(), dst.c_str(), dst.c_str(),
                           dst.c_str());
    }
    bool Copied(int i) { return FileExists(dst + "\\" + payloadTable[i].destName); }

    std::string src;   // ends in a backslash
    std::string dst;
};

const char CLOSING[] = "Creating group and icons.";

std::string SzddOf(const std::string &name)
{
    return ResourceBytes(name.c_str());
}

// The header of an SZDD file that expands to nothing.
const std::string EMPTY_SZDD = SZDD_MAGIC + std::string("A\0\0\0\0\0", 6);

TEST_F(Copy, EveryRowExpandsByteExactFromTheExtractedFiles)
{
    BoxAnswerer boxes;
    StatusWatch watch;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    ASSERT_EQ(payloadCount, ExtractPayload(session.instance, owner));
    std::string tempDir = ExtractionDirectory();
    int result = CopyPayload(session.instance, owner, tempDir.c_str(), dst.c_str(), dst.c_str(),
                             dst.c_str());
    QueryPerformanceCounter(&end);
    printf("[ timing   ] extraction and copy of the whole payload: %.1f ms\n",
           (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    EXPECT_EQ(1, result);
    EXPECT_TRUE(boxes.Finish().empty());

    std::vector<std::string> expectedLog = {"installing 7 files", ""};
    std::vector<std::string> expectedStatus;
    for (int i = 0; i < payloadCount; ++i) {
        const PayloadEntry &row = payloadTable[i];
        std::string original = OriginalBytes(row);
        ASSERT_FALSE(original.empty()) << row.destName;
        EXPECT_TRUE(ReadFileBytes(dst + "\\" + row.destName) == original) << row.destName;
        EXPECT_EQ(PAYLOAD_EXTRACTED | PAYLOAD_COPIED, row.state) << row.destName;
        std::string line = "Copying " + tempDir + row.sourceName + " to " + dst + "\\" + row.destName;
        expectedLog.push_back(line);
        expectedStatus.push_back(line);
    }
    expectedStatus.push_back(CLOSING);
    std::vector<std::string> log = LogLines();
    ASSERT_GE(log.size(), (size_t)payloadCount);
    log.erase(log.begin(), log.begin() + payloadCount);   // the extraction's lines
    EXPECT_EQ(expectedLog, log);
    // The status texts after the extraction's.
    ASSERT_GE(watch.texts.size(), (size_t)payloadCount);
    watch.texts.erase(watch.texts.begin(), watch.texts.begin() + payloadCount);
    EXPECT_EQ(expectedStatus, watch.texts);
    EXPECT_TRUE(watch.activeDialogWasProgress);
    EXPECT_EQ(nullptr, session.activeDialog);
    EXPECT_EQ(1u, currentDisk);

    // The copy leaves the source alone; the clean-up then removes it.
    EXPECT_EQ(0, RemoveTempFiles());
    EXPECT_FALSE(DirectoryExists(tempDir));
}

TEST_F(Copy, RowsGoToTheDirectoryTheirKindPicks)
{
    std::string data = ScratchDirectory("payload-data"), web = ScratchDirectory("payload-web");
    payloadTable[1].destDirKind = DIR_DATA;
    payloadTable[2].destDirKind = DIR_WEB;
    payloadTable[3].destDirKind = 7;   // counts as the program directory
    PutPackedFiles();
    session.quiet = 1;
    EXPECT_EQ(1, CopyPayload(session.instance, owner, src.c_str(), dst.c_str(), data.c_str(),
                             web.c_str()));
    EXPECT_TRUE(FileExists(data + "\\tarnlink.hlp"));
    EXPECT_TRUE(FileExists(web + "\\tarnlink.cnt"));
    EXPECT_TRUE(FileExists(dst + "\\tarnlink.dll"));
    EXPECT_FALSE(FileExists(dst + "\\tarnlink.hlp"));
    DeleteTree(data);
    DeleteTree(web);
}

TEST_F(Copy, EqualPathsInAnyCaseOpenNothing)
{
    std::string path = dst + "\\Same.TXT";
    WriteFileBytes(path, "left alone");
    std::string source = path;
    CharLowerA(&source[0]);
    EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], path.c_str()));
    EXPECT_EQ("left alone", ReadFileBytes(path));

    // Not even a missing file is looked for.
    std::string missing = dst + "\\none.txt";
    std::string upper = missing;
    CharUpperA(&upper[0]);
    EXPECT_EQ(EXPAND_DONE, ExpandFile(&upper[0], missing.c_str()));
    EXPECT_FALSE(FileExists(missing));
}

TEST_F(Copy, UnderscoreNameIsPreferredAndPlainFilesCopyUnchanged)
{
    PayloadEntry &notes = payloadTable[4];   // tarnlink.txt
    WriteFileBytes(src + "notes.txt", "the plain file");
    WriteFileBytes(src + "notes.tx_", SzddOf(notes.resourceName));
    std::string source = src + "notes.txt";
    std::string dest = dst + "\\notes.txt";
    EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], dest.c_str()));
    EXPECT_TRUE(ReadFileBytes(dest) == OriginalBytes(notes));
    // The caller's path is whole again.
    EXPECT_EQ(src + "notes.txt", source);

    // Without an underscore file the name itself is read; bytes that are not
    // SZDD (even if they start like it) are copied as they are.
    std::string blob = SZDD_MAGIC.substr(0, 4) + std::string("\0\x01\xff\r\n", 5) +
                       std::string(5000, 'z');
    WriteFileBytes(src + "blob.bin", blob);
    source = src + "blob.bin";
    dest = dst + "\\blob.bin";
    EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], dest.c_str()));
    EXPECT_TRUE(ReadFileBytes(dest) == blob);

    // An existing destination is emptied first.
    WriteFileBytes(dest, std::string(20000, 'o'));
    EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], dest.c_str()));
    EXPECT_TRUE(ReadFileBytes(dest) == blob);
}

TEST_F(Copy, ExpandFileResults)
{
    std::string source = src + "missing.txt";
    std::string dest = dst + "\\missing.txt";
    EXPECT_EQ(EXPAND_NO_SOURCE, ExpandFile(&source[0], dest.c_str()));
    EXPECT_FALSE(FileExists(dest));
    EXPECT_EQ(src + "missing.txt", source);

    WriteFileBytes(src + "empty.txt", "");
    source = src + "empty.txt";
    dest = dst + "\\empty.txt";
    EXPECT_EQ(EXPAND_FAILED, ExpandFile(&source[0], dest.c_str()));

    WriteFileBytes(src + "header.txt", EMPTY_SZDD);
    source = src + "header.txt";
    dest = dst + "\\header.txt";
    EXPECT_EQ(EXPAND_FAILED, ExpandFile(&source[0], dest.c_str()));

    PutPacked(0);
    source = src + "tarnlink.exe";
    dest = dst + "\\nosuchdir\\tarnlink.exe";
    EXPECT_EQ(EXPAND_NO_DESTINATION, ExpandFile(&source[0], dest.c_str()));

    // A destination that exists but cannot be written (the product is
    // running) is one that can't be created: the old file stays, and nothing
    // appears under another name.
    dest = dst + "\\tarnlink.exe";
    WriteFileBytes(dest, "old version");
    HANDLE running = CreateFileA(dest.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, running);
    EXPECT_EQ(EXPAND_NO_DESTINATION, ExpandFile(&source[0], dest.c_str()));
    CloseHandle(running);
    EXPECT_EQ("old version", ReadFileBytes(dest));
    EXPECT_FALSE(FileExists(dst + "\\tarnlink.ex_"));

    // A source or destination of any length a path may have: LZ32's own
    // open, which takes 127 characters at most, is not used.
    std::string deep = dst + "\\" + std::string(245 - dst.size(), 'q');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    dest = deep + "\\tarnlink.exe";
    EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], dest.c_str()));
    EXPECT_TRUE(ReadFileBytes(dest) == OriginalBytes(payloadTable[0]));
    WriteFileBytes(deep + "\\tarnlink.ex_", SzddOf("EXEFILE"));
    source = dest;
    dest = dst + "\\tarnlink.exe";
    EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], dest.c_str()));
    EXPECT_TRUE(ReadFileBytes(dest) == OriginalBytes(payloadTable[0]));
}

TEST_F(Copy, ExistingIniFileIsReplacedOnlyWhenTheUserSaysYes)
{
    WriteFileBytes(src + "tarnlink.ini", "new settings");
    std::string source = src + "tarnlink.ini";
    std::string dest = dst + "\\tarnlink.ini";
    WriteFileBytes(dest, "old settings");
    {
        BoxAnswerer boxes({Press(IDNO)});
        EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], dest.c_str()));
        std::vector<SeenBox> seen = boxes.Finish();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ("Overwrite warning", seen[0].caption);
        EXPECT_EQ("The file " + dest + " already exists.\nOverwrite it?", seen[0].text);
        EXPECT_TRUE(seen[0].yes && seen[0].no && !seen[0].ok && !seen[0].cancel);
        EXPECT_TRUE(seen[0].icon);
        EXPECT_EQ("old settings", ReadFileBytes(dest));
    }
    {
        BoxAnswerer boxes({Press(IDYES)});
        EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], dest.c_str()));
        EXPECT_EQ(1u, boxes.Finish().size());
        EXPECT_EQ("new settings", ReadFileBytes(dest));
    }
    {
        // Quiet: no box, the question is logged, and the file stays.
        WriteFileBytes(dest, "old settings");
        session.quiet = 1;
        ClearLog();
        BoxAnswerer boxes;
        EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], dest.c_str()));
        EXPECT_TRUE(boxes.Finish().empty());
        EXPECT_EQ("old settings", ReadFileBytes(dest));
        EXPECT_EQ((std::vector<std::string>{"The file " + dest + " already exists.",
                                            "Overwrite it?"}),
                  LogLines());
        session.quiet = 0;
    }
    {
        // Only the file name's extension counts, not a directory's name.
        std::string dir = dst + "\\my.ini-tools";
        CreateDirectoryA(dir.c_str(), nullptr);
        std::string other = dir + "\\tarnlink.txt";
        WriteFileBytes(other, "old notes");
        BoxAnswerer boxes;
        EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], other.c_str()));
        EXPECT_TRUE(boxes.Finish().empty());
        EXPECT_EQ("new settings", ReadFileBytes(other));
    }
    {
        // The test respects letter case, and a missing file needs no question.
        std::string upper = dst + "\\TARNLINK.INI";
        std::string fresh = dst + "\\fresh.ini";
        WriteFileBytes(upper, "old settings");
        BoxAnswerer boxes;
        EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], upper.c_str()));
        EXPECT_EQ(EXPAND_DONE, ExpandFile(&source[0], fresh.c_str()));
        EXPECT_TRUE(boxes.Finish().empty());
        EXPECT_EQ("new settings", ReadFileBytes(upper));
        EXPECT_EQ("new settings", ReadFileBytes(fresh));
    }
}

TEST_F(Copy, MissingSourceAsksForTheDiskUntilTheFileComes)
{
    PayloadEntry row = payloadTable[0];
    // Before any copy: OK and Cancel. OK with the file still missing asks again.
    BoxAnswerer boxes({Press(IDOK), [&](HWND) {
                           PutPacked(0);
                           return IDOK;
                       }});
    EXPECT_EQ(0, CopyPayloadFile(row, src.c_str(), dst.c_str(), owner, nullptr));
    std::vector<SeenBox> seen = boxes.Finish();
    ASSERT_EQ(2u, seen.size());
    for (const SeenBox &box : seen) {
        EXPECT_EQ("Change disk", box.caption);
        EXPECT_EQ("Insert disk 1 containing tarnlink.exe", box.text);
        EXPECT_TRUE(box.ok && box.cancel && !box.retry);
        EXPECT_FALSE(box.icon);
    }
    EXPECT_TRUE(ReadFileBytes(dst + "\\tarnlink.exe") == OriginalBytes(row));
    EXPECT_EQ(PAYLOAD_COPIED, row.state);
    EXPECT_EQ(1u, currentDisk);
    // Prompts are not logged.
    EXPECT_EQ(std::vector<std::string>{CopyingLine(0)}, LogLines());
}

TEST_F(Copy, CancelOnARequiredRowReportsTheFailure)
{
    currentDisk = 1;   // a file has been copied: Retry and Cancel
    PayloadEntry row = payloadTable[1];
    BoxAnswerer boxes({Press(IDRETRY), Press(IDCANCEL), Press(IDOK)});
    EXPECT_EQ(1, CopyPayloadFile(row, src.c_str(), dst.c_str(), owner, nullptr));
    std::vector<SeenBox> seen = boxes.Finish();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ("Insert disk 1 containing tarnlink.hlp", seen[1].text);
    EXPECT_TRUE(seen[1].retry && seen[1].cancel && !seen[1].ok);
    EXPECT_EQ("Install", seen[2].caption);
    std::string failed = "Copy of tarnlink.hlp to " + dst + " failed. (";
    EXPECT_EQ(0u, seen[2].text.find(failed)) << seen[2].text;
    EXPECT_TRUE(seen[2].ok && !seen[2].cancel && seen[2].icon);
    EXPECT_EQ(0u, row.state);

    std::vector<std::string> log = LogLines();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(CopyingLine(1), log[0]);
    EXPECT_EQ(seen[2].text, log[1]);

    // Quiet: no box; the prompt is logged and answered Cancel, the failure
    // only logged.
    session.quiet = 1;
    ClearLog();
    BoxAnswerer quietBoxes;
    EXPECT_EQ(1, CopyPayloadFile(row, src.c_str(), dst.c_str(), owner, nullptr));
    EXPECT_TRUE(quietBoxes.Finish().empty());
    log = LogLines();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ("Insert disk 1 containing tarnlink.hlp", log[1]);
    EXPECT_EQ(0u, log[2].find(failed));
}

TEST_F(Copy, OwnExtractedFileThatIsNotTheCarriedOneIsNeverInstalled)
{
    // Swapped in the run's own directory since the extraction: a well-formed
    // SZDD file of other bytes, then a plain file. Neither stays at the
    // destination, whatever LZ32 made of it; no disk is asked for, the
    // message says why, and the failure names the real error (ERROR_CRC).
    ASSERT_EQ(payloadCount, ExtractPayload(session.instance, owner));
    std::string own = ExtractionDirectory();
    PayloadEntry row = payloadTable[4];   // tarnlink.txt
    const char *swaps[] = {"MIBFILE", nullptr};
    for (const char *swap : swaps) {
        WriteFileBytes(own + "tarnlink.txt", swap ? SzddOf(swap) : std::string("plain bytes"));
        WriteFileBytes(dst + "\\tarnlink.txt", "old notes");
        BoxAnswerer boxes({Press(IDOK), Press(IDOK)});
        EXPECT_EQ(1, CopyPayloadFile(row, own.c_str(), dst.c_str(), owner, nullptr));
        std::vector<SeenBox> seen = boxes.Finish();
        ASSERT_EQ(2u, seen.size());
        EXPECT_EQ("The copy of tarnlink.txt does not match the file this setup program carries.",
                  seen[0].text);
        EXPECT_EQ("Copy of tarnlink.txt to " + dst + " failed. (23)", seen[1].text);
        EXPECT_FALSE(FileExists(dst + "\\tarnlink.txt"));
        EXPECT_EQ(PAYLOAD_EXTRACTED, row.state);
    }

    // The carried file itself goes through.
    WriteFileBytes(own + "tarnlink.txt", OriginalBytes(row));
    BoxAnswerer none;
    EXPECT_EQ(0, CopyPayloadFile(row, own.c_str(), dst.c_str(), owner, nullptr));
    EXPECT_TRUE(none.Finish().empty());
    EXPECT_TRUE(ReadFileBytes(dst + "\\tarnlink.txt") == OriginalBytes(row));
    RemoveTempFiles();
}

// A directory the user named holds the user's choice: another version of a
// file is installed, and the log says it differs.
TEST_F(Copy, FileFromADirectoryTheUserNamedIsInstalledWhenItDiffers)
{
    PayloadEntry row = payloadTable[4];
    WriteFileBytes(src + "tarnlink.tx_", SzddOf("MIBFILE"));
    BoxAnswerer none;
    EXPECT_EQ(0, CopyPayloadFile(row, src.c_str(), dst.c_str(), owner, nullptr));
    EXPECT_TRUE(none.Finish().empty());
    EXPECT_TRUE(ReadFileBytes(dst + "\\tarnlink.txt") == OriginalBytes(payloadTable[6]));
    EXPECT_EQ(PAYLOAD_COPIED, row.state);
    EXPECT_EQ(std::vector<std::string>({CopyingLine(4),
                                        dst + "\\tarnlink.txt differs from the file this setup "
                                              "program carries"}),
              LogLines());
}

// The read-back check reads the whole file: a file longer than recorded is
// not the carried one, even when the recorded length is a whole number of
// the check's reads, where stopping at that length would see nothing more.
TEST_F(Copy, ReadBackCheckTakesOnlyTheRecordedBytes)
{
    PayloadSum &sum = payloadSums[0];
    const PayloadSum saved = sum;
    const std::string bytes(16384, 'r');
    sum.expandedLength = (DWORD)bytes.size();
    sum.expandedCrc = Crc32(0, bytes.data(), bytes.size());
    PayloadEntry row = payloadTable[0];
    row.resourceName = sum.resourceName;
    const struct {
        std::string file;
        int intact;
    } cases[] = {{bytes, 1}, {bytes + "r", 0}, {bytes.substr(1), 0},
                 {bytes.substr(1) + "s", 0}, {bytes + bytes, 0}};
    std::string path = dst + "\\check.bin";
    for (const auto &c : cases) {
        WriteFileBytes(path, c.file);
        EXPECT_EQ(c.intact, ExpandedFileIntact(row, path.c_str())) << c.file.size();
    }
    sum = saved;
}

TEST_F(Copy, CancelOnTheOptionalRowIsSilent)
{
    PayloadEntry row = payloadTable[6];
    BoxAnswerer boxes({Press(IDCANCEL)});
    EXPECT_EQ(0, CopyPayloadFile(row, src.c_str(), dst.c_str(), owner, nullptr));
    EXPECT_EQ(1u, boxes.Finish().size());
    EXPECT_EQ(std::vector<std::string>{CopyingLine(6)}, LogLines());
    EXPECT_EQ(0u, row.state);
    EXPECT_EQ(0u, currentDisk);
}

TEST_F(Copy, EmptyExpansionAsksForTheDisk)
{
    PayloadEntry row = payloadTable[6];
    WriteFileBytes(src + "mib.txt", EMPTY_SZDD);
    BoxAnswerer boxes({Press(IDCANCEL)});
    EXPECT_EQ(0, CopyPayloadFile(row, src.c_str(), dst.c_str(), owner, nullptr));
    std::vector<SeenBox> seen = boxes.Finish();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("Insert disk 1 containing mib.txt", seen[0].text);
    EXPECT_EQ(0u, row.state);
    // What LZCopy could not fill was not there before: it goes.
    EXPECT_FALSE(FileExists(dst + "\\mib.txt"));
    // One that was there before stays, as the failed attempt left it.
    WriteFileBytes(dst + "\\mib.txt", "old data");
    BoxAnswerer again({Press(IDCANCEL)});
    EXPECT_EQ(0, CopyPayloadFile(row, src.c_str(), dst.c_str(), owner, nullptr));
    EXPECT_TRUE(FileExists(dst + "\\mib.txt"));
}

TEST_F(Copy, DiskThatFillsDuringTheCopyIsReportedFull)
{
    // Drive T: is a tmpfs of three pages (tests/support/fulldisk.sh): with two
    // taken, the uninstaller (16 KiB) fills it part of the way, and the write
    // that falls short leaves no error behind.
    if (GetDriveTypeA("T:\\") != DRIVE_FIXED && GetDriveTypeA("T:\\") != DRIVE_RAMDISK)
        GTEST_SKIP() << "no small drive T: (mounting a tmpfs needs root)";
    PutPacked(5);
    WriteFileBytes("T:\\filler", std::string(4097, 'f'));
    PayloadEntry row = payloadTable[5];
    BoxAnswerer boxes({Press(IDCANCEL), Press(IDOK)});
    EXPECT_EQ(1, CopyPayloadFile(row, src.c_str(), "T:", owner, nullptr));
    std::vector<SeenBox> seen = boxes.Finish();
    DeleteFileA("T:\\filler");
    DeleteFileA("T:\\removetl.exe");
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("The disk is full: removetl.exe could not be written. (112)", seen[0].text);
    EXPECT_EQ("Copy of removetl.exe to T: failed. (112)", seen[1].text);
}

TEST_F(Copy, DestinationThatCannotBeCreatedOffersRetry)
{
    PutPackedFiles();
    std::string missingDir = dst + "\\later";
    PayloadEntry row = payloadTable[0];
    BoxAnswerer boxes({Press(IDRETRY), [&](HWND) {
                           CreateDirectoryA(missingDir.c_str(), nullptr);
                           return IDRETRY;
                       }});
    EXPECT_EQ(0, CopyPayloadFile(row, src.c_str(), missingDir.c_str(), owner, nullptr));
    std::vector<SeenBox> seen = boxes.Finish();
    ASSERT_EQ(2u, seen.size());
    for (const SeenBox &box : seen) {
        EXPECT_EQ("Error", box.caption);   // the platform's own caption
        EXPECT_EQ("Failed to open destination file tarnlink.exe", box.text);
        EXPECT_TRUE(box.retry && box.cancel && !box.ok);
        EXPECT_FALSE(box.icon);
    }
    EXPECT_TRUE(ReadFileBytes(missingDir + "\\tarnlink.exe") == OriginalBytes(row));

    // Cancel gives up the required row.
    PayloadEntry dll = payloadTable[3];
    BoxAnswerer cancel({Press(IDCANCEL), Press(IDOK)});
    EXPECT_EQ(1, CopyPayloadFile(dll, src.c_str(), (dst + "\\gone").c_str(), owner, nullptr));
    seen = cancel.Finish();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("Failed to open destination file tarnlink.dll", seen[0].text);
    EXPECT_EQ(0u, seen[1].text.find("Copy of tarnlink.dll to " + dst + "\\gone failed. ("));
}

TEST_F(Copy, OverlongPathsFailWithoutBeingCut)
{
    PayloadEntry row = payloadTable[6];   // optional: no failure box after the prompt
    const std::string bytes = ResourceBytes(row.resourceName);
    // A source or destination path of 259 characters is used; one of 260
    // fails as a missing source or a destination that can't be created, and
    // nothing is read or written under a cut name.
    for (bool source : {true, false}) {
        for (size_t length : {259u, 260u}) {
            SCOPED_TRACE((source ? "source of " : "destination of ") + std::to_string(length));
            std::string from = src, to = dst, dir;
            if (source) {
                from = dir = src + std::string(length - src.size() - 8, 's') + "\\";
                ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
                // The name a cut path would give is there too.
                WriteFileBytes(dir + (length == 259 ? "mib.txt" : "mib.tx"), bytes);
            } else {
                PutPacked(6);
                to = dir = dst + "\\" + std::string(length - dst.size() - 9, 'd');
                ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
            }
            row.state = 0;
            BoxAnswerer boxes({Press(IDCANCEL)});
            EXPECT_EQ(0, CopyPayloadFile(row, from.c_str(), to.c_str(), owner, nullptr));
            std::vector<SeenBox> seen = boxes.Finish();
            if (length == 259) {
                EXPECT_EQ(0u, seen.size());
                EXPECT_EQ(PAYLOAD_COPIED, row.state);
                EXPECT_EQ(std::vector<std::string>{"mib.txt"}, FolderEntries(to, "*"));
            } else {
                ASSERT_EQ(1u, seen.size());
                EXPECT_EQ(source ? "Insert disk 1 containing mib.txt"
                                 : "Failed to open destination file mib.txt",
                          seen[0].text);
                EXPECT_EQ(0u, row.state);
                EXPECT_EQ(std::vector<std::string>{}, FolderEntries(to, "*"));
            }
            // The log still names the whole path.
            EXPECT_EQ("Copying " + from + "mib.txt to " + to + "\\mib.txt", LogLines().back());
            DeleteTree(dir);
            DeleteFileA((dst + "\\mib.txt").c_str());
        }
    }
}

// A whole copy that the user stops, or that goes through: Cancel at the disk
// prompt of a required or the optional row, the progress window's Cancel
// button, a quiet run.
struct WholeCopy {
    const char *what;
    int missing;           // the row whose extracted file is not there, or -1
    int quiet;
    int answer;            // the disk prompt's button; IDRETRY clicks the window's Cancel too
    const char *clickAt;   // the window's Cancel is clicked when the status line names this
    int result;
    int copied;            // rows below it are installed, the others untouched
    size_t boxes;
    int tried;             // rows whose copy was logged and shown
    const char *failure;   // the start of the failure box's text, or null
    bool closing;          // the closing status line follows
};

class CopyStop : public Copy, public testing::WithParamInterface<WholeCopy> {};

TEST_P(CopyStop, StopsAfterTheRowTheUserStoppedAt)
{
    const WholeCopy &c = GetParam();
    SCOPED_TRACE(c.what);
    PutPackedFiles(c.missing);
    // Where tarnlink.txt is installed, it replaces a file of its name.
    if (c.copied > 4)
        WriteFileBytes(dst + "\\tarnlink.txt", "old notes");
    session.quiet = c.quiet;
    StatusWatch watch;
    // A click that arrives while a row is being expanded waits in the queue
    // until the pump of the next row, just after its status line is set.
    if (c.clickAt != nullptr)
        watch.onText = [&](HWND progress, const std::string &text) {
            if (text.find(c.clickAt) != std::string::npos)
                PostMessageA(GetDlgItem(progress, IDCANCEL), BM_CLICK, 0, 0);
        };
    std::vector<BoxAnswer> script;
    if (c.answer == IDRETRY)
        script.push_back([&](HWND) {
            PostMessageA(GetDlgItem(session.activeDialog, IDCANCEL), BM_CLICK, 0, 0);
            PutPacked(c.missing);
            return IDRETRY;
        });
    else if (c.answer != 0)
        script = {Press(c.answer), Press(IDOK)};
    BoxAnswerer boxes(script);
    EXPECT_EQ(c.result, CopyAll());
    std::vector<SeenBox> seen = boxes.Finish();
    ASSERT_EQ(c.boxes, seen.size());
    // After the first row: Retry and Cancel.
    EXPECT_TRUE(seen.empty() || (seen[0].retry && seen[0].cancel));

    for (int i = 0; i < payloadCount; ++i) {
        EXPECT_EQ(i < c.copied, Copied(i)) << i;
        EXPECT_EQ(i < c.copied ? PAYLOAD_COPIED : 0u, payloadTable[i].state) << i;
        EXPECT_TRUE(i >= c.copied || ReadFileBytes(dst + "\\" + payloadTable[i].destName) ==
                                         OriginalBytes(payloadTable[i])) << i;
    }
    std::vector<std::string> log = {"installing 7 files", ""}, status;
    for (int i = 0; i < c.tried; ++i) {
        log.push_back(CopyingLine(i));
        if (!c.quiet)
            status.push_back(CopyingLine(i));
    }
    if (c.failure != nullptr) {
        EXPECT_EQ(0u, seen.back().text.find(c.failure)) << seen.back().text;
        log.push_back(seen.back().text);
    }
    if (c.closing)
        status.push_back(CLOSING);
    EXPECT_EQ(log, LogLines());
    EXPECT_EQ(status, watch.texts);
    EXPECT_EQ(nullptr, session.activeDialog);
}

// The same click during the last row leaves every file there, but the user
// asked to stop, so the copy does not report success.
INSTANTIATE_TEST_SUITE_P(Rows, CopyStop, testing::Values(
    WholeCopy{"Cancel at a required row's prompt", 1, 0, IDCANCEL, nullptr, 0, 1, 2, 2,
              "Copy of tarnlink.hlp to ", false},
    WholeCopy{"Cancel at the optional row's prompt", 6, 0, IDCANCEL, nullptr, 1, 6, 1, 7,
              nullptr, true},
    WholeCopy{"Cancel button during row 3", -1, 0, 0, "tarnlink.dll to", 0, 4, 0, 4, nullptr,
              false},
    WholeCopy{"Cancel button during the last row", -1, 0, 0, "mib.txt to", 0, 7, 0, 7, nullptr,
              false},
    WholeCopy{"Cancel button during a prompt", 2, 0, IDRETRY, nullptr, 0, 3, 1, 3, nullptr,
              false},
    WholeCopy{"quiet: no window", -1, 1, 0, nullptr, 1, 7, 0, 7, nullptr, false}));

TEST_F(Copy, EmptyTableSucceeds)
{
    payloadCount = 0;
    StatusWatch watch;
    EXPECT_EQ(1, CopyAll());
    EXPECT_EQ(std::vector<std::string>({"installing 0 files", ""}), LogLines());
    EXPECT_EQ(std::vector<std::string>{CLOSING}, watch.texts);
}

} // namespace
