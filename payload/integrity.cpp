#include "integrity.h"

#include "../base/system.h"
#include "../base/text.h"

constexpr DWORD SZDD_HEADER_SIZE = 14;
static const BYTE SZDD_MAGIC[9] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A'};
constexpr DWORD READ_CHUNK = 16384;

static DWORD crcTable[256];

DWORD Crc32(DWORD crc, const void *bytes, size_t size)
{
    if (crcTable[1] == 0) {
        for (DWORD n = 0; n < 256; ++n) {
            DWORD c = n;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            crcTable[n] = c;
        }
    }
    const BYTE *p = (const BYTE *)bytes;
    crc = ~crc;
    while (size-- > 0)
        crc = crcTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

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
    // Static: a frame this large would need stack probes.
    static BYTE chunk[READ_CHUNK];
    DWORD crc = 0, length = 0, got = 0;
    int readable;
    while ((readable = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) != 0 && got > 0) {
        crc = Crc32(crc, chunk, got);
        length += got;
        // Longer than recorded: no need to read on.
        if (length > sum->expandedLength)
            break;
    }
    CloseHandle(file);
    return readable && length == sum->expandedLength && crc == sum->expandedCrc;
}
