// The helpers that reach the system: Windows (the tests run under Wine).
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
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

// A new folder under the system's temporary folder, in the engine's form of a path on Windows: '/'
// separators ("C:/users/.../Temp/zbtest-...").
static std::string NewFolder() {
    std::string base = stdfs::temp_directory_path().generic_string();
    if (!base.empty() && base.back() == '/') base.pop_back();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = base + "/zbtest-" + std::to_string(random() % 100000000);
        if (CreateDirectoryW(Wide(candidate).c_str(), nullptr)) return candidate;
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::TempDir() : path_(NewFolder()) {}

TempDir::~TempDir() {
    // The Unix side removes it: Wine shows a Unix link as a plain folder, and a walk of the Windows side
    // would go through links (and never end on one that leads back up).
    if (Run("rm -rf " + ShellQuote(path_)).exitCode == 0) return;
    std::error_code ec;
    stdfs::remove_all(stdfs::path(std::u8string(path_.begin(), path_.end())), ec);
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The tests run under Wine, which starts Unix programs as well: the oracles (Info-ZIP, 7-Zip, python3)
// run as on Linux, through /bin/sh. Wine hands a Unix program neither a pipe of ours nor back its exit
// status, so the shell writes its output and then its status into files of a folder of their own, the
// status last (renamed into place), and this waits for it.
CommandResult Run(const std::string& commandLine) {
    CommandResult result{-1, {}};
    const std::string folder = NewFolder();  // no TempDir: its clean-up runs the shell
    const std::string out = ShellQuote(folder + "/out");
    const std::string status = ShellQuote(folder + "/status");
    const std::string script = "(" + commandLine + ") >" + out + " 2>&1 </dev/null; echo $? >" + status +
                               ".new; mv " + status + ".new " + status;
    // With a shell server on the Unix side (scripts/windows_tests.sh starts one), the script goes to its
    // spool folder: no Unix program is started through Wine, which has been seen to end this program
    // silently right after starting one.
    if (const char* spool = std::getenv("ZB_SHELL_SPOOL"); spool && *spool) {
        const std::string job = std::string(spool) + "/" + folder.substr(folder.rfind('/') + 1);
        WriteFile(job + ".new", script + "\n");
        if (MoveFileExW(Wide(job + ".new").c_str(), Wide(job + ".sh").c_str(), 0)) {
            while (!PathExists(folder + "/status")) Sleep(2);
            result.output = ReadFile(folder + "/out");
            result.exitCode = std::atoi(ReadFile(folder + "/status").c_str());
        }
        std::error_code ec;
        stdfs::remove_all(stdfs::path(Wide(folder)), ec);
        return result;
    }
    // One argument by the system's rules: backslashes count only before a quote.
    std::string escaped;
    size_t backslashes = 0;
    for (char c : script) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        escaped.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        escaped += c;
    }
    escaped.append(backslashes * 2, '\\');
    std::wstring command = L"/bin/sh -c \"" + Wide(escaped) + L"\"";
    // The shell gets the null device as its standard handles: handed this program's own, Wine has been
    // seen to spoil the output file of the test program itself.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE none = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = none;
    PROCESS_INFORMATION process{};
    const bool started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr, &startup, &process);
    if (none != INVALID_HANDLE_VALUE) CloseHandle(none);
    if (started) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        while (!PathExists(folder + "/status")) Sleep(5);
        result.output = ReadFile(folder + "/out");
        result.exitCode = std::atoi(ReadFile(folder + "/status").c_str());
    }
    std::error_code ec;
    stdfs::remove_all(stdfs::path(Wide(folder)), ec);
    return result;
}

// A path of this program ("C:/users/...", "Z:/tmp/...") becomes the Unix path Wine keeps it at, so
// that the shell and the oracles find it; other words are quoted as they are.
std::string ShellQuote(const std::string& word) {
    std::string text = word;
    using UnixName = char* (*)(const wchar_t*);
    static const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    const bool windowsPath = word.size() >= 3 && std::isalpha(static_cast<unsigned char>(word[0])) && word[1] == ':' &&
                             (word[2] == '/' || word[2] == '\\');
    if (windowsPath && unixName) {
        if (char* name = unixName(Wide(word).c_str())) {
            text = name;
            HeapFree(GetProcessHeap(), 0, name);
            if ((word.back() == '/' || word.back() == '\\') && (text.empty() || text.back() != '/')) text += '/';
        }
    }
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

bool HaveTool(const std::string& program) {
    return Run("command -v " + ShellQuote(program) + " >/dev/null").exitCode == 0;
}

FileSizeLimit::FileSizeLimit(uint64_t) : oldSoft_(0), oldHandler_(nullptr) {
    throw std::runtime_error("Windows has no per-process file size limit");
}

FileSizeLimit::~FileSizeLimit() = default;

std::string DebrisOfAKilledMaker(const std::string&, const std::string&) { return ""; }

std::string DebrisOfAKilledRun(const std::string&) { return ""; }

}  // namespace testing_support
