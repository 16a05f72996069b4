// SZDD ("SZDD\x88\xf0\x27\x33", mode 'A') packer with an optimal LZSS parse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace szdd {

constexpr size_t kHeaderSize = 14;
constexpr size_t kWindowSize = 4096;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 18;
// The header stores the expanded length as a 32-bit value.
constexpr uint64_t kMaxInputSize = 0xFFFFFFFFu;

// Per input position: the longest reference usable there (0 when shorter
// than kMinMatch) and a window position that supplies it. Every shorter
// length from kMinMatch up is available from the same window position.
struct Matches {
    std::vector<uint8_t> length;
    std::vector<uint16_t> window_pos;
};

void FindMatches(const uint8_t* data, size_t size, Matches& out);

struct PackStats {
    uint64_t literals = 0;
    uint64_t references = 0;
    uint64_t bits = 0;  // 9 per literal, 17 per reference, header excluded
};

// Writes the whole SZDD file to `out`. Fails only when size > kMaxInputSize.
bool PackSzdd(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
              PackStats* stats = nullptr);

// Minimum stream size in bits, found by walking every earlier occurrence of
// each 3-byte prefix in the window. Slow but shares no code with PackSzdd,
// so the two can check each other.
uint64_t MinimumBitsByChainSearch(const uint8_t* data, size_t size);

// CRC-32 (reflected polynomial EDB88320, as in zip and PNG) of `size` bytes,
// continued from `crc` (0 to start).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

}  // namespace szdd
