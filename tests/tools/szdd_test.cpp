#include <gtest/gtest.h>
#include <mspack.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "szdd.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The decoder's ring window: all spaces, first write at 4096 - 16.
struct Window {
    uint8_t b[4096];
    unsigned w = 4080;
    Window() { std::memset(b, ' ', sizeof b); }
    void Put(uint8_t c) { b[w] = c, w = (w + 1) & 0xFFF; }
};

struct Decoded {
    bool ok = false;
    Bytes bytes;
    size_t literals = 0, references = 0;
    size_t whole_window = 0;  // references whose source is the write position
};

// Expands like LZ32's LZCopy: to the end of the stream, ignoring the length field.
Decoded Decode(const Bytes& f) {
    static const uint8_t kMagic[] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};
    Decoded d;
    if (f.size() < 14 || std::memcmp(f.data(), kMagic, 8) != 0 || f[8] != 'A' || f[9] != 0) return d;
    Window win;
    auto put = [&](uint8_t c) { win.Put(c), d.bytes.push_back(c); };
    for (size_t i = 14; i < f.size();) {
        const uint8_t control = f[i++];
        for (int bit = 0; bit < 8 && i < f.size(); ++bit) {
            if (control >> bit & 1) {
                put(f[i++]), ++d.literals;
                continue;
            }
            if (i + 1 >= f.size()) return d;  // half a reference
            unsigned pos = f[i] | (f[i + 1] & 0xF0) << 4, len = (f[i + 1] & 0x0F) + 3;
            i += 2, ++d.references, d.whole_window += pos == win.w;
            for (; len > 0; --len, pos = (pos + 1) & 0xFFF) put(win.b[pos]);
        }
    }
    d.ok = true;
    return d;
}

uint32_t HeaderLength(const Bytes& f) { return f[10] | f[11] << 8 | f[12] << 16 | uint32_t{f[13]} << 24; }

Bytes Pack(const Bytes& in, szdd::PackStats* stats = nullptr) {
    Bytes out;
    EXPECT_TRUE(szdd::PackSzdd(in.data(), in.size(), out, stats));
    return out;
}

Bytes MspackDecode(const Bytes& packed) {
    const auto dir = std::filesystem::temp_directory_path();
    const std::string in = dir / ("szdd_test_" + std::to_string(getpid()) + ".sz_");
    const std::string out = in + ".out";
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(packed.data()),
                                              static_cast<std::streamsize>(packed.size()));
    msszdd_decompressor* d = mspack_create_szdd_decompressor(nullptr);
    const int rc = d->decompress(d, in.c_str(), out.c_str());
    mspack_destroy_szdd_decompressor(d);
    std::ifstream f(out, std::ios::binary);
    Bytes result((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::remove(in.c_str());
    std::remove(out.c_str());
    EXPECT_EQ(rc, MSPACK_ERR_OK);
    return result;
}

// How many bytes from input offset t a reference at window position p would
// reproduce, copying byte by byte as the decoder does so that bytes it writes
// are what it reads next time round.
size_t SimulatedMatch(const Window& win, unsigned p, const Bytes& in, size_t t) {
    uint8_t written[18];
    size_t len = 0;
    for (; len < 18 && t + len < in.size(); ++len) {
        const unsigned q = (p + len) & 0xFFF, ahead = (q - win.w) & 0xFFF;
        const uint8_t c = ahead < len ? written[ahead] : win.b[q];
        if (c != in[t + len]) break;
        written[len] = c;
    }
    return len;
}

// Tries every window position at every offset.
std::vector<size_t> ExhaustiveLongest(const Bytes& in) {
    std::vector<size_t> longest(in.size());
    Window win;
    for (size_t t = 0; t < in.size(); ++t) {
        for (unsigned p = 0; p < 4096; ++p) longest[t] = std::max(longest[t], SimulatedMatch(win, p, in, t));
        win.Put(in[t]);
    }
    return longest;
}

uint64_t MinimumBits(const std::vector<size_t>& longest) {
    std::vector<uint64_t> best(longest.size() + 1, UINT64_MAX);
    best[0] = 0;
    for (size_t t = 0; t < longest.size(); ++t) {
        best[t + 1] = std::min(best[t + 1], best[t] + 9);
        for (size_t len = 3; len <= longest[t]; ++len) best[t + len] = std::min(best[t + len], best[t] + 17);
    }
    return best.back();
}

Bytes RandomBytes(size_t n, std::mt19937& rng, const std::string& alphabet = "") {
    Bytes b(n);
    for (auto& c : b) c = alphabet.empty() ? rng() & 0xFF : alphabet[rng() % alphabet.size()];
    return b;
}

Bytes TextBytes(size_t n, std::mt19937& rng) {
    static const char* kWords[] = {"the", "program", "setup", "file", "window", "of", "and",
                                   "copy", "license", "to", "Windows", "a", "is", "free"};
    std::string s;
    while (s.size() < n) s += std::string(kWords[rng() % 14]) + (rng() % 9 ? " " : ".\r\n");
    return Bytes(s.begin(), s.begin() + n);
}

// Text, noise, zero runs and space padding, as in executables.
Bytes MixedBytes(size_t n, std::mt19937& rng) {
    Bytes b;
    while (b.size() < n) {
        const size_t len = 1 + rng() % 3000, kind = rng() % 4;
        const Bytes part = kind == 0 ? TextBytes(len, rng) : kind == 1 ? RandomBytes(len, rng)
                                                                       : Bytes(len, kind == 2 ? 0 : ' ');
        b.insert(b.end(), part.begin(), part.end());
    }
    b.resize(n);
    return b;
}

TEST(SzddRoundTrip, EdgeInputsThroughLibmspack) {
    std::mt19937 rng(1);
    Bytes random = RandomBytes(50000, rng);
    // The repeat of a random block 4096 bytes on can only come from the
    // position about to be overwritten.
    Bytes far = RandomBytes(4096, rng);
    far.insert(far.end(), far.begin(), far.begin() + 500);
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"empty", {}}, {"one", {'x'}}, {"two", {'x', 'y'}}, {"three", {'x', 'y', 'z'}},
        {"three spaces", Bytes(3, ' ')}, {"spaces", Bytes(20000, ' ')}, {"zeros", Bytes(70000, 0)},
        {"random", random}, {"distance 4096", far}, {"text", TextBytes(40000, rng)},
        {"mixed", MixedBytes(400000, rng)},
    };
    for (const auto& [name, in] : cases) {
        SCOPED_TRACE(name);
        const Bytes packed = Pack(in);
        EXPECT_EQ(HeaderLength(packed), in.size());
        EXPECT_EQ(MspackDecode(packed), in);
        const Decoded d = Decode(packed);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.bytes, in);
        if (name == "spaces" || name == "three spaces") { EXPECT_EQ(d.literals, 0u); }
        if (name == "zeros") { EXPECT_LE(d.literals, 3u); }
        if (name == "distance 4096") { EXPECT_GT(d.whole_window, 0u); }
        if (name == "random") { EXPECT_LE(packed.size(), 14 + in.size() + (in.size() + 7) / 8); }
    }
}

TEST(SzddRoundTrip, RandomSmallInputsThroughReferenceDecoder) {
    std::mt19937 rng(2);
    const std::string alphabets[] = {"ab", " a", std::string("  ab\0", 5), "abcdefgh", ""};
    for (int i = 0; i < 400; ++i) {
        const size_t n = i % 50 == 0 ? 4000 + rng() % 2000 : rng() % 300;
        const Bytes in = RandomBytes(n, rng, alphabets[i % 5]);
        szdd::PackStats stats;
        const Bytes packed = Pack(in, &stats);
        const Decoded d = Decode(packed);
        ASSERT_TRUE(d.ok) << "input " << i;
        ASSERT_EQ(d.bytes, in) << "input " << i;
        ASSERT_EQ(HeaderLength(packed), in.size());
        ASSERT_EQ(stats.literals, d.literals);
        ASSERT_EQ(stats.references, d.references);
    }
}

TEST(SzddOptimality, AgreesWithExhaustiveSearch) {
    std::mt19937 rng(3);
    std::vector<Bytes> inputs = {TextBytes(2500, rng), RandomBytes(2500, rng, "ab "),
                                 MixedBytes(3000, rng), RandomBytes(4500, rng, "abcdefghijklmnop")};
    // Values alternately rising and falling, which orders badly for a match finder.
    Bytes zigzag;
    for (int i = 0; i < 2000; ++i) zigzag.push_back(static_cast<uint8_t>(i % 2 ? i / 2 : 255 - i / 2) % 7);
    inputs.push_back(zigzag);
    // A repeat just past the window, mutated so several window positions compete.
    Bytes far = RandomBytes(4096, rng, "abcd");
    for (int i = 0; i < 700; ++i) far.push_back(rng() % 16 ? far[far.size() - 4096] : 'e');
    inputs.push_back(far);
    for (int i = 0; i < 60; ++i) inputs.push_back(RandomBytes(i % 30, rng, "  a"));

    for (size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        const Bytes& in = inputs[i];
        const std::vector<size_t> longest = ExhaustiveLongest(in);

        szdd::Matches m;
        szdd::FindMatches(in.data(), in.size(), m);
        Window win;
        for (size_t t = 0; t < in.size(); ++t) {
            const size_t expected = longest[t] >= 3 ? longest[t] : 0;
            ASSERT_EQ(m.length[t], expected) << "offset " << t;
            if (expected) {
                ASSERT_EQ(SimulatedMatch(win, m.window_pos[t], in, t), expected) << "offset " << t;
            }
            win.Put(in[t]);
        }

        szdd::PackStats stats;
        const Bytes packed = Pack(in, &stats);
        const uint64_t bits = MinimumBits(longest);
        EXPECT_EQ(stats.bits, bits);
        EXPECT_EQ(packed.size(), 14 + (bits + 7) / 8);
        EXPECT_EQ(szdd::MinimumBitsByChainSearch(in.data(), in.size()), bits);
    }
}

// Large enough to span several sorting blocks of the match finder.
TEST(SzddOptimality, LargeInputsAgreeWithChainSearch) {
    std::mt19937 rng(4);
    for (const Bytes& in : {MixedBytes(700000, rng), TextBytes(300000, rng)}) {
        szdd::PackStats stats;
        const Bytes packed = Pack(in, &stats);
        EXPECT_EQ(stats.bits, szdd::MinimumBitsByChainSearch(in.data(), in.size()));
        EXPECT_EQ(Decode(packed).bytes, in);
    }
}

}  // namespace
