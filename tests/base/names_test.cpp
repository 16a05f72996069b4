// Checks of recorded paths, and values read back from WIN.INI at the edges
// of the reader's buffer.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "base/names.h"
#include "base/product.h"
#include "base/session.h"
#include "wintest.h"

namespace {

// Only a drive path or a UNC path with a server and a share stands on its
// own; anything else depends on some current directory.
TEST(IsAbsolutePath, DrivePathsAndWholeUncPathsOnly)
{
    const struct {
        const char *path;
        int absolute;
    } cases[] = {{"C:", 1},           {"C:\\", 1},        {"c:\\Tarnlink", 1},
                 {"C:Tarnlink", 0},   {"Tarnlink", 0},    {"\\Tarnlink", 0},
                 {".", 0},            {"", 0},            {"1:\\x", 0},
                 {"{:\\x", 0},        {"\\\\", 0},
                 {"\\\\server\\share", 1}, {"\\\\server\\share\\dir", 1},
                 {"\\\\server", 0},   {"\\\\server\\", 0}, {"\\\\\\share", 0},
                 {"\\\\server\\\\x", 0}};
    for (const auto &c : cases)
        EXPECT_EQ(c.absolute, IsAbsolutePath(c.path)) << c.path;
}

// The platform cuts a longer value to the buffer without a word, so a value
// that fills it exactly is taken as too long: the caller gets -1 and, for the
// log, the first size - 1 characters. The byte after the buffer stays.
TEST(ReadProfileValue, ValueThatFillsTheBufferIsTooLong)
{
    const struct {
        size_t length, size;
        int result;
    } cases[] = {{0, 256, 0},      {1, 256, 1},      {255, 256, 1},   {256, 256, -1},
                 {300, 256, -1},   {1023, 1024, 1},  {1024, 1024, -1}, {2, 2, -1},
                 {1, 2, 1}};
    for (const auto &c : cases) {
        std::string text(c.length, 'v');
        if (c.length > 0)
            text.front() = 'C';
        WriteProfileStringA(PRODUCT_NAME, "DIR", c.length > 0 ? text.c_str() : nullptr);
        char value[1025];
        memset(value, '#', sizeof value);
        EXPECT_EQ(c.result, ReadProfileValue("DIR", "", value, c.size)) << c.length;
        EXPECT_EQ(text.substr(0, c.size - 1), value) << c.length;
        EXPECT_EQ('#', value[c.size]) << c.length;
    }
    // A caller's buffer larger than the reader takes is refused outright.
    char large[1026];
    EXPECT_EQ(-1, ReadProfileValue("DIR", "", large, sizeof large - 1));
    DeleteProfileSection(PRODUCT_NAME);
}

// A registry value is read whole only with its NUL inside the buffer: one
// stored without it that fills the buffer exactly is unusable, as is one a
// byte too long or of another type. The byte after the buffer stays. (The
// system stores a NUL that follows the counted bytes with them, so the
// bytes written are followed by another.)
TEST(ReadRegistryText, ValueReadWholeOnlyWithItsNul)
{
    const char *key = "Software\\TarnlinkRegistryTextTest";
    const struct {
        size_t bytes;   // stored, the NUL included when `nul`
        bool nul;
        DWORD type;
        int result;
    } cases[] = {{16, true, REG_SZ, 1},     {17, true, REG_SZ, -1}, {16, false, REG_SZ, -1},
                 {1, true, REG_SZ, 1},      {4, true, REG_BINARY, -1}, {0, false, REG_NONE, 0}};
    for (const auto &c : cases) {
        HKEY written;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, key, &written));
        std::string data(c.bytes + 1, 'v');
        if (c.nul)
            data[c.bytes - 1] = '\0';
        if (c.type != REG_NONE)
            RegSetValueExA(written, "Value", 0, c.type, (const BYTE *)data.data(), (DWORD)c.bytes);
        RegCloseKey(written);
        char text[17];
        memset(text, '#', sizeof text);
        EXPECT_EQ(c.result, ReadRegistryText(HKEY_CURRENT_USER, key, "Value", text, 16)) << c.bytes;
        EXPECT_EQ('#', text[16]) << c.bytes;
        RegDeleteKeyA(HKEY_CURRENT_USER, key);
    }
    char text[16];
    EXPECT_EQ(0, ReadRegistryText(HKEY_CURRENT_USER, key, "Value", text, sizeof text));
}

// The run's lock is ours only when we made it: not while another program
// holds it, nor where another kind of object has its name, and once it was
// let go it can be taken (the one we saw held is not kept open).
TEST(TakeRunLock, OnlyALockMadeNewIsOurs)
{
    const char name[] = "Global\\Quorvale Tarnlink Setup";
    for (bool mutex : {false, true}) {
        HANDLE other = mutex ? CreateMutexA(nullptr, TRUE, name)
                             : CreateEventA(nullptr, TRUE, FALSE, name);
        ASSERT_NE(nullptr, other);
        EXPECT_EQ(0, TakeRunLock(FALSE)) << mutex;
        CloseHandle(other);
    }
    EXPECT_EQ(1, TakeRunLock(FALSE));
    EXPECT_EQ(0, TakeRunLock(FALSE));
}

} // namespace
