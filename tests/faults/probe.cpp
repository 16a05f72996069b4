// tlprobe.exe: calls through its imports as the programs do, for the hook's
// own test, which fails them all (TL_FAULTS lists them). The exit code has a
// bit set for each call that did not fail as it should, or after which the
// stack pointer was not where the caller had it: a stdcall function removes
// its arguments, also when the hook fails it without calling it.
#include <windows.h>

static int wrong, bit = 1;
#ifdef _WIN64
#define STACK_POINTER(to) asm volatile("mov %%rsp, %0" : "=r"(to))
#else
#define STACK_POINTER(to) asm volatile("mov %%esp, %0" : "=r"(to))
#endif

template <typename Call>
static void Expect(INT_PTR value, DWORD error, Call call)
{
    UINT_PTR before, after;
    STACK_POINTER(before);
    SetLastError(0);
    auto result = call();
    STACK_POINTER(after);
    if (before != after || result != (decltype(result))value || GetLastError() != error)
        wrong |= bit;
    bit <<= 1;
}

int main()
{
    HKEY key;
    char text[16];
    Expect(ERROR_ACCESS_DENIED, 0,
           [&] { return RegCreateKeyA(HKEY_CURRENT_USER, "tlprobe", &key); });
    Expect(ERROR_DISK_FULL, 0,
           [&] { return RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key); });
    Expect(-1, ERROR_ACCESS_DENIED, [] {
        return CreateFileA("tlprobe", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    });
    Expect(-1, ERROR_FILE_NOT_FOUND, [] { return GetFileAttributesA("C:\\"); });
    Expect(0, ERROR_SHARING_VIOLATION, [] { return DeleteFileA("C:\\tlprobe"); });
    // Never failed: a cdecl function (its caller removes the arguments).
    Expect(3, 0, [&] { return wsprintfA(text, "%d", 123); });
    return wrong;
}
