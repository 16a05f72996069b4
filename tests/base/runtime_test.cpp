// The program's own string and memory functions (base/runtime.cpp), compiled
// as the product compiles them but under the names below, beside the C
// runtime's functions that the rest of this suite uses.
#include <gtest/gtest.h>

#include <stddef.h>

#include <string>

extern "C" {
void *tl_memcpy(void *dst, const void *src, size_t count);
void *tl_memmove(void *dst, const void *src, size_t count);
void *tl_memset(void *dst, int value, size_t count);
int tl_memcmp(const void *a, const void *b, size_t count);
void *tl_memchr(const void *s, int c, size_t count);
size_t tl_strlen(const char *s);
size_t tl_strnlen(const char *s, size_t limit);
char *tl_strchr(const char *s, int c);
char *tl_strrchr(const char *s, int c);
int tl_strcmp(const char *a, const char *b);
int tl_strncmp(const char *a, const char *b, size_t count);
char *tl_strstr(const char *text, const char *word);
size_t tl_strspn(const char *s, const char *accept);
size_t tl_strcspn(const char *s, const char *reject);
char *tl_strpbrk(const char *s, const char *accept);
char *tl_strncpy(char *dst, const char *src, size_t count);
}

namespace {

int Sign(int value)
{
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}

// Each copy or fill writes exactly its count: the byte after it keeps '#'.
TEST(Runtime, CopiesAndFillsStopAtTheirCount)
{
    char buffer[12];
    for (size_t count : {0u, 1u, 7u, 11u}) {
        std::string(12, '#').copy(buffer, 12);
        EXPECT_EQ(buffer, tl_memcpy(buffer, "abcdefghijk", count));
        EXPECT_EQ(std::string("abcdefghijk", count) + std::string(12 - count, '#'),
                  std::string(buffer, 12));

        std::string(12, '#').copy(buffer, 12);
        EXPECT_EQ(buffer, tl_memset(buffer, 0x141, count));   // only the low byte counts
        EXPECT_EQ(std::string(count, 'A') + std::string(12 - count, '#'),
                  std::string(buffer, 12));

        // Copies at most count characters and pads the rest with NULs; a source
        // of count characters or more leaves the destination unterminated.
        std::string(12, '#').copy(buffer, 12);
        EXPECT_EQ(buffer, tl_strncpy(buffer, "abc", count));
        std::string padded = std::string("abc", count < 3 ? count : 3);
        padded.resize(count, '\0');
        EXPECT_EQ(padded + std::string(12 - count, '#'), std::string(buffer, 12)) << count;
    }
}

// Moves within one buffer, the destination above and below the source.
TEST(Runtime, OverlappingMovesKeepTheSourceBytes)
{
    const struct {
        size_t to, from, count;
        const char *result;
    } cases[] = {
        {2, 0, 6, "0101234589"},   // destination above: copied from the end
        {0, 2, 6, "2345676789"},   // destination below: copied from the start
        {1, 0, 9, "0012345678"},
        {0, 1, 9, "1234567899"},
        {3, 3, 4, "0123456789"},
        {5, 0, 5, "0123401234"},   // adjacent, not overlapping
        {0, 4, 0, "0123456789"},
    };
    for (const auto &c : cases) {
        char buffer[11] = "0123456789";
        EXPECT_EQ(buffer + c.to, tl_memmove(buffer + c.to, buffer + c.from, c.count));
        EXPECT_STREQ(c.result, buffer) << c.to << " " << c.from << " " << c.count;
    }
}

TEST(Runtime, ComparisonsTakeBytesAsUnsignedAndStopAtTheirCount)
{
    const struct {
        const char *a, *b;
        size_t count;
        int memSign, strSign, strnSign;
    } cases[] = {
        {"abc", "abc", 4, 0, 0, 0},
        {"abc", "abd", 4, -1, -1, -1},
        {"abd", "abc", 2, 0, 1, 0},
        {"ab", "abc", 3, -1, -1, -1},
        {"\x80", "\x7f", 1, 1, 1, 1},
        {"", "", 0, 0, 0, 0},
        {"x", "y", 0, 0, -1, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.memSign, Sign(tl_memcmp(c.a, c.b, c.count))) << c.a << "|" << c.b;
        EXPECT_EQ(c.strSign, Sign(tl_strcmp(c.a, c.b))) << c.a << "|" << c.b;
        EXPECT_EQ(c.strnSign, Sign(tl_strncmp(c.a, c.b, c.count))) << c.a << "|" << c.b;
    }
    // Nothing after the end of equal texts is compared.
    EXPECT_EQ(0, tl_strncmp("ab\0X", "ab\0Y", 4));
}

TEST(Runtime, LengthsAndSearches)
{
    // Five characters and no NUL after them: the bounded length stops at its limit.
    const char unterminated[6] = {'a', 'b', 'c', 'd', 'e', 'X'};
    const struct {
        size_t limit, length;
    } limits[] = {{0, 0}, {1, 1}, {4, 4}, {5, 5}};
    for (const auto &l : limits)
        EXPECT_EQ(l.length, tl_strnlen(unterminated, l.limit)) << l.limit;
    EXPECT_EQ(3u, tl_strnlen("abc", 3));
    EXPECT_EQ(3u, tl_strnlen("abc", 4));
    EXPECT_EQ(0u, tl_strlen(""));
    EXPECT_EQ(5u, tl_strlen("a\x80\xff" "bc"));

    const char text[] = "a\\b\\c\x80";
    EXPECT_EQ(text + 1, tl_strchr(text, '\\'));
    EXPECT_EQ(text + 3, tl_strrchr(text, '\\'));
    EXPECT_EQ(text + 5, tl_strchr(text, 0x180));   // as a char
    EXPECT_EQ(text + 6, tl_strchr(text, '\0'));
    EXPECT_EQ(text + 6, tl_strrchr(text, '\0'));
    EXPECT_EQ(nullptr, tl_strchr(text, 'z'));
    EXPECT_EQ(nullptr, tl_strrchr(text, 'z'));
    EXPECT_EQ(text + 5, tl_memchr(text, 0x180, 6));
    EXPECT_EQ(nullptr, tl_memchr(text, 'c', 4));     // the byte at the count is not looked at
    EXPECT_EQ(text + 4, tl_memchr(text, 'c', 5));

    const char haystack[] = "aaab,(x)";
    EXPECT_EQ(haystack + 2, tl_strstr(haystack, "ab"));
    EXPECT_EQ(haystack, tl_strstr(haystack, ""));
    EXPECT_EQ(nullptr, tl_strstr(haystack, "x)y"));
    EXPECT_EQ(nullptr, tl_strstr("", "a"));
    EXPECT_EQ(3u, tl_strspn(haystack, "a"));
    EXPECT_EQ(8u, tl_strspn(haystack, "ab,()x"));
    EXPECT_EQ(4u, tl_strcspn(haystack, "(,"));
    EXPECT_EQ(8u, tl_strcspn(haystack, "[]"));
    EXPECT_EQ(haystack + 4, tl_strpbrk(haystack, "(),"));
    EXPECT_EQ(nullptr, tl_strpbrk(haystack, "[]"));
    EXPECT_EQ(nullptr, tl_strpbrk("", "a"));
}

} // namespace
