// The helpers that reach the system: Windows (the tests run under Wine).
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

#include "tests/support/test_support.h"

namespace testing_support {

namespace stdfs = std::filesystem;

namespace {

std::wstring Wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                      static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

}  // namespace

TempDir::TempDir() {
    // The engine's form of a path on Windows: '/' separators ("C:/users/.../Temp/zbtest-...").
    std::string base = stdfs::temp_directory_path().generic_string();
    if (!base.empty() && base.back() == '/') base.pop_back();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = base + "/zbtest-" + std::to_string(random() % 100000000);
        if (CreateDirectoryW(Wide(candidate).c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The shell and the oracles are Linux programs; the Windows tests run none.
CommandResult Run(const std::string&) { return {-1, "no shell under Windows"}; }

std::string ShellQuote(const std::string& word) { return "\"" + word + "\""; }

bool HaveTool(const std::string&) { return false; }

FileSizeLimit::FileSizeLimit(uint64_t) : oldSoft_(0), oldHandler_(nullptr) {
    throw std::runtime_error("Windows has no per-process file size limit");
}

FileSizeLimit::~FileSizeLimit() = default;

std::string DebrisOfAKilledMaker(const std::string&, const std::string&) { return ""; }

}  // namespace testing_support
