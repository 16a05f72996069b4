#include "szdd.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace szdd {
namespace {

// The decoder starts with every window byte set to a space and writes the
// first output byte at 4096 - 16. Treat the data as following 4096 such
// spaces ("text"); a reference at distance d (1..4096) from text position x
// then reads text[x - d], whether that byte is in the untouched window, is
// being produced by the same reference (runs), or is the one about to be
// overwritten (d == 4096: the decoder reads before it writes).
constexpr size_t kPrefill = kWindowSize;
constexpr uint8_t kFill = 0x20;

// Window position the decoder reads for text position x.
uint16_t WindowPos(size_t x) {
    return static_cast<uint16_t>((x + kWindowSize - 16) & (kWindowSize - 1));
}

// Matches are sorted in blocks; each block also takes in the window before it.
constexpr size_t kBlock = size_t{1} << 18;

struct Key {
    // The 18 bytes at a text position, big-endian, so that integer order is
    // lexicographic order.
    uint64_t hi, mid;
    uint32_t lo;
    uint32_t pos;  // offset within the block
};

bool KeyLess(const Key& a, const Key& b) {
    if (a.hi != b.hi) return a.hi < b.hi;
    if (a.mid != b.mid) return a.mid < b.mid;
    return a.lo < b.lo;
}

size_t KeyCommonPrefix(const Key& a, const Key& b) {
    if (a.hi != b.hi) return __builtin_clzll(a.hi ^ b.hi) / 8;
    if (a.mid != b.mid) return 8 + __builtin_clzll(a.mid ^ b.mid) / 8;
    if (a.lo != b.lo) return 16 + (__builtin_clz(a.lo ^ b.lo) - 16) / 8;
    return kMaxMatch;
}

uint64_t LoadBigEndian(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// Ordered set of small integers with predecessor/successor queries: a bitmap
// plus summary bitmaps, one bit per non-empty 64-bit word of the level below.
class IntSet {
public:
    static constexpr size_t kNone = std::numeric_limits<size_t>::max();

    void Reset(size_t universe) {
        levels_.clear();
        size_t words = universe;
        do {
            words = (words + 63) / 64;
            levels_.emplace_back(words, 0);
        } while (words > 1);
    }
    void Insert(size_t v) {
        for (auto& level : levels_) {
            level[v >> 6] |= uint64_t{1} << (v & 63);
            v >>= 6;
        }
    }
    void Erase(size_t v) {
        for (auto& level : levels_) {
            level[v >> 6] &= ~(uint64_t{1} << (v & 63));
            if (level[v >> 6] != 0) break;
            v >>= 6;
        }
    }
    // Smallest member greater than v.
    size_t Next(size_t v) const {
        for (size_t l = 0; l < levels_.size(); ++l, v >>= 6) {
            uint64_t above = levels_[l][v >> 6] & (~uint64_t{1} << (v & 63));
            if (above == 0) continue;
            v = (v & ~size_t{63}) | __builtin_ctzll(above);
            while (l-- > 0) v = (v << 6) | __builtin_ctzll(levels_[l][v]);
            return v;
        }
        return kNone;
    }
    // Largest member smaller than v.
    size_t Prev(size_t v) const {
        for (size_t l = 0; l < levels_.size(); ++l, v >>= 6) {
            uint64_t below = levels_[l][v >> 6] & ((uint64_t{1} << (v & 63)) - 1);
            if (below == 0) continue;
            v = (v & ~size_t{63}) | (63 - __builtin_clzll(below));
            while (l-- > 0) v = (v << 6) | (63 - __builtin_clzll(levels_[l][v]));
            return v;
        }
        return kNone;
    }

private:
    std::vector<std::vector<uint64_t>> levels_;
};

class Text {
public:
    Text(const uint8_t* data, size_t size) : data_(data), size_(kPrefill + size) {}
    size_t size() const { return size_; }
    uint8_t operator[](size_t x) const { return x < kPrefill ? kFill : data_[x - kPrefill]; }

private:
    const uint8_t* data_;
    size_t size_;
};

// Longest match for text positions [begin, end), all of which have the full
// kMaxMatch bytes after them. Sorting the window's positions by their next 18
// bytes puts the longest match of any position next to it in that order, so
// only its two neighbours among the window's current members need comparing.
void MatchBlock(const Text& text, size_t begin, size_t end, Matches& out) {
    const size_t lo = begin - kWindowSize;
    const size_t count = end - lo;
    std::vector<uint8_t> bytes(count + kMaxMatch - 1);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = text[lo + i];

    std::vector<Key> keys(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = &bytes[i];
        keys[i] = Key{LoadBigEndian(p, 8), LoadBigEndian(p + 8, 8),
                      static_cast<uint32_t>(LoadBigEndian(p + 16, 2)), static_cast<uint32_t>(i)};
    }
    std::sort(keys.begin(), keys.end(), KeyLess);
    std::vector<uint32_t> rank(count);
    for (size_t r = 0; r < count; ++r) rank[keys[r].pos] = static_cast<uint32_t>(r);

    IntSet window;
    window.Reset(count);
    // The first kWindowSize positions only fill the window; the set always
    // holds the 4096 positions before i, so distance 4096 is included.
    for (size_t i = 0; i < count; ++i) {
        if (i > kWindowSize) window.Erase(rank[i - kWindowSize - 1]);
        if (i >= kWindowSize) {
            const size_t r = rank[i];
            size_t best = 0, source = 0;
            for (size_t c : {window.Prev(r), window.Next(r)}) {
                if (c == IntSet::kNone) continue;
                const size_t len = KeyCommonPrefix(keys[r], keys[c]);
                if (len > best) best = len, source = keys[c].pos;
            }
            const size_t t = lo + i - kPrefill;
            out.length[t] = static_cast<uint8_t>(best >= kMinMatch ? best : 0);
            out.window_pos[t] = WindowPos(lo + source);
        }
        window.Insert(rank[i]);
    }
}

// Positions too close to the end for an 18-byte key: few, so try every distance.
void MatchTail(const Text& text, size_t begin, Matches& out) {
    for (size_t x = begin; x < text.size(); ++x) {
        const size_t cap = text.size() - x;
        size_t best = 0, source = 0;
        for (size_t d = 1; d <= kWindowSize && best < cap; ++d) {
            size_t len = 0;
            while (len < cap && text[x - d + len] == text[x + len]) ++len;
            if (len > best) best = len, source = x - d;
        }
        out.length[x - kPrefill] = static_cast<uint8_t>(best >= kMinMatch ? best : 0);
        out.window_pos[x - kPrefill] = WindowPos(source);
    }
}

}  // namespace

void FindMatches(const uint8_t* data, size_t size, Matches& out) {
    out.length.assign(size, 0);
    out.window_pos.assign(size, 0);
    const Text text(data, size);
    const size_t keyed_end = std::max(kPrefill, text.size() - (kMaxMatch - 1));
    for (size_t begin = kPrefill; begin < keyed_end; begin += kBlock)
        MatchBlock(text, begin, std::min(begin + kBlock, keyed_end), out);
    MatchTail(text, keyed_end, out);
}

bool PackSzdd(const uint8_t* data, size_t size, std::vector<uint8_t>& out, PackStats* stats) {
    if (size > kMaxInputSize) return false;
    Matches m;
    FindMatches(data, size, m);

    // Cheapest encoding of the suffix from each position, computed backwards;
    // m.length[t] is overwritten with the choice: 1 = literal, else a length.
    constexpr uint64_t kLiteralBits = 9, kReferenceBits = 17;
    uint64_t cost[32];
    cost[size & 31] = 0;
    for (size_t t = size; t-- > 0;) {
        uint64_t best = cost[(t + 1) & 31] + kLiteralBits;
        uint8_t choice = 1;
        for (size_t len = kMinMatch; len <= m.length[t]; ++len) {
            const uint64_t c = cost[(t + len) & 31] + kReferenceBits;
            if (c < best) best = c, choice = static_cast<uint8_t>(len);
        }
        cost[t & 31] = best;
        m.length[t] = choice;
    }

    static const uint8_t kMagic[8] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};
    out.assign(kMagic, kMagic + 8);
    out.push_back('A');
    out.push_back(0);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
    out.reserve(kHeaderSize + size + size / 8 + 1);

    PackStats s;
    size_t control = 0;
    for (size_t t = 0, item = 0; t < size; ++item) {
        if (item % 8 == 0) {
            control = out.size();
            out.push_back(0);
        }
        const uint8_t choice = m.length[t];
        if (choice == 1) {
            out[control] |= static_cast<uint8_t>(1u << (item % 8));
            out.push_back(data[t]);
            ++s.literals;
            ++t;
        } else {
            const uint16_t pos = m.window_pos[t];
            out.push_back(static_cast<uint8_t>(pos & 0xFF));
            out.push_back(static_cast<uint8_t>(((pos >> 4) & 0xF0) | (choice - kMinMatch)));
            ++s.references;
            t += choice;
        }
    }
    s.bits = s.literals * kLiteralBits + s.references * kReferenceBits;
    if (stats) *stats = s;
    return true;
}

uint64_t MinimumBitsByChainSearch(const uint8_t* data, size_t size) {
    std::vector<uint8_t> text(kPrefill + size, kFill);
    std::copy(data, data + size, text.begin() + kPrefill);
    const size_t n = text.size();
    constexpr size_t kNil = std::numeric_limits<size_t>::max();
    // Chains link every position to the previous one whose first three bytes
    // hash alike, so walking one sees every candidate in the window.
    constexpr int kHashBits = 16;
    std::vector<size_t> head(size_t{1} << kHashBits, kNil), prev(n, kNil);
    std::vector<uint64_t> best(size + 1, std::numeric_limits<uint64_t>::max());
    best[0] = 0;
    for (size_t x = 0; x < n; ++x) {
        const size_t key = x + 3 <= n ? ((text[x] << 16 | text[x + 1] << 8 | text[x + 2]) * 2654435761u) >>
                                            (32 - kHashBits)
                                      : kNil;
        if (x >= kPrefill) {
            const size_t t = x - kPrefill;
            const size_t cap = std::min(kMaxMatch, n - x);
            size_t longest = 0;
            for (size_t j = key == kNil ? kNil : head[key]; j != kNil && x - j <= kWindowSize;
                 j = prev[j]) {
                size_t len = 0;
                while (len < cap && text[j + len] == text[x + len]) ++len;
                longest = std::max(longest, len);
                if (longest == cap) break;
            }
            best[t + 1] = std::min(best[t + 1], best[t] + 9);
            for (size_t len = kMinMatch; len <= longest; ++len)
                best[t + len] = std::min(best[t + len], best[t] + 17);
        }
        if (key != kNil) {
            prev[x] = head[key];
            head[key] = x;
        }
    }
    return best[size];
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace szdd
