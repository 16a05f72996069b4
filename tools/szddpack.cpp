// szddpack: compresses a file into the SZDD format that LZ32 and `expand` read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "szdd.h"

namespace {

const char kUsage[] =
    "usage: szddpack INPUT OUTPUT       write INPUT as the SZDD file OUTPUT\n"
    "       szddpack --record NAME RECORD INPUT OUTPUT\n"
    "                                   the same, and write to RECORD the row of the\n"
    "                                   setup program's integrity table for resource NAME\n"
    "       szddpack --cost INPUT       print sizes and packing time, write nothing\n"
    "       szddpack --min-bits INPUT   print the minimum stream size found by a slow\n"
    "                                   independent search, to check --cost against\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "szddpack: %s\n", message.c_str());
    return 1;
}

std::string ErrnoText(const std::string& path) { return path + ": " + std::strerror(errno); }

bool ReadInput(const char* path, std::vector<uint8_t>& data, std::string& error) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open input " + ErrnoText(path);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (!ok) {
        error = "cannot stat input " + ErrnoText(path);
    } else if (S_ISDIR(st.st_mode)) {
        error = std::string("input ") + path + " is a directory";
        ok = false;
    }
    const std::string too_large = std::string("input ") + path +
                                  " is too large: SZDD stores the length in 32 bits, so at most " +
                                  std::to_string(szdd::kMaxInputSize) + " bytes";
    // Check the size up front so a huge file is rejected without reading it.
    if (ok && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > szdd::kMaxInputSize) {
        error = too_large;
        ok = false;
    }
    if (ok && S_ISREG(st.st_mode)) data.reserve(static_cast<size_t>(st.st_size));
    uint8_t chunk[1 << 16];
    while (ok) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = "cannot read input " + ErrnoText(path);
            ok = false;
        } else if (got == 0) {
            break;
        } else if (data.size() + static_cast<size_t>(got) > szdd::kMaxInputSize) {
            error = too_large;  // a pipe or a file that grew
            ok = false;
        } else {
            data.insert(data.end(), chunk, chunk + got);
        }
    }
    close(fd);
    return ok;
}

// Name of the temporary output, for the signal handler to remove.
char g_temp_path[4096];

void RemoveTempAndDie(int sig) {
    if (g_temp_path[0] != '\0') unlink(g_temp_path);
    signal(sig, SIG_DFL);
    raise(sig);
}

// Writes beside the target and renames at the end, so OUTPUT is either the
// complete file or untouched.
bool WriteOutput(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        // Renaming over a directory fails anyway; over a device it would replace the node.
        error = "output " + path + " exists and is not a regular file";
        return false;
    }
    std::string temp = path + ".tmp-XXXXXX";
    if (temp.size() >= sizeof g_temp_path) {
        error = "output path too long: " + path;
        return false;
    }
    const int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        error = "cannot create output " + ErrnoText(temp);
        return false;
    }
    std::memcpy(g_temp_path, temp.c_str(), temp.size() + 1);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, RemoveTempAndDie);

    // mkstemp creates 0600; give the file the mode a plain create would.
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0;
    if (!ok) error = "cannot set mode of " + ErrnoText(temp);
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) {
            error = "cannot write output " + ErrnoText(temp);
            ok = false;
        } else {
            done += static_cast<size_t>(put);
        }
    }
    if (close(fd) != 0 && ok) {
        error = "cannot write output " + ErrnoText(temp);
        ok = false;
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot create output " + ErrnoText(path);
        ok = false;
    }
    if (!ok) unlink(temp.c_str());
    g_temp_path[0] = '\0';
    return ok;
}

// Packs INPUT into OUTPUT and writes RECORD: one initialiser of the setup
// program's table of what it carries, {name, packed length, packed CRC-32,
// expanded length, expanded CRC-32}. The numbers come from the bytes written,
// so the table cannot drift from the resources.
int PackAndRecord(const char* name, const char* record, const char* input, const char* output) {
    bool plain = name[0] != '\0' && std::strlen(name) <= 64;
    for (const char* c = name; plain && *c != '\0'; ++c)
        plain = std::isalnum(static_cast<unsigned char>(*c)) || *c == '_';
    if (!plain) return Fail(std::string("resource name ") + name + " is not a short identifier");
    std::vector<uint8_t> data;
    std::string error;
    if (!ReadInput(input, data, error)) return Fail(error);
    std::vector<uint8_t> packed;
    if (!szdd::PackSzdd(data.data(), data.size(), packed)) return Fail("input too large for SZDD");
    char line[256];
    std::snprintf(line, sizeof line, "{\"%s\", %zuu, 0x%08Xu, %zuu, 0x%08Xu},\n", name,
                  packed.size(), static_cast<unsigned>(szdd::Crc32(packed.data(), packed.size())),
                  data.size(), static_cast<unsigned>(szdd::Crc32(data.data(), data.size())));
    const std::vector<uint8_t> text(line, line + std::strlen(line));
    if (!WriteOutput(output, packed, error) || !WriteOutput(record, text, error)) return Fail(error);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 6 && std::strcmp(argv[1], "--record") == 0)
        return PackAndRecord(argv[2], argv[3], argv[4], argv[5]);
    if (argc != 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string mode = argv[1];
    const bool cost = mode == "--cost", min_bits = mode == "--min-bits";
    if (!cost && !min_bits && mode.size() > 1 && mode[0] == '-') {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const char* input = cost || min_bits ? argv[2] : argv[1];

    std::vector<uint8_t> data;
    std::string error;
    if (!ReadInput(input, data, error)) return Fail(error);

    if (min_bits) {
        const uint64_t bits = szdd::MinimumBitsByChainSearch(data.data(), data.size());
        std::printf("input=%zu min_bits=%llu min_output=%llu\n", data.size(),
                    static_cast<unsigned long long>(bits),
                    static_cast<unsigned long long>(szdd::kHeaderSize + (bits + 7) / 8));
        return 0;
    }

    std::vector<uint8_t> packed;
    szdd::PackStats stats;
    const auto start = std::chrono::steady_clock::now();
    if (!szdd::PackSzdd(data.data(), data.size(), packed, &stats))
        return Fail("input too large for SZDD");
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    if (cost) {
        std::printf("input=%zu output=%zu bits=%llu literals=%llu references=%llu seconds=%.4f\n",
                    data.size(), packed.size(), static_cast<unsigned long long>(stats.bits),
                    static_cast<unsigned long long>(stats.literals),
                    static_cast<unsigned long long>(stats.references), elapsed.count());
        return 0;
    }
    if (!WriteOutput(argv[2], packed, error)) return Fail(error);
    return 0;
}
