#include "integrity.h"

#include "../base/system.h"
#include "../base/text.h"

constexpr DWORD SZDD_HEADER_SIZE = 14;
static const BYTE SZDD_MAGIC[9] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A'};

static const PayloadSum *FindSum(const char *resourceName)
{
    for (int i = 0; i < payloadSumCount; ++i)
        if (SameText(payloadSums[i].resourceName, resourceName))
            return &payloadSums[i];
    return nullptr;
}

static DWORD ReadLittleEndian(const BYTE *bytes)
{
    return bytes[0] | (DWORD)bytes[1] << 8 | (DWORD)bytes[2] << 16 | (DWORD)bytes[3] << 24;
}

static int ResourceIntact(const PayloadSum &sum, const BYTE *bytes, DWORD size)
{
    if (size != sum.packedLength || size < SZDD_HEADER_SIZE)
        return 0;
    for (DWORD i = 0; i < sizeof SZDD_MAGIC; ++i)
        if (bytes[i] != SZDD_MAGIC[i])
            return 0;
    // LZ32 writes whatever the stream decodes to, whatever the header says,
    // so the header must agree with the build as well as the bytes.
    return ReadLittleEndian(bytes + 10) == sum.expandedLength &&
           Crc32(0, bytes, size) == sum.packedCrc;
}

int PayloadIntact(HINSTANCE instance)
{
    for (int i = 0; i < payloadCount; ++i) {
        const PayloadEntry &row = payloadTable[i];
        // A missing resource is damage like any other.
        HRSRC found = FindResourceA(instance, row.resourceName, "EXE");
        if (found == nullptr)
            return 0;
        const PayloadSum *sum = FindSum(row.resourceName);
        HGLOBAL loaded = LoadResource(instance, found);
        const BYTE *bytes = loaded != nullptr ? (const BYTE *)LockResource(loaded) : nullptr;
        int intact = sum != nullptr && bytes != nullptr &&
                     ResourceIntact(*sum, bytes, SizeofResource(instance, found));
        if (!intact)
            return 0;
    }
    return 1;
}

int ExpandedFileIntact(const PayloadEntry &row, const char *path)
{
    const PayloadSum *sum = FindSum(row.resourceName);
    if (sum == nullptr)
        return 0;
    HANDLE file = OpenForReading(path, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD length, crc;
    int readable = FileSum(file, sum->expandedLength, length, crc);
    CloseHandle(file);
    return readable && length == sum->expandedLength && crc == sum->expandedCrc;
}

int CarriedRunFiles(RunFile *files, int size, int packed)
{
    int count = 0;
    for (int i = 0; i < payloadCount && count < size; ++i) {
        const PayloadSum *sum = FindSum(payloadTable[i].resourceName);
        if (sum == nullptr)
            continue;
        files[count].name = payloadTable[i].destName;
        files[count].length = packed ? sum->packedLength : sum->expandedLength;
        files[count].crc = packed ? sum->packedCrc : sum->expandedCrc;
        count++;
    }
    return count;
}
