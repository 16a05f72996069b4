#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "szdd.h"

namespace {

namespace fs = std::filesystem;

class SzddpackCli : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "szddpack_cli_XXXXXX").string();
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    static void WriteFile(const std::string& path, const std::string& content) { std::ofstream(path) << content; }
    static std::string ReadFile(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }

    // Runs szddpack; returns its exit status and leaves stderr in stderr_.
    int Run(const std::string& args) {
        const std::string err = Path("stderr.txt");
        const int rc = std::system((std::string(SZDDPACK_PATH) + " " + args + " 2>" + err).c_str());
        stderr_ = ReadFile(err);
        fs::remove(err);
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
    std::string stderr_;
};

TEST_F(SzddpackCli, WritesWhatTheLibraryPacks) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i % 97) + " of the readme\n";
    WriteFile(Path("in.txt"), text);
    ASSERT_EQ(Run(Path("in.txt") + " " + Path("in.tx_")), 0) << stderr_;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(szdd::PackSzdd(reinterpret_cast<const uint8_t*>(text.data()), text.size(), expected));
    EXPECT_EQ(ReadFile(Path("in.tx_")), std::string(expected.begin(), expected.end()));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"in.tx_", "in.txt"}));  // no temporary left
}

TEST_F(SzddpackCli, RecordHoldsTheLengthsAndCrcsOfBothFiles) {
    // 123456789 is the check input of CRC-32: CBF43926.
    WriteFile(Path("in.txt"), "123456789");
    const std::string args = Path("in.sum") + " " + Path("in.txt") + " " + Path("in.tx_");
    ASSERT_EQ(Run("--record TXTFILE " + args), 0) << stderr_;
    const std::string packed = ReadFile(Path("in.tx_"));
    const uint32_t packed_crc =
        szdd::Crc32(reinterpret_cast<const uint8_t*>(packed.data()), packed.size());
    char expected[128];
    std::snprintf(expected, sizeof expected, "{\"TXTFILE\", %zuu, 0x%08Xu, 9u, 0xCBF43926u},\n",
                  packed.size(), static_cast<unsigned>(packed_crc));
    EXPECT_EQ(ReadFile(Path("in.sum")), expected);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"in.sum", "in.tx_", "in.txt"}));

    // A name that could not stand in the generated source is refused.
    EXPECT_NE(Run("--record 'A\"B' " + Path("x.sum") + " " + Path("in.txt") + " " + Path("x")), 0);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"in.sum", "in.tx_", "in.txt"}));
}

TEST_F(SzddpackCli, MissingInputFailsAndKeepsOldOutput) {
    WriteFile(Path("out.sz_"), "old");
    EXPECT_NE(Run(Path("absent") + " " + Path("out.sz_")), 0);
    EXPECT_NE(stderr_.find("absent"), std::string::npos) << stderr_;
    EXPECT_EQ(ReadFile(Path("out.sz_")), "old");
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.sz_"});
}

TEST_F(SzddpackCli, UnwritableOutputFailsCleanly) {
    WriteFile(Path("in"), "some input some input");
    fs::create_directory(Path("sub"));
    for (const std::string& out : {Path("no/such/dir/out"), Path("in/out"), Path("sub")}) {
        SCOPED_TRACE(out);
        EXPECT_NE(Run(Path("in") + " " + out), 0);
        EXPECT_FALSE(stderr_.empty());
        EXPECT_EQ(Entries(), (std::vector<std::string>{"in", "sub"}));
        EXPECT_TRUE(fs::is_empty(Path("sub")));
    }
}

TEST_F(SzddpackCli, RejectsInputOverTheLengthField) {
    const std::string big = Path("big");
    WriteFile(big, "");
    // Sparse, so it costs no disk space; szddpack must refuse it before reading.
    if (truncate(big.c_str(), static_cast<off_t>(szdd::kMaxInputSize) + 1) != 0)
        GTEST_SKIP() << "no sparse files here";
    EXPECT_NE(Run(big + " " + Path("big.sz_")), 0);
    EXPECT_NE(stderr_.find("too large"), std::string::npos) << stderr_;
    EXPECT_EQ(Entries(), std::vector<std::string>{"big"});
}

}  // namespace
