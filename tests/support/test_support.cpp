#include "tests/support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace stdfs = std::filesystem;

namespace {

// A path of the tests' UTF-8 text (Windows takes narrow names in its ANSI code page otherwise).
stdfs::path Native(const std::string& path) { return stdfs::path(std::u8string(path.begin(), path.end())); }

}  // namespace

void MakeDirs(const std::string& path) {
    std::error_code ec;
    stdfs::create_directories(Native(path), ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    const stdfs::path p = Native(path);
    if (p.has_parent_path()) {
        std::error_code ec;
        stdfs::create_directories(p.parent_path(), ec);
    }
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in;
    try {
        in.open(Native(path), std::ios::binary);
    } catch (const std::exception&) {
        return {};  // a name that is no UTF-8 cannot name a file on Windows
    }
    if (!in) return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

namespace {

uint32_t Next(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}
}  // namespace

std::string RandomBytes(size_t n, uint32_t seed) {
    uint32_t state = seed ? seed : 0x9E3779B9u;
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(Next(state) >> 24);
    return out;
}

std::string TextBytes(size_t n, uint32_t seed) {
    static const char* kWords[] = {"the",   "log",    "contact", "band", "mode",  "QSO",   "award",
                                   "DXCC",  "signal", "report",  "59",   "CQ",    "call",  "grid",
                                   "Hamburg", "Vienna", "73",    "QSL",  "card",  "frequency"};
    uint32_t state = seed ? seed : 12345;
    std::string out;
    out.reserve(n + 16);
    int column = 0;
    while (out.size() < n) {
        const char* w = kWords[Next(state) % (sizeof kWords / sizeof kWords[0])];
        out += w;
        column += 1;
        if (column == 12) {
            out += '\n';
            column = 0;
        } else {
            out += ' ';
        }
    }
    out.resize(n);
    return out;
}

std::string SharedDir() { return ZB_SHARED_DIR; }
std::string SourceDir() { return ZB_SOURCE_DIR; }
std::string BinaryDir() { return ZB_BINARY_DIR; }

}  // namespace testing_support
